#include "serial/port.h"

#include "pty_port.h"
#include "run/findings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asm/termbits.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace imutap;

namespace {

using clock_type = std::chrono::steady_clock;

std::vector<std::uint8_t> counting_bytes(std::size_t count, std::uint8_t first = 0)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::string open_message(const port_choice& choice, bool& opened_ok)
{
    serial_port port;
    testing::internal::CaptureStdout();
    port_failure failure;
    opened_ok = open_port(choice, port, failure);
    if (!opened_ok)
        say_port_failure(failure);
    std::fflush(stdout);
    std::string said = testing::internal::GetCapturedStdout();
    if (opened_ok)
        close_port(port);
    return said;
}

using ReadPacket = pty_port;
using OpenPort = pty_port;

TEST_F(ReadPacket, JoinsPiecesThatArriveApartInOrder)
{
    const std::vector<std::uint8_t> bytes = counting_bytes(30, 0xF0);
    write_all(pty.master, {bytes.begin(), bytes.begin() + 8});
    std::thread late([&] {
        // Several read timeouts pass before the rest comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        write_all(pty.master, {bytes.begin() + 8, bytes.end()});
    });
    std::uint8_t packet[256] = {};
    EXPECT_EQ(read_packet(port, 30, packet), serial_status::ok);
    late.join();
    EXPECT_EQ(std::vector<std::uint8_t>(packet, packet + 30), bytes);
}

TEST_F(ReadPacket, LeavesWhatFollowsForTheNextCallAndLengthZeroReadsNothing)
{
    const std::vector<std::uint8_t> bytes = counting_bytes(64);
    write_all(pty.master, bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::uint8_t packet[256] = {};
    ASSERT_EQ(read_packet(port, 30, packet), serial_status::ok);
    EXPECT_EQ(std::vector<std::uint8_t>(packet, packet + 30),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 30));

    packet[0] = 0xAA;
    ASSERT_EQ(read_packet(port, 0, packet), serial_status::ok);
    EXPECT_EQ(packet[0], 0xAA);

    ASSERT_EQ(read_packet(port, 24, packet), serial_status::ok);
    EXPECT_EQ(std::vector<std::uint8_t>(packet, packet + 24),
              std::vector<std::uint8_t>(bytes.begin() + 30, bytes.begin() + 54));
    // The rest comes by the short reads of the exchange, in order.
    std::uint8_t rest[255];
    const port_read_result got = read_some(port, rest, 255);
    EXPECT_EQ(std::vector<std::uint8_t>(rest, rest + got.count),
              std::vector<std::uint8_t>(bytes.begin() + 54, bytes.end()));
}

// A stream many times the read-ahead buffer, written as fast as the pty
// takes it in chunks of every size around the buffer's, read back by
// packets of both lengths and by the exchange's short reads in turn: every
// byte comes once, in order.
TEST_F(ReadPacket, AFastStreamComesThroughTheReadAheadWholeAndInOrder)
{
    constexpr std::size_t total = 300000;
    std::vector<std::uint8_t> stream(total);
    for (std::size_t i = 0; i < total; ++i) // no period that a lost block could hide in
        stream[i] = static_cast<std::uint8_t>((i ^ (i >> 8) ^ (i >> 16)) * 131 + 7);
    std::thread unit([&] {
        const std::size_t chunks[] = {1, 29, 30, 31, 4095, 4096, 4097, 8191, 24, 6000, 2};
        std::size_t at = 0;
        for (std::size_t k = 0; at < total; ++k) {
            const std::size_t size = std::min(chunks[k % std::size(chunks)], total - at);
            const ssize_t written = write(pty.master, stream.data() + at, size);
            if (written <= 0)
                return; // the reader gave up and closed the pty
            at += static_cast<std::size_t>(written);
        }
    });

    std::vector<std::uint8_t> got;
    got.reserve(total);
    std::uint8_t packet[256];
    const std::uint32_t lengths[] = {30, 24, 30, 30, 1, 255};
    for (std::size_t k = 0; got.size() < total; ++k) {
        const auto left = static_cast<std::uint32_t>(total - got.size());
        const std::uint32_t length = std::min(lengths[k % std::size(lengths)], left);
        if (k % 7 == 6) {
            // An exchange's read takes what is buffered or queued, at most what it asks.
            const port_read_result part = read_some(port, packet, length);
            got.insert(got.end(), packet, packet + part.count);
            if (part.gone)
                break;
        } else if (read_packet(port, length, packet) == serial_status::ok) {
            got.insert(got.end(), packet, packet + length);
        } else {
            break;
        }
    }
    close_port(port);
    close_pty_pair(pty);
    unit.join();
    ASSERT_EQ(got.size(), total);
    const auto first_difference = std::mismatch(got.begin(), got.end(), stream.begin()).first;
    EXPECT_EQ(first_difference, got.end())
        << "first wrong byte at " << (first_difference - got.begin());
}

TEST_F(ReadPacket, ASilentUnitEndsTheReadAfterAboutASecond)
{
    write_all(pty.master, counting_bytes(8));
    std::uint8_t packet[256];
    const auto start = clock_type::now();
    EXPECT_EQ(read_packet(port, 30, packet), serial_status::silent);
    const auto waited = clock_type::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
}

TEST_F(ReadPacket, AVanishedDeviceIsLostNotSilent)
{
    // The master side closed (reads fail), and a hang-up as an unplugged USB
    // adapter gives (reads find nothing at once): either is a lost port.
    for (const bool hang_up : {false, true}) {
        SCOPED_TRACE(hang_up ? "hang-up" : "master closed");
        ASSERT_NO_FATAL_FAILURE(reopen());
        if (!hang_up)
            close_pty_pair(pty);
        else if (ioctl(static_cast<int>(port.handle.os), TIOCVHANGUP) != 0)
            GTEST_SKIP() << "a hang-up needs CAP_SYS_ADMIN";
        std::uint8_t packet[256];
        const auto start = clock_type::now();
        EXPECT_EQ(read_packet(port, 30, packet), serial_status::lost);
        EXPECT_LT(clock_type::now() - start, std::chrono::milliseconds(500));
    }
}

TEST_F(OpenPort, SetsTheLineRawAndByteTransparentAtTheRateAsked)
{
    ASSERT_NO_FATAL_FAILURE(reopen(12345)); // not a standard rate
    struct termios2 line;
    ASSERT_EQ(ioctl(static_cast<int>(port.handle.os), TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, 12345u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);

    // Every byte value passes through unchanged, both ways.
    const std::vector<std::uint8_t> all = counting_bytes(256);
    write_all(pty.master, all);
    std::vector<std::uint8_t> got(256);
    ASSERT_EQ(read_packet(port, 256, got.data()), serial_status::ok);
    EXPECT_EQ(got, all);
    const std::uint8_t odd[] = {'\r', '\n', 0x11, 0x13, 0x03, 0x7F, 0x00, 0xFF};
    for (std::uint8_t byte : odd) {
        bool gone = false;
        ASSERT_TRUE(port_write(port.handle, &byte, 1, gone));
    }
    EXPECT_EQ(read_for(pty.master, 200, sizeof odd),
              std::vector<std::uint8_t>(odd, odd + sizeof odd));
}

TEST_F(OpenPort, RefusalsCarryTheSystemsNumber)
{
    bool ok = true;
    port_choice missing;
    missing.path = "/nonexistent/imutap-test-port";
    EXPECT_EQ(open_message(missing, ok), "could not open serial port, 2\n");
    EXPECT_FALSE(ok);

    // Only "COM1" to "COM9" name ports; "COMx" and "COM" alone do not exist.
    for (char digit : {'x', '0', '\0'}) {
        port_choice named;
        named.digit = digit;
        EXPECT_EQ(open_message(named, ok), "could not open serial port, 2\n");
        EXPECT_FALSE(ok);
    }

    // Not a terminal at all.
    char file_name[] = "/tmp/imutap-port-test-XXXXXX";
    const int fd = mkstemp(file_name);
    ASSERT_GE(fd, 0);
    close(fd);
    port_choice plain_file;
    plain_file.path = file_name;
    EXPECT_EQ(open_message(plain_file, ok), "could not open serial port, 25\n");
    unlink(file_name);

    close_port(port);
    for (std::int32_t rate : {0, -9600}) {
        port_choice bad_rate;
        bad_rate.path = pty.slave_path.c_str();
        bad_rate.baud_rate = rate;
        EXPECT_EQ(open_message(bad_rate, ok), "error setting comm: 22\n");
        EXPECT_FALSE(ok);
    }
}

TEST_F(OpenPort, ASecondLoggerOnTheSameDeviceIsRefusedUntilTheFirstCloses)
{
    port_choice same;
    same.path = pty.slave_path.c_str();
    bool ok = true;
    const std::string said = open_message(same, ok);
    EXPECT_FALSE(ok);
    // EBUSY from the exclusive flag, or EWOULDBLOCK from the lock for root.
    EXPECT_TRUE(said == "could not open serial port, 16\n" ||
                said == "could not open serial port, 11\n")
        << said;
    close_port(port);
    EXPECT_EQ(open_message(same, ok), "");
    EXPECT_TRUE(ok);
}

} // namespace
