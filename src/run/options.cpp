#include "run/options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::int32_t integer_value(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

double floating_value(const char* text)
{
    return std::strtod(text, nullptr);
}

static bool is_path(const char* value)
{
#ifdef _WIN32
    return std::strchr(value, '/') != nullptr || std::strchr(value, '\\') != nullptr;
#else
    return std::strchr(value, '/') != nullptr;
#endif
}

static start_choice refuse_argument(const char* argument)
{
    // An argument of one character (or none) has no option letter to name.
    if (argument[0] == '\0' || argument[1] == '\0')
        std::printf("unknown argument: %s\n", argument);
    else
        std::printf("unknown argument: -%c\n", argument[1]);
    std::printf("type imutap without any parameters for help");
    std::printf("\n");
    return start_choice::refused;
}

static bool takes_value(char letter)
{
    return std::strchr("mcbtfd", letter) != nullptr;
}

start_choice read_command_line(int argc, char** argv, run_options& options)
{
    if (std::strcmp(argv[1], "--help") == 0) return start_choice::help;
    if (std::strcmp(argv[1], "--version") == 0) return start_choice::version;

    for (int position = 2; position < argc;) {
        const char* argument = argv[position];
        if (argument[0] == '\0' || argument[1] == '\0')
            return refuse_argument(argument);
        const char letter = argument[1];
        if (letter == 'D') {
            options.dos_time = true;
            position += 1;
            continue;
        }
        if (!takes_value(letter))
            return refuse_argument(argument);
        if (position + 1 >= argc) {
            std::printf("option -%c needs a value\n", letter);
            return start_choice::refused;
        }
        const char* value = argv[position + 1];
        switch (letter) {
        case 'm': options.mode = value[0]; break;
        case 'c':
            options.port_digit = value[0];
            options.port_path = is_path(value) ? value : nullptr;
            break;
        case 'b': options.baud_rate = integer_value(value); break;
        case 't': options.dt = floating_value(value); break;
        case 'f': options.output_period = floating_value(value); break;
        case 'd': options.decimation = integer_value(value); break;
        default: break;
        }
        position += 2;
    }

    if (options.decimation < 1) {
        std::printf("decimation must be at least 1 (-d %d)\n", static_cast<int>(options.decimation));
        return start_choice::refused;
    }
    // The unit acknowledges a mode letter with the letter, taken as a signed
    // character, minus 32: a control character or a byte above 0x7F can never
    // be acknowledged, and the unit could never be brought up.
    if (static_cast<signed char>(options.mode) - 32 < 0) {
        std::printf("mode letter 0x%02x cannot be acknowledged by the unit (-m)\n",
                    static_cast<unsigned>(static_cast<unsigned char>(options.mode)));
        return start_choice::refused;
    }
    return start_choice::run;
}
