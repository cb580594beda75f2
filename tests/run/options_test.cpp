// read_command_line: the option rules, on argument lists built here.
#include "run/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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
                  static_cast<int>(o.baud_rate), o.dt, o.output_period, static_cast<int>(o.decimation),
                  o.dos_time ? 1 : 0);
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
        {{"run.log", "-m", "c", "-c", "3", "-b", "9600", "-t", "0.01", "-f", "0.5", "-d", "5", "-D"},
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
        {{"log", "-c", "/nonexistent/port"}, "m=a c=/ path=/nonexistent/port b=38400 t=-1 f=0 d=1 D=0"},
        // Later options overwrite earlier ones.
        {{"log", "-d", "5", "-d", "2"}, "m=a c=1 b=38400 t=-1 f=0 d=2 D=0"},
        {{"log", "-m", "c", "-m", "a"}, "m=a c=1 b=38400 t=-1 f=0 d=1 D=0"},
        // -D takes no value, wherever it stands.
        {{"log", "-D", "-m", "c"}, "m=c c=1 b=38400 t=-1 f=0 d=1 D=1"},
        {{"log", "-m", "c", "-D", "-d", "3"}, "m=c c=1 b=38400 t=-1 f=0 d=3 D=1"},
        {{"log", "-d", "3", "-D"}, "m=a c=1 b=38400 t=-1 f=0 d=3 D=1"},
        // The first argument is the log file name, whatever it looks like.
        {{"-m", "-d", "4"}, "m=a c=1 b=38400 t=-1 f=0 d=4 D=0"},
        // Numbers like strtol, saturated to 32 bits, and strtod; never reported.
        {{"log", "-b", "fast"}, "m=a c=1 b=0 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", " \t+42x"}, "m=a c=1 b=42 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", "99999999999"}, "m=a c=1 b=2147483647 t=-1 f=0 d=1 D=0"},
        {{"log", "-b", "-99999999999"}, "m=a c=1 b=-2147483648 t=-1 f=0 d=1 D=0"},
        {{"log", "-d", "7.9"}, "m=a c=1 b=38400 t=-1 f=0 d=7 D=0"},
        {{"log", "-t", " -2.5e-3s", "-f", ".5"}, "m=a c=1 b=38400 t=-0.0025000000000000001 f=0.5 d=1 D=0"},
        {{"log", "-t", "1e300"}, "m=a c=1 b=38400 t=1.0000000000000001e+300 f=0 d=1 D=0"},
        {{"log", "-t", "abc"}, "m=a c=1 b=38400 t=0 f=0 d=1 D=0"},
        // The unit can acknowledge a blank (0x20 - 32) and 0x7F.
        {{"log", "-m", " "}, "m=  c=1 b=38400 t=-1 f=0 d=1 D=0"},
        {{"log", "-m", "\x7f"}, "m=\x7f c=1 b=38400 t=-1 f=0 d=1 D=0"},
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
