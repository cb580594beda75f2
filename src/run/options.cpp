#include "run/options.h"

#include "output/messages.h"
#include "serial/device.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace imutap {

std::int32_t integer_value(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

static bool is_digit(char character)
{
    return character >= '0' && character <= '9';
}

// White space as the "C" locale knows it, whatever the process's locale is.
static bool is_white_space(char character)
{
    return character == ' ' || (character >= '\t' && character <= '\r');
}

// For a decimal number beyond the range of a double: whether it is too large
// (true) or too small (false). `digits` runs from the first digit to the end
// of the exponent. The number is below 1 exactly when its first non-zero digit
// stands after the point once the exponent has moved it.
static bool beyond_largest(const char* digits, const char* end)
{
    long place = 0; // of the first non-zero digit: 1 for the units, 0 for tenths
    bool integer_part = true;
    bool found = false;
    const char* at = digits;
    for (; at != end && *at != 'e' && *at != 'E'; ++at) {
        if (*at == '.') {
            integer_part = false;
        } else if (found) {
            if (integer_part)
                ++place;
        } else if (*at != '0') {
            found = true;
            place = integer_part ? 1 : place;
        } else if (!integer_part) {
            --place;
        }
    }
    long exponent = 0;
    if (at != end) {
        ++at;
        const bool negative = *at == '-';
        if (*at == '+' || *at == '-')
            ++at;
        for (; at != end; ++at)
            if (exponent < 1000000)
                exponent = exponent * 10 + (*at - '0');
        if (negative)
            exponent = -exponent;
    }
    return place + exponent > 0;
}

double floating_value(const char* text)
{
    const char* at = text;
    while (is_white_space(*at))
        ++at;
    const bool negative = *at == '-';
    if (*at == '+' || *at == '-')
        ++at;

    // digits [ "." digits ] with at least one digit, then an exponent only
    // when a digit follows its letter and sign.
    const char* const digits = at;
    bool any_digit = false;
    for (; is_digit(*at); ++at)
        any_digit = true;
    if (*at == '.')
        for (++at; is_digit(*at); ++at)
            any_digit = true;
    if (!any_digit)
        return 0.0;
    if (*at == 'e' || *at == 'E') {
        const char* exponent = at + 1;
        if (*exponent == '+' || *exponent == '-')
            ++exponent;
        if (is_digit(*exponent)) {
            while (is_digit(*exponent))
                ++exponent;
            at = exponent;
        }
    }

    // The span holds decimal digits, a point and an exponent only, so no
    // other spelling can be taken; from_chars rounds correctly and ignores
    // the locale.
    double value = 0.0;
    if (std::from_chars(digits, at, value, std::chars_format::general).ec ==
        std::errc::result_out_of_range)
        value = beyond_largest(digits, at) ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

static bool is_path(const char* value)
{
#ifdef _WIN32
    return std::strchr(value, '/') != nullptr || std::strchr(value, '\\') != nullptr;
#else
    return std::strchr(value, '/') != nullptr;
#endif
}

static start_choice refuse_with_hint()
{
    std::printf(refusal_hint);
    std::printf(refusal_hint_end);
    return start_choice::refused;
}

static start_choice refuse_argument(const char* argument)
{
    // An argument of one character (or none) has no option letter to name.
    if (argument[0] == '\0' || argument[1] == '\0')
        std::printf(unknown_argument_whole, argument);
    else
        std::printf(unknown_argument_letter, argument[1]);
    return refuse_with_hint();
}

static bool takes_value(char letter)
{
    return std::strchr("mcbtfd", letter) != nullptr;
}

start_choice read_command_line(int argc, char** argv, run_options& options)
{
    if (std::strcmp(argv[1], "--help") == 0)
        return start_choice::help;
    if (std::strcmp(argv[1], "--version") == 0)
        return start_choice::version;

    // The -t and -f values as given, for the refusals below.
    const char* dt_text = "";
    const char* period_text = "";
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
            std::printf(option_needs_value, letter);
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
        case 't':
            options.dt = floating_value(value);
            dt_text = value;
            break;
        case 'f':
            options.output_period = floating_value(value);
            period_text = value;
            break;
        case 'd': options.decimation = integer_value(value); break;
        default: break;
        }
        position += 2;
    }

    if (options.decimation < 1) {
        std::printf(decimation_below_one, static_cast<int>(options.decimation));
        return start_choice::refused;
    }
    // A letter the unit can never acknowledge could never bring it up.
    if (expected_acknowledgement(options.mode) < 0) {
        std::printf(mode_never_acknowledged,
                    static_cast<unsigned>(static_cast<unsigned char>(options.mode)));
        return start_choice::refused;
    }
    // The unit never takes one of its own commands as a mode.
    if (is_unit_command(options.mode)) {
        std::printf(mode_is_command, options.mode);
        return refuse_with_hint();
    }
    // A number too large for a double reads as infinite: no line could carry it.
    if (!std::isfinite(options.dt)) {
        std::printf(dt_out_of_range, dt_text);
        return start_choice::refused;
    }
    if (!std::isfinite(options.output_period)) {
        std::printf(period_out_of_range, period_text);
        return start_choice::refused;
    }
    // With a dt of 0 the reconstructed time never moves on, so an output
    // period above 0 would let no line through. The clock time of -D does
    // not use the period.
    if (options.output_period > 0.0 && options.dt == 0.0 && !options.dos_time) {
        std::printf(period_without_dt, period_text, dt_text);
        return refuse_with_hint();
    }
    return start_choice::run;
}

} // namespace imutap
