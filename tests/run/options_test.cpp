// read_command_line: the option rules, on argument lists built here.
#include "run/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

using namespace imutap;

namespace {

const std::string hint = "type imutap without any parameters for help\n";

struct reading {
    start_choice choice;
    std::string settings; // every field, as "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"
    std::string printed;
};

// Reads "imutap" followed by args.
reading read(std::vector<std::string> args)
{
    args.insert(args.begin(), "imutap");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    run_options o;
    testing::internal::CaptureStdout();
    const start_choice choice = read_command_line(static_cast<int>(args.size()), argv.data(), o);
    const std::string printed = testing::internal::GetCapturedStdout();
    char settings[200];
    std::snprintf(settings, sizeof settings, "m=%c c=%c%s b=%d t=%.17g f=%.17g d=%d D=%d", o.mode,
                  o.port_digit, o.port_path ? (std::string(" path=") + o.port_path).c_str() : "",
                  static_cast<int>(o.baud_rate), o.dt, o.output_period,
                  static_cast<int>(o.decimation), o.dos_time ? 1 : 0);
    return {choice, settings, printed};
}

} // namespace

TEST(CommandLine, AcceptedOptions)
{
    struct row {
        std::vector<std::string> args;
        const char* settings;
    };
    const row rows[] = {
        {{"run.log"}, "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"run.log", "-m", "c", "-c", "3", "-b", "9600", "-t", "0.01", "-f", "0.5", "-d", "5",
          "-D"},
         "m=c c=3 b=9600 t=0.01 f=0.5 d=5 D=1"},
        // Only the second character is the letter; the rest is ignored.
        {{"log", "/m", "r"}, "m=r c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "+m", "r"}, "m=r c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-mode", "c"}, "m=c c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // The value is the next argument, never attached to the letter.
        {{"log", "-mr", "c"}, "m=c c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // Character values are the first character of the value.
        {{"log", "-m", "abc"}, "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-c", "12"}, "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-c", "/nonexistent/port"},
         "m=a c=/ path=/nonexistent/port b=38400 t=-1 f=0 d=1 D=0"},
        // Later options overwrite earlier ones.
        {{"log", "-d", "5", "-d", "2"}, "m=a c=1 b=38400 t=-1 f=0 d=2 D=0"},
        {{"log", "-m", "c", "-m", "a"}, "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // -D takes no value, wherever it stands.
        {{"log", "-D", "-m", "c"}, "m=c c=1 b=38400 t=-1 f=0 d=1 D=1"},
        {{"log", "-m", "c", "-D", "-d", "3"}, "m=c c=1 b=38400 t=-1 f=0 d=3 D=1"},
        {{"log", "-d", "3", "-D"}, "m=a c=1 b=38400 t=-1 f=0 d=3 D=1"},
        // The first argument is the log file name, whatever it looks like.
        {{"-m", "-d", "4"}, "m=a c=1 b=38400 t=-1 f=0 d=4 D=0"},
        // Numbers like strtol, saturated to 32 bits, and decimal numbers; never reported.
        {{"log", "-b", "fast"}, "m=a c=1 b=0 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", " \t+42x"}, "m=a c=1 b=42 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", "99999999999"}, "m=a c=1 b=2147483647 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", "-99999999999"}, "m=a c=1 b=-2147483648 t=-1 f=0 d=1 D=0"},
        {{"log", "-d", "7.9"}, "m=a c=1 b=38400 t=-1 f=0 d=7 D=0"},
        {{"log", "-t", " -2.5e-3s", "-f", ".5"},
         "m=a c=1 b=38400 t=-0.0025000000000000001 f=0.5 d=1 D=0"},
        {{"log", "-t", "1e300"}, "m=a c=1 b=38400 t=1.0000000000000001e+300 f=0 d=1 D=0"},
        {{"log", "-t", "abc"}, "m=a c=1 b=38400 t=0 f=0 d=1 D=0"},
        // The unit can acknowledge a blank (0x20 - 32) and 0x7F.
        {{"log", "-m", " "}, "m=  c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-m", "\x7f"}, "m=\x7f c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // Other letters without a packet layout go on to the unit.
        {{"log", "-m", "f"}, "m=f c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-m", "p"}, "m=p c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // A dt of 0 alone takes the clock's time; the period needs a dt above
        // 0 only for the reconstructed time, not for the clock's.
        {{"log", "-t", "0"}, "m=a c=1 b=38400 t=0 f=0 d=1 D=0"},
        {{"log", "-t", "0", "-f", "0.5", "-D"}, "m=a c=1 b=38400 t=0 f=0.5 d=1 D=1"},
        {{"log", "-t", "nan", "-f", "inf"}, "m=a c=1 b=38400 t=0 f=0 d=1 D=0"},
        {{"log", "-f", "0.5"}, "m=a c=1 b=38400 t=-1 f=0.5 d=1 D=0"},
    };
    for (const row& r : rows) {
        const reading got = read(r.args);
        EXPECT_EQ(got.choice, start_choice::run) << r.settings;
        EXPECT_EQ(got.settings, r.settings);
        EXPECT_EQ(got.printed, "") << r.settings;
    }
    EXPECT_EQ(read({"--help", "-m", "c"}).choice, start_choice::help);
    EXPECT_EQ(read({"--version"}).choice, start_choice::version);
}

TEST(CommandLine, FloatingValuesAreDecimalNumbersOnly)
{
    const double infinity = std::numeric_limits<double>::infinity();
    struct row {
        const char* text;
        double value;
    };
    const row rows[] = {
        // Decimal forms.
        {".5", 0.5},
        {"5.", 5.0},
        {"-0", -0.0},
        {"1e-3", 0.001},
        {"+2E2", 200.0},
        {" \t\n\v\f\r0.25", 0.25},
        {"2.5e-3s", 0.0025},
        {"7,5", 7.0},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"3E-x", 3.0},
        {"0.1", 0.1},
        {"-.75e+1", -7.5},
        {"3.14159265358979323846264338327950288", 3.141592653589793},
        // Text without a number.
        {"", 0.0},
        {".", 0.0},
        {"-", 0.0},
        {"e5", 0.0},
        {"+-1", 0.0},
        {"- 1", 0.0},
        // No other spellings, in any letter case: the number ends where they begin.
        {"inf", 0.0},
        {"INF", 0.0},
        {"-Infinity", 0.0},
        {"infinity", 0.0},
        {"nan", 0.0},
        {"NaN", 0.0},
        {"-nan(1)", 0.0},
        {"0x10", 0.0},
        {"0X1p4", 0.0},
        {"1x", 1.0},
        // Beyond a double's range.
        {"1e400", infinity},
        {"-1e400", -infinity},
        {"123456e999999999999", infinity},
        {"0.00001e-320", 0.0},
        {"1e-400", 0.0},
        {"1000e-326", 1e-323},
    };
    for (const row& r : rows) {
        const double got = floating_value(r.text);
        EXPECT_EQ(got, r.value) << '"' << r.text << '"';
        EXPECT_EQ(std::signbit(got), std::signbit(r.value)) << '"' << r.text << '"';
    }
}

TEST(CommandLine, UnknownLettersAreRefused)
{
    const std::string known = "Dbcdfmt";
    for (char letter = '!'; letter <= '~'; ++letter) {
        if (known.find(letter) != std::string::npos)
            continue;
        const reading r = read({"log", std::string("-") + letter, "1"});
        EXPECT_EQ(r.choice, start_choice::refused) << letter;
        EXPECT_EQ(r.printed, std::string("unknown argument: -") + letter + "\n" + hint);
    }
}

TEST(CommandLine, OtherRefusals)
{
    struct row {
        std::vector<std::string> args;
        std::string printed;
    };
    const row rows[] = {
        // The letter is named with a dash whatever the first character was,
        // and reading stops at the refused argument.
        {{"log", "/M", "c"}, "unknown argument: -M\n" + hint},
        {{"log", "-x", "-d", "0"}, "unknown argument: -x\n" + hint},
        {{"log", "--help"}, "unknown argument: --\n" + hint},
        // No option letter: the argument is named as given.
        {{"log", "-"}, "unknown argument: -\n" + hint},
        {{"log", ""}, "unknown argument: \n" + hint},
        {{"log", "-m", "c", "x"}, "unknown argument: x\n" + hint},
        // A value option with nothing after it.
        {{"log", "-m"}, "option -m needs a value\n"},
        {{"log", "-d", "3", "/t"}, "option -t needs a value\n"},
        {{"log", "-bx"}, "option -b needs a value\n"},
        {{"log", "-D", "-c"}, "option -c needs a value\n"},
        // Decimation below 1, whatever gave it.
        {{"log", "-d", "0"}, "decimation must be at least 1 (-d 0)\n"},
        {{"log", "-d", "-3"}, "decimation must be at least 1 (-d -3)\n"},
        {{"log", "-d", "none"}, "decimation must be at least 1 (-d 0)\n"},
        {{"log", "-d", "-99999999999"}, "decimation must be at least 1 (-d -2147483648)\n"},
        // The unit's own commands are no modes.
        {{"log", "-m", "P"}, "mode letter P is a command of the unit, not a mode (-m)\n" + hint},
        {{"log", "-m", "Get"}, "mode letter G is a command of the unit, not a mode (-m)\n" + hint},
        {{"log", "-m", "C"}, "mode letter C is a command of the unit, not a mode (-m)\n" + hint},
        // A time that overflows a double.
        {{"log", "-t", "1e400"}, "value out of range: -t 1e400\n"},
        {{"log", "-t", "0.1", "-f", "-2e999"}, "value out of range: -f -2e999\n"},
        // With a dt of 0 the time column never moves on past an output period.
        {{"log", "-t", "0", "-f", "0.5"},
         "-f 0.5 needs a dt above 0: with -t 0 no line would ever be written\n" + hint},
        {{"log", "-f", "1e-9", "-t", "-0"},
         "-f 1e-9 needs a dt above 0: with -t -0 no line would ever be written\n" + hint},
    };
    for (const row& r : rows) {
        const reading got = read(r.args);
        EXPECT_EQ(got.choice, start_choice::refused) << r.printed;
        EXPECT_EQ(got.printed, r.printed);
    }
    // A mode letter whose acknowledgement (the letter as a signed character,
    // minus 32) is below zero: the unit could never be brought up.
    for (const char* value : {"", "\x1f", "\x01", "\x80", "\xe9", "\xff"}) {
        const reading r = read({"log", "-m", value});
        EXPECT_EQ(r.choice, start_choice::refused) << int{static_cast<unsigned char>(value[0])};
        EXPECT_EQ(r.printed.find('\n'), r.printed.size() - 1) << r.printed;
    }
}
