// The logger run end to end against the emulated unit through a pty: every
// packet logged and shown as it should be.
#include "session_test.h"

#include "motion.h"
#include "packet_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <regex>

namespace {

class Acquisition : public session_test {};

// The values part of a log line for the unit's packet with this counter,
// decoded here independently of the logger and printed with printf.
std::string expected_values(char mode, unsigned counter)
{
    std::uint8_t packet[imutap_emu::max_packet_length];
    imutap_emu::build_packet(mode, imutap_emu::sample_at(counter),
                             static_cast<std::uint16_t>(counter), packet);
    auto raw = [&](int offset) { return packet[offset] * 256 + packet[offset + 1]; };
    auto sign = [](int value) { return value >= 32768 ? value - 65536 : value; };
    const double ranges[9] = {100, 100, 100, 4, 4, 4, 1, 1, 1};
    char text[512];
    int used = 0;
    int offset = 1;
    if (mode == 'a')
        for (int i = 0; i < 3; ++i, offset += 2)
            used += std::snprintf(text + used, sizeof text - used, "%f ",
                                  sign(raw(offset)) * (180.0 / 32767.0));
    for (int i = 0; i < 9; ++i, offset += 2) {
        double value = 0;
        if (mode == 'r')
            value = raw(offset) * (5.0 / 4096.0);
        else
            value = sign(raw(offset)) * (ranges[i] * 1.5) * (1.0 / 32767.0);
        used += std::snprintf(text + used, sizeof text - used, "%f ", value);
    }
    const double temperature = (raw(offset) * (5.0 / 4096.0) - 1.375) * 44.44;
    std::snprintf(text + used, sizeof text - used, "%f %d", temperature, raw(offset + 2));
    return text;
}

class EveryMode : public session_table<const char*> {};

TEST_P(EveryMode, LogsEachPacketOnceInOrderWithItsCount)
{
    const char mode = GetParam()[0];
    const std::vector<std::string> lines =
        log_until_silent({"-r", "0", "-n", "60"}, {"-m", GetParam()});
    const std::vector<unsigned> counters = counters_of(lines);
    ASSERT_EQ(lines.size(), 60u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string prefix = std::to_string(i + 1) + " ";
        ASSERT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(prefix.size()), expected_values(mode, counters[i]));
        if (i > 0) {
            EXPECT_EQ(counters[i], (counters[i - 1] + 1) % 65536);
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Acquisition, EveryMode, testing::Values("a", "c", "r"), by_name());

TEST_F(Acquisition, TheUnitIsQuietedSetToTheModeAndStartedWithTheWaits)
{
    log_until_silent({"-r", "0", "-n", "20"}, {"-m", "c"});
    const std::vector<command_byte> bytes = commands_of(read_file(s.dir + "/commands.txt"));
    const std::string sent = commands_sent(s);
    // A loaded machine may repeat a letter; the order never changes.
    EXPECT_TRUE(std::regex_match(sent.substr(0, sent.find('C') + 1), std::regex("P+c+P+GC")))
        << sent;
    // The unit stamps each byte when it reads it, a little late under load:
    // hence 90 ms where the logger waits 100.
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i].byte == 'P' && bytes[i + 1].byte != 'P') {
            EXPECT_GE(bytes[i + 1].at_ms - bytes[i].at_ms, 90.0) << i;
        }
        if (bytes[i].byte == 'G') {
            EXPECT_GE(bytes[i + 1].at_ms - bytes[i].at_ms, 90.0);
        }
    }
}

TEST_F(Acquisition, DecimationThinsTheLogButNotTheConsole)
{
    const std::vector<std::string> lines =
        log_until_silent({"-r", "0", "-n", "40"}, {"-m", "c", "-d", "4"});
    EXPECT_EQ(counts_of(lines), (std::vector<long long>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40}));
    // The display line came for packets 10, 20, 30 and 40, each 81 characters.
    const std::regex display("(( +-?[0-9]+\\.[0-9]{2}){10} )\r");
    const std::string out = s.logger.said;
    auto shown = std::sregex_iterator(out.begin(), out.end(), display);
    int count = 0;
    for (auto it = shown; it != std::sregex_iterator(); ++it, ++count)
        EXPECT_EQ(it->str(1).size(), 81u);
    EXPECT_EQ(count, 4);
}

TEST_F(Acquisition, EveryDisplayLineOfAFastStreamShowsBeforeTheNextMessage)
{
    // At full speed the display lines come far faster than they are
    // written: they go out together, none lost, all before the message.
    ASSERT_EQ(log_until_silent({"-r", "0", "-n", "3000"}, {"-m", "c"}).size(), 3000u);
    const std::string& out = s.logger.said;
    const std::size_t silent = out.find("AHRS silent for 1 s");
    ASSERT_NE(silent, std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 300);
    EXPECT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(silent), out.end(), '\r'), 0);
}

TEST_F(Acquisition, ABadPacketIsReportedAndNeitherLoggedNorShown)
{
    const std::vector<std::string> lines = log_until_silent(
        {"-r", "0", "-n", "30", "--bad-checksum", "10", "--bad-header", "14"}, {"-m", "c"});
    const std::vector<long long> counts = counts_of(lines);
    ASSERT_EQ(lines.size(), 28u);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), 10), 0);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), 14), 0);
    EXPECT_EQ(counts.back(), 30);
    const std::string& out = s.logger.said;
    EXPECT_NE(out.find("\nbad checksum:ff "), std::string::npos) << out;
    EXPECT_NE(out.find("\nunrecognized header byte: 0 "), std::string::npos) << out;
    // Packet 10 was bad: the console waited for packet 20.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 2);
    const std::string sent = commands_sent(s);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 1) << sent;
}

TEST_F(Acquisition, SixBadPacketsInARowInitialiseTheUnitOnce)
{
    const std::vector<std::string> lines =
        log_until_silent({"-n", "60", "-r", "500", "--bad-checksum", "11-16,31-50"}, {"-m", "a"});
    // Two runs of bad packets, one initialisation each. Quieting the unit
    // throws away what it had sent, so fewer packets reach the log, but each
    // logged line is a whole, right packet and the counts keep rising.
    const std::string sent = commands_sent(s);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 3) << sent;
    ASSERT_GE(lines.size(), 10u);
    EXPECT_LE(lines.size(), 60u - 6 - 20);
    const std::vector<long long> counts = counts_of(lines);
    const std::vector<unsigned> counters = counters_of(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(lines[i].find(' ') + 1), expected_values('a', counters[i]));
        if (i > 0) {
            EXPECT_GT(counts[i], counts[i - 1]);
        }
    }
}

// Six bad packets in a fast stream (20000 packets/s, read in blocks of
// several packets, some cut at a read's end) make the logger initialise the
// unit again with packets still buffered. Quieting throws the unit's backlog
// away; every packet sent after the new "C" is then logged whole, once and in
// order, to the unit's last. (Unpaced, the unit would run a pty's worth of
// packets ahead, and quieting reads a backlog away 255 bytes per 100 ms:
// seconds.)
TEST_F(Acquisition, InitialisingAgainMidStreamLosesReordersAndSkipsNothingAfterIt)
{
    constexpr int count = 4000;
    const std::vector<std::string> lines = log_until_silent(
        {"-n", std::to_string(count), "-r", "20000", "--bad-checksum", "1001-1006", "-v"},
        {"-m", "a"});
    const std::string sent = commands_sent(s);
    ASSERT_EQ(std::count(sent.begin(), sent.end(), 'G'), 2) << sent;
    // The unit numbers every packet it sends, answers to G included.
    const std::string notes = read_file(s.dir + "/unit-errors.txt");
    const std::regex answer("G: one 30-byte packet \\(counter ([0-9]+)\\)");
    std::vector<unsigned> answered;
    for (auto it = std::sregex_iterator(notes.begin(), notes.end(), answer);
         it != std::sregex_iterator(); ++it)
        answered.push_back(static_cast<unsigned>(std::stoul((*it)[1])));
    ASSERT_EQ(answered.size(), 2u) << notes;

    const std::string& out = s.logger.said;
    EXPECT_EQ(occurrences(out, "bad checksum:"), 6u);
    EXPECT_EQ(out.find("unrecognized header"), std::string::npos);
    EXPECT_EQ(out.find("packet size incorrect"), std::string::npos);

    ASSERT_GT(lines.size(), 1500u);
    const std::vector<long long> counts = counts_of(lines);
    const std::vector<unsigned> counters = counters_of(lines);
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(counts[i], static_cast<long long>(i + 1));
        ASSERT_EQ(counters[i], i + 1);
    }
    // Packets 1001 to 1006 were the bad ones; the next one read is the first
    // the unit sent after the new G answer.
    EXPECT_EQ(counts[1000], 1007);
    EXPECT_EQ(counters[1000], answered[1] + 1);
    for (std::size_t i = 1000; i < lines.size(); ++i) {
        if (i > 1000) {
            ASSERT_EQ(counts[i], counts[i - 1] + 1) << i;
            ASSERT_EQ(counters[i], (counters[i - 1] + 1) % 65536) << i;
        }
        ASSERT_EQ(lines[i].substr(lines[i].find(' ') + 1), expected_values('a', counters[i])) << i;
    }
    // The last: two answers to G and `count` stream packets, numbered from 0.
    EXPECT_EQ(counters.back(), static_cast<unsigned>(count + 1));
}

// The unit sends each byte at the pace of the rate the logger set: at 2400
// and 1200 baud the answer to "G" is still coming after the logger's 100 ms
// wait, and a packet arrives a few bytes at a time.
struct line_pace {
    const char* name; // the baud rate
    int count;
};
class EveryPacket : public session_table<line_pace> {};

TEST_P(EveryPacket, IsLoggedAtThePaceOfARealLine)
{
    const int count = GetParam().count;
    const std::vector<std::string> lines =
        log_until_silent({"-r", "0", "-n", std::to_string(count), "--line-pace"},
                         {"-m", "a", "-b", GetParam().name});
    const std::string sent = commands_sent(s);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 1) << sent;
    EXPECT_EQ(s.logger.said.find("packet size incorrect"), std::string::npos) << s.logger.said;
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(count));
    const std::vector<unsigned> counters = counters_of(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string prefix = std::to_string(i + 1) + " ";
        ASSERT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(prefix.size()), expected_values('a', counters[i]));
        // The answer to G is packet 0; the stream follows it.
        EXPECT_EQ(counters[i], i + 1);
    }
}
INSTANTIATE_TEST_SUITE_P(Acquisition, EveryPacket,
                         testing::Values(line_pace{"1200", 6}, line_pace{"2400", 8},
                                         line_pace{"38400", 100}),
                         by_name());

// Packets two seconds apart, and the logger told so with -t 2: each read
// waits for its packet instead of taking the unit for silent.
TEST_F(Acquisition, AUnitSendingEveryTwoSecondsIsLoggedWithoutInitialisingAgain)
{
    ASSERT_TRUE(start_unit(s, {"-r", "0.5", "-n", "2", "-v"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c", "-t", "2"}));
    wait_until(
        s.logger,
        [&] {
            return read_file(s.dir + "/unit-errors.txt").find("all 2 packets sent") !=
                   std::string::npos;
        },
        10000);
    // Time for the logger to read the last packet, then an orderly end.
    EXPECT_TRUE(runs_on_for(s.logger, 200));
    kill(s.logger.pid, SIGTERM);
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    EXPECT_EQ(s.logger.said.find("silent"), std::string::npos) << s.logger.said;
    const std::string sent = commands_sent(s);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 1) << sent;
    const std::vector<std::string> lines = log_lines(s);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(counts_of(lines), (std::vector<long long>{1, 2}));
    const double first = std::stod(lines[0].substr(lines[0].find(' ') + 1));
    const double second = std::stod(lines[1].substr(lines[1].find(' ') + 1));
    EXPECT_NEAR(second - first, 2.0, 1e-9);
}

// Packets come much faster than one per 10 ms: the reconstructed time runs
// ahead of the clock and is never pulled back.
TEST_F(Acquisition, AReconstructedTimeColumnRunsAheadOfTheClock)
{
    const std::vector<std::string> lines =
        log_until_silent({"-r", "0", "-n", "30"}, {"-m", "c", "-t", "0.01"});
    ASSERT_EQ(lines.size(), 30u);
    const std::regex with_time("[0-9]+ [0-9]+\\.[0-9]{6} .*");
    const double first = std::stod(lines[0].substr(lines[0].find(' ') + 1));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], with_time)) << lines[i];
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ' '), 12);
        const double t = std::stod(lines[i].substr(lines[i].find(' ') + 1));
        EXPECT_NEAR(t - first, 0.01 * static_cast<double>(i), 2e-6);
    }
}

TEST_F(Acquisition, ATimeColumnFromTheClockTakesTheReconstructedOnesPlace)
{
    const std::vector<std::string> lines =
        log_until_silent({"-r", "0", "-n", "30"}, {"-m", "r", "-D", "-t", "0.01"});
    ASSERT_EQ(lines.size(), 30u);
    for (const std::string& line : lines) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 12);
        const double t = std::stod(line.substr(line.find(' ') + 1));
        EXPECT_GT(t, 0.0);
        EXPECT_LT(t, 30.0);
    }
}

} // namespace
