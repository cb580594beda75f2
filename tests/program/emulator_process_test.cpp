// Runs the built imutap-emu and talks to it through its pty, as the logger would.
#include "files.h"
#include "packets.h"
#include "process.h"
#include "pty_pair.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int start_timeout_ms = 3000;
constexpr int exit_timeout_ms = 3000;

// Starts imutap-emu with args; with `capture` its standard output (fd 1) or
// error (fd 2) goes into `emu.said`.
void start_emulator(process& emu, std::vector<std::string> args, int capture = -1)
{
    args.insert(args.begin(), IMUTAP_EMU_PATH);
    spawn_setup setup;
    if (capture < 0) {
        emu.pid = spawn(args, setup);
        ASSERT_GT(emu.pid, 0);
        return;
    }
    if (capture == STDERR_FILENO) {
        // Standard output, unused, joins standard error in the pipe.
        setup.error_to_output = true;
    }
    ASSERT_TRUE(start_piped(emu, args, setup));
}

// Opens the unit's tty as the logger does: raw, 8 data bits, no echo.
int open_unit(const std::string& link)
{
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

void send(int fd, const std::string& text)
{
    ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
}

// Checks a stream of packets of one length: all good, counters one apart.
void expect_packet_run(const bytes& stream, std::size_t length)
{
    ASSERT_EQ(stream.size() % length, 0u) << "not a whole number of packets";
    for (std::size_t at = 0; at < stream.size(); at += length) {
        EXPECT_TRUE(good_packet(&stream[at], length)) << "packet at byte " << at;
        if (at != 0) {
            EXPECT_EQ(counter_of(&stream[at], length),
                      (counter_of(&stream[at - length], length) + 1) & 0xFFFF);
        }
    }
}

struct EmulatorProcess : ::testing::Test {
    temp_dir dir{"imutap-emu-test"};
    std::string link = dir.path + "/unit";
    process emu;
    int fd = -1;

    // Starts the emulator on `link` and opens the unit.
    void start_and_open(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-q", "-l", link});
        start_emulator(emu, args);
        ASSERT_TRUE(wait_for_link(link, start_timeout_ms));
        fd = open_unit(link);
        ASSERT_GE(fd, 0) << std::strerror(errno);
    }
    void TearDown() override
    {
        if (fd >= 0)
            close(fd);
        end_process(emu);
    }
};

TEST_F(EmulatorProcess, ReadyLineNamesLinkAndPtyAndTheLinkGoesAtExit)
{
    start_emulator(emu, {"-l", link}, STDOUT_FILENO);
    ASSERT_TRUE(wait_for_link(link, start_timeout_ms));
    std::string target = std::filesystem::read_symlink(link);
    EXPECT_EQ(stop_process(emu, exit_timeout_ms), 0);
    EXPECT_EQ(emu.said,
              "imutap-emu: unit on " + link + " (" + target + "), mode a, 100 packets/s\n");
    EXPECT_TRUE(std::regex_match(target, std::regex("/dev/pts/[0-9]+")));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(EmulatorProcess, BadOptionsEndWithStatusTwoAndAReason)
{
    start_emulator(emu, {"--nope"}, STDERR_FILENO);
    EXPECT_EQ(wait_exit(emu, exit_timeout_ms), 2);
    EXPECT_NE(emu.said.find("unknown option '--nope'"), std::string::npos);
}

TEST_F(EmulatorProcess, AnswersModeSelectionAndGet)
{
    start_and_open({});
    send(fd, "a");
    EXPECT_EQ(read_for(fd, 1000, 1), bytes{'A'});
    send(fd, "G");
    bytes p = read_for(fd, 1000, 30);
    ASSERT_EQ(p.size(), 30u);
    EXPECT_TRUE(good_packet(p.data(), 30));
    send(fd, "c");
    EXPECT_EQ(read_for(fd, 1000, 1), bytes{'C'});
    send(fd, "G");
    p = read_for(fd, 1000, 24);
    ASSERT_EQ(p.size(), 24u);
    EXPECT_TRUE(good_packet(p.data(), 24));
    EXPECT_TRUE(read_for(fd, 50).empty()) << "one packet per G";
}

TEST_F(EmulatorProcess, ContinuousOutputStopsAtAPacketBoundaryOnP)
{
    start_and_open({"-r", "1000"});
    send(fd, "C");
    bytes stream = read_for(fd, 1000, 300);
    ASSERT_EQ(stream.size(), 300u);
    send(fd, "P");
    bytes rest = read_for(fd, 50);
    stream.insert(stream.end(), rest.begin(), rest.end());
    expect_packet_run(stream, 30);
    EXPECT_TRUE(read_for(fd, 50).empty());
}

TEST_F(EmulatorProcess, StreamingAtPowerOnTalksBeforeAnyCommand)
{
    start_and_open({"--streaming", "-r", "1000"});
    bytes stream = read_for(fd, 1000, 90);
    ASSERT_EQ(stream.size(), 90u);
    expect_packet_run(stream, 30);
}

TEST_F(EmulatorProcess, CountLimitStreamsExactlyNPacketsThenNothing)
{
    start_and_open({"-r", "0", "-n", "7"});
    send(fd, "cC");
    bytes stream = read_for(fd, 1000, 1 + 7 * 24);
    ASSERT_EQ(stream.size(), 1u + 7u * 24u);
    EXPECT_EQ(stream[0], 'C');
    expect_packet_run(bytes(stream.begin() + 1, stream.end()), 24);
    send(fd, "Ga");
    EXPECT_TRUE(read_for(fd, 50).empty());
}

TEST_F(EmulatorProcess, CommandLogHasOneTimedLinePerByte)
{
    std::string log = dir.path + "/commands.log";
    start_and_open({"--log-commands", log});
    send(fd, "Pa");
    EXPECT_EQ(read_for(fd, 1000, 1), bytes{'A'});
    // Bytes are stamped when the emulator reads them; its answer shows it has, so the
    // pause is measured from a stamp already taken.
    std::this_thread::sleep_for(milliseconds(60));
    send(fd, "G");
    EXPECT_EQ(read_for(fd, 1000, 30).size(), 30u);
    EXPECT_EQ(stop_process(emu, exit_timeout_ms), 0);

    std::ifstream in(log);
    std::vector<long long> times;
    std::vector<std::string> codes;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex("([0-9]+) ([0-9a-f]{2})"))) << line;
        times.push_back(std::stoll(m[1]));
        codes.push_back(m[2]);
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"50", "61", "47"}));
    ASSERT_EQ(times.size(), 3u);
    EXPECT_LE(times[0], times[1]);
    EXPECT_GE(times[2] - times[1], 60'000) << "microseconds";
}

TEST_F(EmulatorProcess, ReplugHangsUpAndComesBackOnANewPtyInThePowerOnState)
{
    start_and_open({"-r", "0", "--replug", "2:300"});
    send(fd, "cC");
    bytes stream = read_for(fd, 1000, 1 + 48);
    ASSERT_EQ(stream.size(), 49u);
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    std::uint8_t byte;
    EXPECT_LE(read(fd, &byte, 1), 0) << "the old pty is hung up";
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "unplugged: the link has gone first";

    // Closed at once: the new pty may well be given the old one's number.
    close(fd);
    fd = -1;
    ASSERT_TRUE(wait_for_link(link, start_timeout_ms)) << "plugged in again";
    fd = open_unit(link);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(read_for(fd, 30).empty()) << "silent at power-on";
    send(fd, "G");
    bytes g = read_for(fd, 1000, 30);
    ASSERT_EQ(g.size(), 30u) << "angle mode again";
    EXPECT_TRUE(good_packet(g.data(), 30));
    EXPECT_EQ(counter_of(g.data(), 30), 2u) << "the counter goes on";
}

TEST_F(EmulatorProcess, ExclusiveModeEndsWhenTheLoggerCloses)
{
    start_and_open({});
    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
    close(fd);
    fd = -1;
    int exclusive = 1;
    auto until = clock_type::now() + milliseconds(1000);
    while (exclusive != 0 && clock_type::now() < until) {
        int probe = open(link.c_str(), O_RDWR | O_NOCTTY); // root may open it anyway
        if (probe >= 0) {
            ioctl(probe, TIOCGEXCL, &exclusive);
            close(probe);
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    EXPECT_EQ(exclusive, 0);
}

TEST_F(EmulatorProcess, RunsACommandOnTheUnitAndGivesItTheKeysOnceAllIsRead)
{
    // The command plays a tiny logger: start the stream, read 5 packets, then its keys.
    std::string script = "exec 3<>\"$1\"; printf C >&3; head -c 150 <&3 >'" + dir.path +
                         "/out'; cat >'" + dir.path + "/keys'; exit 3";
    start_emulator(emu, {"-q", "-l", link, "-r", "0", "-n", "5", "--keys", "q", "--", "/bin/sh",
                         "-c", script});
    EXPECT_EQ(wait_exit(emu, exit_timeout_ms), 3);
    std::string out = read_file(dir.path + "/out");
    ASSERT_EQ(out.size(), 150u);
    expect_packet_run(bytes(out.begin(), out.end()), 30);
    EXPECT_EQ(read_file(dir.path + "/keys"), "q");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(EmulatorProcess, CommandKilledBySignalGivesStatus128PlusSignal)
{
    start_emulator(emu, {"-q", "-l", link, "--", "/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(wait_exit(emu, exit_timeout_ms), 128 + SIGTERM);
}

} // namespace
