#include "serial/device.h"

#include "packets.h"
#include "pty_port.h"
#include "run/findings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <regex>
#include <thread>
#include <unistd.h>

using namespace imutap;

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How the unit on the master side behaves.
struct unit_behaviour {
    bool streaming = false; // sends packets from the start, until "P"
    bool answer_mode = true;
    int wakes_after_ms = 0; // letters before then, from the first, pass unanswered
    bool answer_get = true;
    std::size_t get_reply_size = 0; // 0: one packet of the mode
};

// A small unit on the master side, run on its own thread: it records every
// command byte with its arrival time and answers as told.
struct fake_unit {
    int fd = -1;
    unit_behaviour behaviour;
    clock_type::time_point first_letter{};
    std::atomic<bool> streaming{false};
    std::atomic<bool> done{false};
    std::mutex lock;
    std::vector<std::pair<clock_type::time_point, std::uint8_t>> received;
    char mode = 'a';
};

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
                if (!unit.behaviour.answer_get)
                    continue;
                std::vector<std::uint8_t> reply = busy_packet(unit.mode);
                if (unit.behaviour.get_reply_size != 0)
                    reply.resize(unit.behaviour.get_reply_size, 0x55);
                write_all(unit.fd, reply);
            } else if (unit.behaviour.answer_mode) {
                const auto now = clock_type::now();
                if (unit.first_letter == clock_type::time_point{})
                    unit.first_letter = now;
                if (now - unit.first_letter < milliseconds(unit.behaviour.wakes_after_ms))
                    continue;
                unit.mode = static_cast<char>(byte);
                write_all(unit.fd, {static_cast<std::uint8_t>(byte - 32)});
            }
        } else if (unit.streaming) {
            write_all(unit.fd, busy_packet(unit.mode));
        }
    }
}

// Stops the exchange once its time is up.
bool past(void* context)
{
    return clock_type::now() >= *static_cast<clock_type::time_point*>(context);
}

struct exchange_result {
    serial_status status;
    std::uint32_t length = 12345;
    std::string said;
    clock_type::duration late{}; // from the interruption's time to the exchange's end
};

// The exchange as the run makes it: its troubles said once on the console,
// the unit's answer to "G" judged, and a stop requested
// `interrupt_after_ms` from now (never with 0), asked once a round.
exchange_result exchange(serial_port& port, char mode, int interrupt_after_ms)
{
    exchange_result result;
    unit_said said{unit_note::none, mode};
    clock_type::time_point until = clock_type::now() + milliseconds(interrupt_after_ms);
    port.handle.stop =
        interrupt_after_ms > 0 ? interruption{nullptr, past, &until} : interruption{};
    testing::internal::CaptureStdout();
    const device_result done = init_device(port, mode, 38400, say_troubles_once(said));
    say_exchange_answer(done, mode);
    result.status = done.status;
    if (done.status == serial_status::ok)
        result.length = done.packet_length;
    std::fflush(stdout);
    result.said = testing::internal::GetCapturedStdout();
    result.late = clock_type::now() - until;
    return result;
}

// The unit stamps each byte when the pty has handed it over and its thread
// has woken for it; that may take a few hundred microseconds longer for one
// byte than for the next (888 us seen for a 1 ms wait), so a gap it sees may
// fall short of the logger's wait by that much. A logger that did not wait
// at all would still show gaps well below the slack.
constexpr std::chrono::microseconds stamp_slack{500};

// A case whose packet length is not looked at.
constexpr std::uint32_t length_unchecked = 99999;

struct exchange_case {
    const char* name;
    unit_behaviour unit{};
    char mode;
    int interrupt_after_ms = 0; // 0: never
    serial_status status = serial_status::ok;
    std::uint32_t length = length_unchecked;
    std::string said{};
    // What the unit received, all of it (a regular expression).
    std::string commands = ".*";
    // The least time from each command of a letter to the command after it.
    std::vector<std::pair<char, milliseconds>> least_gaps{};
    // What a packet read of their length takes next.
    std::vector<std::uint8_t> next_bytes{};
    int max_late_ms = 0; // 0: not timed
};

const exchange_case exchange_cases[] = {
    {.name = "AQuietUnitGetsStopModeStopGetContinueWithTheWaits",
     .mode = 'a',
     .length = 30,
     .commands = "PaPGC",
     .least_gaps = {{'P', milliseconds(100)}, {'G', milliseconds(100)}, {'a', milliseconds(1)}}},
    // The unit streams again after "C": the next packet read is whole.
    {.name = "AStreamingUnitIsQuietedAndItsStreamDiscarded",
     .unit = {.streaming = true},
     .mode = 'c',
     .length = 24,
     .commands = ".*Pc.*GC",
     .next_bytes = busy_packet('c')},
    {.name = "ASpaceSendsNoModeAndAnUnknownModeIsReportedByTheCheck",
     .mode = ' ',
     .said = "\nunrecognized packet type:  ",
     .commands = "PPGC"},
    // The rest of the reply stays queued for the next read.
    {.name = "TheLengthIsWhatTheUnitAnsweredAtMost255",
     .unit = {.get_reply_size = 300},
     .mode = 'a',
     .length = 255,
     .said = "packet size incorrect: 255 should be 30 for AHRS\n",
     .next_bytes = std::vector<std::uint8_t>(45, 0x55)},
    {.name = "NoAnswerToGetGivesLengthZeroAndContinueIsSent",
     .unit = {.answer_get = false},
     .mode = 'c',
     .length = 0,
     .said = "packet size incorrect: 0 should be  24 for AHRS\n",
     .commands = "PcPGC"},
    // A unit that lets every letter pass for its first 300 ms: a dozen
    // letters at the exchange's own pace, then ever longer waits for an
    // answer; no "P" between them, and the step takes the first answer.
    {.name = "AUnitStillWakingUpIsSentTheLetterAgainEverLessOftenNeverAStop",
     .unit = {.wakes_after_ms = 300},
     .mode = 'a',
     .length = 30,
     .commands = "Pa{12,20}PGC"},
    {.name = "AnUnacknowledgedModeIsSaidOnceAndAskedOnUntilTheExchangeIsInterrupted",
     .unit = {.answer_mode = false},
     .mode = 'a',
     .interrupt_after_ms = 2500,
     .status = serial_status::interrupted,
     .said = "AHRS does not acknowledge mode a; starting the exchange again\n",
     .commands = "Pa{0,29}",
     .max_late_ms = 600},
};

// A failure names the case, not its bytes.
void PrintTo(const exchange_case& row, std::ostream* out)
{
    *out << row.name;
}

class InitDevice : public pty_port, public testing::WithParamInterface<exchange_case> {
  protected:
    void TearDown() override
    {
        stop_unit();
        pty_port::TearDown();
    }
    void stop_unit()
    {
        unit.done = true;
        if (thread.joinable())
            thread.join();
    }

    fake_unit unit;
    std::thread thread;
};

TEST_P(InitDevice, SendsItsCommandsAtTheirPaceAndTakesWhatTheUnitAnswers)
{
    const exchange_case& row = GetParam();
    unit.fd = pty.master;
    unit.behaviour = row.unit;
    unit.streaming = row.unit.streaming;
    thread = std::thread(serve, std::ref(unit));
    if (row.unit.streaming)
        std::this_thread::sleep_for(milliseconds(30));

    const exchange_result result = exchange(port, row.mode, row.interrupt_after_ms);
    EXPECT_EQ(result.status, row.status);
    if (row.length != length_unchecked) {
        EXPECT_EQ(result.length, row.length);
    }
    EXPECT_EQ(result.said, row.said);
    if (row.max_late_ms > 0) {
        EXPECT_LT(result.late, milliseconds(row.max_late_ms));
    }
    if (!row.next_bytes.empty()) {
        std::vector<std::uint8_t> next(row.next_bytes.size());
        const auto size = static_cast<std::uint32_t>(next.size());
        EXPECT_EQ(read_packet(port, size, next.data()), serial_status::ok);
        EXPECT_EQ(next, row.next_bytes);
    }
    std::this_thread::sleep_for(milliseconds(20)); // for the last command to arrive
    stop_unit();

    std::string commands;
    for (const auto& entry : unit.received)
        commands += static_cast<char>(entry.second);
    EXPECT_TRUE(std::regex_match(commands, std::regex(row.commands))) << commands;
    for (std::size_t i = 0; i + 1 < unit.received.size(); ++i) {
        for (const auto& [letter, least] : row.least_gaps) {
            if (unit.received[i].second != letter)
                continue;
            EXPECT_GE(unit.received[i + 1].first - unit.received[i].first, least - stamp_slack)
                << letter << " at " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Units, InitDevice, testing::ValuesIn(exchange_cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
