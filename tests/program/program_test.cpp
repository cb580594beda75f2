// The built program, run as a process in a directory of its own: what it
// prints, its exit status, and which files it leaves.
#include "files.h"
#include "process.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A serial port that is sure not to exist: the run ends where it opens it.
const std::string no_port = "/nonexistent/imutap-test-port";
const std::string port_missing = "could not open serial port, 2\n";

// The version is the project's, as CMake hands it over.
const std::string banner = "AHRS Inertial Unit data reading " IMUTAP_VERSION "\n";
const std::string help =
    "usage: imutap <file> <options>\n"
    "Available options are: \n"
    "-m <mode> where <mode> is f, a, r, or c. Default is angle mode (a).\n"
    "-c <comm port> where the default is COM1 (1)\n"
    "-b <baud rate> where the default is 38400 (38400)\n"
    "-t <dt> sets dt time between counts for time output (default prints counts)\n"
    "-f <sec> sets the time output data rate, default is full rate(0)\n"
    "-d <output sample decimation rate> where the default is full rate(0)\n"
    "-D replaces counts output and dt output with DOS time\n"
    "   The -t option requires the user know the delta-t between samples\n"
    "   The -f option requires the -t option set, otherwise will use 0\n"
    "   The -D option should be used with -d option (inaccurate at full rate)\n";
const std::string angle_header = "   ROLL   PITCH     YAW   GYROX   GYROY   GYROZ  ACCELX  ACCELY  "
                                 "ACCELZ  MAGX   MAGY   MAGZ  TEMP\n";
const std::string sensor_header =
    "   GYROX   GYROY   GYROZ   ACCELX  ACCELY  ACCELZ  MAGX    MAGY    MAGZ  TEMP\n";
const std::string hint = "type imutap without any parameters for help\n";

class Program : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.path.empty()) << std::strerror(errno);
    }

    // Runs the program in the test's directory. Its standard input stays
    // open until it ends, holding `input`; killed after five seconds.
    run_result run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), IMUTAP_PROGRAM);
        return run_to_end(args, &input, dir_.path, 5000);
    }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string contents(const std::string& name) const
    {
        return read_file((fs::path(dir_.path) / name).string());
    }

    temp_dir dir_{"imutap-run"};
};

using names = std::vector<std::string>;

} // namespace

TEST_F(Program, WithoutArgumentsShowsHelpAndWaitsForAKey)
{
    const run_result o = run({}, "\n");
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, banner + help);
    EXPECT_EQ(files(), names{});
}

TEST_F(Program, HelpAndVersionReadNoKeyAndCreateNoFile)
{
    // Standard input stays open and empty: a read would never return.
    const run_result h = run({"--help"});
    ASSERT_TRUE(h.ended);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.said, banner + help);
    const run_result v = run({"--version"});
    ASSERT_TRUE(v.ended);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.said, banner);
    EXPECT_EQ(files(), names{});
}

// A run whose port cannot be opened leaves the last run's log exactly as it
// was, its time included; a log file that was missing is created empty.
TEST_F(Program, HeaderFollowsTheModeAndAMissingPortLeavesTheLogAsItWas)
{
    struct row {
        std::vector<std::string> options;
        const std::string& header;
    };
    const row rows[] = {
        {{}, angle_header},
        {{"-m", "a"}, angle_header},
        {{"-m", "c"}, sensor_header},
        {{"-m", "r"}, sensor_header},
        {{"-m", "f"}, sensor_header},
        {{"-m", "A"}, sensor_header},
        {{"-m", "abc"}, angle_header},
        {{"/m", "c"}, sensor_header},
        {{"-mode", "r"}, sensor_header},
        {{"-m", "c", "-m", "a"}, angle_header},
        {{"-D", "-m", "r", "-D"}, sensor_header},
        {{"-b", "fast", "-t", "0.01", "-f", "0.5", "-d", "4"}, angle_header},
    };
    const std::string last_run = "1 0.5 2.5 3\n";
    const fs::path log = fs::path(dir_.path) / "run.log";
    bool existing = false;
    for (const row& r : rows) {
        // Every other run finds the log file of an earlier run.
        existing = !existing;
        fs::file_time_type written{};
        if (existing) {
            std::ofstream(log) << last_run;
            written = fs::last_write_time(log) - std::chrono::hours(1);
            fs::last_write_time(log, written);
        }
        std::vector<std::string> args = {"run.log", "-c", no_port};
        args.insert(args.end(), r.options.begin(), r.options.end());
        const run_result o = run(args);
        ASSERT_TRUE(o.ended);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.said, banner + r.header + port_missing);
        EXPECT_EQ(files(), names{"run.log"});
        EXPECT_EQ(contents("run.log"), existing ? last_run : "");
        if (existing) {
            EXPECT_EQ(fs::last_write_time(log), written);
        }
        fs::remove(log);
    }
    // The first argument is the log file name, whatever it looks like.
    const run_result o = run({"-m", "-c", no_port});
    EXPECT_EQ(o.said, banner + angle_header + port_missing);
    EXPECT_EQ(files(), names{"-m"});
}

TEST_F(Program, RefusedStartLeavesNoLogFile)
{
    struct row {
        std::vector<std::string> args;
        std::string printed; // after the banner; empty: any one line
    };
    const row rows[] = {
        {{"run.log", "-c", no_port, "-x", "1"}, "unknown argument: -x\n" + hint},
        {{"run.log", "-c", no_port, "-M", "c"}, "unknown argument: -M\n" + hint},
        {{"run.log", "-c", no_port, "x"}, "unknown argument: x\n" + hint},
        {{"run.log", "-c", no_port, "-m"}, "option -m needs a value\n"},
        {{"run.log", "-c", no_port, "-d", "0"}, "decimation must be at least 1 (-d 0)\n"},
        {{"run.log", "-c", no_port, "-m", "\x01"}, ""},
        {{"run.log", "-c", no_port, "-m", "C"},
         "mode letter C is a command of the unit, not a mode (-m)\n" + hint},
        {{"run.log", "-c", no_port, "-t", "1e400"}, "value out of range: -t 1e400\n"},
        {{"run.log", "-c", no_port, "-t", "0", "-f", "2"},
         "-f 2 needs a dt above 0: with -t 0 no line would ever be written\n" + hint},
        {{"missing/run.log", "-c", no_port},
         angle_header + "could not create log file missing/run.log: " + std::strerror(ENOENT) +
             "\n"},
        // A port not there yet (an adapter to be plugged in) named as the log:
        // refused by its path, and nothing is created where it will appear.
        {{"ttyUSB9", "-c", "./ttyUSB9"}, angle_header + "log file ttyUSB9 is the serial port\n"},
        {{"./ttyUSB9", "-c", "./ttyUSB9"},
         angle_header + "log file ./ttyUSB9 is the serial port\n"},
    };
    for (const row& r : rows) {
        const run_result o = run(r.args);
        ASSERT_TRUE(o.ended);
        EXPECT_EQ(o.status, 1) << r.printed;
        ASSERT_EQ(o.said.substr(0, banner.size()), banner);
        const std::string rest = o.said.substr(banner.size());
        if (r.printed.empty())
            EXPECT_TRUE(!rest.empty() && rest.find('\n') == rest.size() - 1) << rest;
        else
            EXPECT_EQ(rest, r.printed);
        EXPECT_EQ(files(), names{}) << r.printed;
    }
}

TEST_F(Program, StandardOutputsOwnFileIsRefusedAsTheLogFile)
{
    // Standard output into a file, emptied or appended to, and the log file
    // named as that file through any path or link: refused before anything
    // reaches the log, where the console's lines would have gone.
    fs::create_symlink("out.txt", fs::path(dir_.path) / "link");
    for (const bool append : {false, true})
        for (const std::string& name :
             std::vector<std::string>{"out.txt", "./out.txt", "link", dir_.path + "/out.txt"}) {
            SCOPED_TRACE(name);
            const std::string out = (fs::path(dir_.path) / "out.txt").string();
            const int output =
                open(out.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
            ASSERT_GE(output, 0);
            spawn_setup setup;
            setup.output = output;
            setup.dir = dir_.path;
            process child;
            child.pid = spawn({IMUTAP_PROGRAM, name, "-c", no_port}, setup);
            close(output);
            EXPECT_EQ(wait_exit(child, 5000), 1);
            EXPECT_EQ(contents("out.txt"),
                      banner + angle_header + "log file " + name + " is standard output\n");
            EXPECT_EQ(files(), (names{"link", "out.txt"}));
            fs::remove(out);
        }
    // Standard output into a pipe is no file: the log goes there as before.
    const run_result o = run({"/dev/stdout", "-c", no_port});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, banner + angle_header + port_missing);
}
