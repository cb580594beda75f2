#include "serial/device.h"

#include "packets.h"
#include "pty_pair.h"
#include "run/findings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace imutap;

namespace {

using clock_type = std::chrono::steady_clock;

// A small unit on the master side, run on its own thread: it records every
// command byte with its arrival time and answers as told.
struct fake_unit {
    int fd = -1;
    bool answer_mode = true;
    int wakes_after_ms = 0; // letters before then, from the first, pass unanswered
    clock_type::time_point first_letter{};
    bool answer_get = true;
    std::size_t get_reply_size = 0; // 0: one packet of the mode
    std::atomic<bool> streaming{false};
    std::atomic<bool> done{false};
    std::mutex lock;
    std::vector<std::pair<clock_type::time_point, std::uint8_t>> received;
    std::uint8_t mode = 'a';
};

std::vector<std::uint8_t> good_packet(std::uint8_t mode)
{
    std::vector<std::uint8_t> packet(mode == 'a' ? 30 : 24);
    packet[0] = 0xFF;
    for (std::size_t i = 1; i + 1 < packet.size(); ++i)
        packet[i] = static_cast<std::uint8_t>(i * 7);
    packet.back() = packet_sum(packet.data(), packet.size());
    return packet;
}

void serve(fake_unit& unit)
{
    while (!unit.done) {
        struct pollfd p {
            unit.fd, POLLIN, 0
        };
        if (poll(&p, 1, 1) > 0) {
            std::uint8_t byte;
            if (read(unit.fd, &byte, 1) != 1)
                continue;
            {
                std::lock_guard<std::mutex> hold(unit.lock);
                unit.received.emplace_back(clock_type::now(), byte);
            }
            if (byte == 'P') {
                unit.streaming = false;
            } else if (byte == 'C') {
                unit.streaming = true;
            } else if (byte == 'G') {
                if (!unit.answer_get)
                    continue;
                std::vector<std::uint8_t> reply = good_packet(unit.mode);
                if (unit.get_reply_size != 0)
                    reply.resize(unit.get_reply_size, 0x55);
                write_all(unit.fd, reply);
            } else if (unit.answer_mode) {
                const auto now = clock_type::now();
                if (unit.first_letter == clock_type::time_point{})
                    unit.first_letter = now;
                if (now - unit.first_letter < std::chrono::milliseconds(unit.wakes_after_ms))
                    continue;
                unit.mode = byte;
                write_all(unit.fd, {static_cast<std::uint8_t>(byte - 32)});
            }
        } else if (unit.streaming) {
            write_all(unit.fd, good_packet(unit.mode));
        }
    }
}

struct exchange_run {
    pty_pair pty;
    serial_port port;
    fake_unit unit;
    std::thread thread;
    std::uint32_t length = 12345;
    std::string said;
};

void start(exchange_run& run)
{
    run.pty = open_pty_pair();
    port_choice choice;
    choice.path = run.pty.slave_path.c_str();
    port_failure failure;
    ASSERT_TRUE(open_port(choice, run.port, failure));
    run.unit.fd = run.pty.master;
    run.thread = std::thread(serve, std::ref(run.unit));
}

void say_trouble(void* context, unit_note what)
{
    say_unit_trouble(*static_cast<unit_note*>(context), what, 'a');
}

// The exchange as the run has it: its troubles said once, the unit's answer
// to "G" judged, and `stop` asked once a round.
serial_status exchange(exchange_run& run, char mode, const interruption& stop = {})
{
    unit_note last_said = unit_note::none;
    run.port.handle.stop = stop;
    testing::internal::CaptureStdout();
    const device_result result =
        init_device(run.port, mode, 38400, unit_trouble_hook{say_trouble, &last_said});
    if (result.answered)
        check_and_say_packet(mode, result.answer, result.packet_length);
    if (result.status == serial_status::ok)
        run.length = result.packet_length;
    std::fflush(stdout);
    run.said = testing::internal::GetCapturedStdout();
    return result.status;
}

void stop(exchange_run& run)
{
    run.unit.done = true;
    run.thread.join();
    close_port(run.port);
    close_pty_pair(run.pty);
}

std::string commands(fake_unit& unit)
{
    std::lock_guard<std::mutex> hold(unit.lock);
    std::string text;
    for (const auto& entry : unit.received)
        text += static_cast<char>(entry.second);
    return text;
}

// The unit stamps each byte when the pty has handed it over and its thread
// has woken for it; that may take a few hundred microseconds longer for one
// byte than for the next (888 us seen for a 1 ms wait), so a gap it sees may
// fall short of the logger's wait by that much. A logger that did not wait
// at all would still show gaps well below the slack.
constexpr std::chrono::microseconds stamp_slack{500};

// Time from each command of `letter` to the command after it.
std::vector<std::chrono::microseconds> gaps_after(fake_unit& unit, std::uint8_t letter)
{
    std::lock_guard<std::mutex> hold(unit.lock);
    std::vector<std::chrono::microseconds> gaps;
    for (std::size_t i = 0; i + 1 < unit.received.size(); ++i)
        if (unit.received[i].second == letter)
            gaps.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                unit.received[i + 1].first - unit.received[i].first));
    return gaps;
}

TEST(InitDevice, AQuietUnitGetsStopModeStopGetContinueWithTheWaits)
{
    exchange_run run;
    start(run);
    EXPECT_EQ(exchange(run, 'a'), serial_status::ok);
    EXPECT_EQ(run.length, 30u);
    EXPECT_EQ(run.said, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(run);
    EXPECT_EQ(commands(run.unit), "PaPGC");
    using std::chrono::milliseconds;
    for (auto gap : gaps_after(run.unit, 'P'))
        EXPECT_GE(gap, milliseconds(100) - stamp_slack);
    for (auto gap : gaps_after(run.unit, 'G'))
        EXPECT_GE(gap, milliseconds(100) - stamp_slack);
    for (auto gap : gaps_after(run.unit, 'a'))
        EXPECT_GE(gap, milliseconds(1) - stamp_slack);
}

TEST(InitDevice, AStreamingUnitIsQuietedAndItsStreamDiscarded)
{
    exchange_run run;
    run.unit.streaming = true;
    start(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(exchange(run, 'c'), serial_status::ok);
    EXPECT_EQ(run.length, 24u);
    EXPECT_EQ(run.said, "");
    // The unit streams again after "C": the next packet read is whole.
    std::uint8_t packet[256];
    EXPECT_EQ(read_packet(run.port, run.length, packet), serial_status::ok);
    EXPECT_EQ(std::vector<std::uint8_t>(packet, packet + 24), good_packet('c'));
    stop(run);
    const std::string sent = commands(run.unit);
    EXPECT_EQ(sent.substr(sent.size() - 2), "GC");
    EXPECT_NE(sent.find("Pc"), std::string::npos);
}

TEST(InitDevice, ASpaceSendsNoModeAndAnUnknownModeIsReportedByTheCheck)
{
    exchange_run run;
    start(run);
    EXPECT_EQ(exchange(run, ' '), serial_status::ok);
    EXPECT_EQ(run.said, "\nunrecognized packet type:  ");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(run);
    EXPECT_EQ(commands(run.unit), "PPGC");
}

TEST(InitDevice, TheLengthIsWhatTheUnitAnsweredAtMost255)
{
    exchange_run run;
    run.unit.get_reply_size = 300;
    start(run);
    EXPECT_EQ(exchange(run, 'a'), serial_status::ok);
    EXPECT_EQ(run.length, 255u);
    EXPECT_EQ(run.said, "packet size incorrect: 255 should be 30 for AHRS\n");
    // The rest of the reply stays queued for the next read.
    std::uint8_t rest[64];
    EXPECT_EQ(read_packet(run.port, 45, rest), serial_status::ok);
    EXPECT_EQ(rest[44], 0x55);
    stop(run);
}

TEST(InitDevice, NoAnswerToGetGivesLengthZeroAndContinueIsSent)
{
    exchange_run run;
    run.unit.answer_get = false;
    start(run);
    EXPECT_EQ(exchange(run, 'c'), serial_status::ok);
    EXPECT_EQ(run.length, 0u);
    EXPECT_EQ(run.said, "packet size incorrect: 0 should be  24 for AHRS\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(run);
    EXPECT_EQ(commands(run.unit), "PcPGC");
}

TEST(InitDevice, AUnitStillWakingUpIsSentTheLetterAgainEverLessOftenNeverAStop)
{
    // A unit that lets every letter pass for its first 300 ms: a dozen
    // letters at the exchange's own pace, then ever longer waits for an
    // answer; no "P" between them, and the step takes the first answer.
    exchange_run run;
    run.unit.wakes_after_ms = 300;
    start(run);
    EXPECT_EQ(exchange(run, 'a'), serial_status::ok);
    EXPECT_EQ(run.length, 30u);
    EXPECT_EQ(run.said, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(run);
    const std::string sent = commands(run.unit);
    EXPECT_EQ(sent.substr(0, 2), "Pa");
    EXPECT_EQ(sent.substr(sent.find_last_of('a') + 1), "PGC");
    EXPECT_GE(sent.size(), 4u + 12u) << sent;
    EXPECT_LE(sent.size(), 4u + 20u) << sent;
}

// Stops the exchange once its time is up.
bool past(void* context)
{
    return clock_type::now() >= *static_cast<clock_type::time_point*>(context);
}

TEST(InitDevice, AnUnacknowledgedModeIsSaidOnceAndAskedOnUntilTheExchangeIsInterrupted)
{
    exchange_run run;
    run.unit.answer_mode = false;
    start(run);
    const auto begin = clock_type::now();
    clock_type::time_point until = begin + std::chrono::milliseconds(2500);
    EXPECT_EQ(exchange(run, 'a', interruption{nullptr, past, &until}), serial_status::interrupted);
    EXPECT_LT(clock_type::now() - until, std::chrono::milliseconds(600));
    EXPECT_EQ(run.said, "AHRS does not acknowledge mode a; starting the exchange again\n");
    stop(run);
    const std::string sent = commands(run.unit);
    EXPECT_EQ(sent, "P" + std::string(sent.size() - 1, 'a'));
    EXPECT_LE(sent.size(), 30u);
}

} // namespace
