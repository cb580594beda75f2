// The unit's answers to commands and its continuous output, driven without a pty: the
// tests play the serving loop, taking bytes off the output queue as a reader would.
#include "commands.h"
#include "mono_clock.h"
#include "options.h"
#include "out_queue.h"
#include "stream.h"
#include "unit.h"

#include "packets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace imutap_emu;

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::int64_t t0 = 1'000'000'000; // any start time will do

struct bench {
    emu_options options;
    unit_state unit;
    out_queue queue;
    emu_log log;
    std::int64_t now = t0;
    written_effect last_effect;

    explicit bench(emu_options chosen = {}) : options(chosen)
    {
        queue_init(queue, queue_byte_capacity, queue_item_capacity);
        unit_start(options, unit, now);
    }

    void command(const std::string& text)
    {
        for (char c : text)
            handle_command(std::uint8_t(c), options, unit, queue, log, now);
    }

    // Takes up to `limit` bytes as the logger would read them.
    bytes take(std::size_t limit = SIZE_MAX)
    {
        bytes out;
        for (;;) {
            if (unit_silent(unit, now))
                return out;
            refill_stream(options, unit, queue, now);
            std::size_t n = std::min(queue_writable(queue), limit - out.size());
            if (n == 0)
                return out;
            out.insert(out.end(), queue_front(queue), queue_front(queue) + n);
            last_effect = account_written(options, unit, queue, n, log, now);
            if (last_effect.unplug)
                return out;
        }
    }
};

emu_options unpaced()
{
    emu_options o;
    o.rate = 0;
    return o;
}

// Splits a stream into packets of `length`, checking each; returns their counters.
std::vector<unsigned> counters(const bytes& stream, std::size_t length)
{
    EXPECT_EQ(stream.size() % length, 0u) << "stream does not end at a packet boundary";
    std::vector<unsigned> result;
    for (std::size_t at = 0; at + length <= stream.size(); at += length) {
        EXPECT_TRUE(good_packet(&stream[at], length)) << "packet at " << at;
        result.push_back(counter_of(&stream[at], length));
    }
    return result;
}

std::vector<unsigned> run_of(unsigned first, std::size_t count)
{
    std::vector<unsigned> result;
    for (std::size_t i = 0; i < count; ++i)
        result.push_back((first + unsigned(i)) & 0xFFFF);
    return result;
}

TEST(UnitCommands, ModeLettersAreAnsweredWithTheLetterMinus32)
{
    bench b;
    b.command("a");
    EXPECT_EQ(b.take(), bytes{'A'});
    b.command("cr");
    EXPECT_EQ(b.take(), (bytes{'C', 'R'}));
    b.command("x");
    EXPECT_EQ(b.take(), bytes{'X'});
    EXPECT_EQ(b.unit.mode, 'x');
    b.command(std::string(1, char(0x10)));
    EXPECT_EQ(b.take(), bytes{0xF0});
}

TEST(UnitCommands, GetSendsOnePacketOfTheCurrentMode)
{
    bench b;
    EXPECT_TRUE(b.take().empty()) << "silent at power-on";
    b.command("G");
    bytes p = b.take();
    ASSERT_EQ(p.size(), 30u);
    EXPECT_TRUE(good_packet(p.data(), p.size()));
    b.command("cG");
    p = b.take();
    ASSERT_EQ(p.size(), 25u);
    EXPECT_EQ(p[0], 'C');
    EXPECT_TRUE(checksum_matches(p.data() + 1, 24));
    EXPECT_EQ(counter_of(p.data() + 1, 24), 1u) << "the counter counts every packet";
    b.command("fG");
    EXPECT_EQ(b.take().size(), 1u + 24u);
}

TEST(UnitCommands, CounterWrapsAt65536)
{
    emu_options o;
    o.start_seq = 65534;
    bench b(o);
    b.command("GGG");
    EXPECT_EQ(counters(b.take(), 30), (std::vector<unsigned>{65534, 65535, 0}));
}

TEST(UnitStream, ContinuousOutputUntilStopEndsAtAPacketBoundary)
{
    bench b(unpaced());
    b.command("C");
    bytes first = b.take(1000); // 33 packets and 10 bytes of the 34th
    b.command("P");
    bytes rest = b.take();
    EXPECT_EQ(rest.size(), 20u) << "the packet begun is finished, nothing more";
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(counters(first, 30), run_of(0, 34));
    EXPECT_FALSE(b.unit.streaming);

    b.command("C"); // the counter goes on from the last packet sent
    EXPECT_EQ(counters(b.take(300), 30), run_of(34, 10));
}

TEST(UnitStream, CommandsWhileStreamingAreAnsweredAtTheNextPacketBoundary)
{
    bench b(unpaced());
    b.command("C");
    bytes stream = b.take(45); // one packet and half the next
    b.command("c");
    bytes more = b.take(15 + 1 + 24 * 3);
    ASSERT_EQ(more.size(), 15u + 1u + 72u);
    EXPECT_EQ(more[15], 'C') << "the answer follows the packet begun";
    stream.insert(stream.end(), more.begin(), more.begin() + 15);
    EXPECT_EQ(counters(stream, 30), run_of(0, 2));
    EXPECT_EQ(counters(bytes(more.begin() + 16, more.end()), 24), run_of(2, 3))
        << "new mode from then on";
}

TEST(UnitStream, CountLimitSendsExactlyNThenNothingEver)
{
    emu_options o = unpaced();
    o.has_count = true;
    o.count = 7;
    bench b(o);
    b.command("G"); // answers to G do not count
    EXPECT_EQ(b.take().size(), 30u);
    b.command("C");
    b.take(100);
    b.command("P");
    EXPECT_EQ(b.take().size(), 20u);
    b.command("C");
    EXPECT_EQ(b.take().size(), 3u * 30u) << "7 packets in all over both runs";
    EXPECT_TRUE(b.unit.finished);
    b.command("GaC");
    EXPECT_TRUE(b.take().empty());
}

TEST(UnitStream, CountZeroIsAUnitThatNeverAnswers)
{
    emu_options o;
    o.has_count = true;
    o.count = 0;
    o.streaming_at_power_on = true;
    bench b(o);
    b.command("PaGC");
    EXPECT_TRUE(b.take().empty());
}

TEST(UnitStream, PacedOutputKeepsToTheScheduleWithoutDrift)
{
    emu_options o;
    o.rate = 100;
    bench b(o);
    b.command("C");
    EXPECT_EQ(b.take().size(), 30u) << "the first packet goes at once";
    b.now = t0 + 9 * ns_per_ms;
    EXPECT_TRUE(b.take().empty());
    EXPECT_EQ(stream_due_time(b.options, b.unit, b.queue, b.now), t0 + 10 * ns_per_ms);
    b.now = t0 + 35 * ns_per_ms; // late: packets 1, 2 and 3 are all due
    EXPECT_EQ(b.take().size(), 3u * 30u);
    EXPECT_EQ(stream_due_time(b.options, b.unit, b.queue, b.now), t0 + 40 * ns_per_ms);
    b.now = t0 + 5 * 1'000'000'000LL; // nobody read for seconds: no burst
    EXPECT_EQ(b.take().size(), 30u);
    EXPECT_EQ(stream_due_time(b.options, b.unit, b.queue, b.now), b.now + 10 * ns_per_ms);
}

TEST(UnitFaults, ChecksumHeaderAndDroppedByteHitTheListedPackets)
{
    emu_options o = unpaced();
    o.has_count = true;
    o.count = 5;
    o.bad_checksum = {{2, 2}};
    o.bad_header = {{3, 3}};
    o.drop_byte = {{4, 4}};
    bench b(o);
    b.command("G"); // not in continuous output: never spoilt
    EXPECT_TRUE(checksum_matches(b.take().data(), 30));
    b.command("C");
    bytes s = b.take();
    ASSERT_EQ(s.size(), 5u * 30u - 1u);
    const std::uint8_t* p = s.data();
    EXPECT_TRUE(p[0] == 0xFF && checksum_matches(p, 30));
    EXPECT_TRUE(p[30] == 0xFF && !checksum_matches(p + 30, 30));
    EXPECT_TRUE(p[60] == 0x00 && checksum_matches(p + 60, 30));
    EXPECT_EQ(p[90], 0xFF);
    EXPECT_EQ(counter_of(p + 90, 29), 4u) << "packet 4 (counter 4, after G's 0) is one byte short";
    EXPECT_TRUE(p[119] == 0xFF && checksum_matches(p + 119, 30));
    EXPECT_EQ(counter_of(p + 119, 30), 5u);
}

TEST(UnitFaults, IgnoredCommandsAndShortAnswersRunOutAfterTheirTimes)
{
    emu_options o;
    o.ignore_times[std::uint8_t('G')] = 2;
    o.ignore_times[std::uint8_t('a')] = always;
    o.has_short_g = true;
    o.short_g_bytes = 5;
    o.short_g_times = 1;
    bench b(o);
    b.command("GG");
    EXPECT_TRUE(b.take().empty());
    b.command("G");
    EXPECT_EQ(b.take().size(), 5u);
    b.command("G");
    EXPECT_EQ(b.take().size(), 30u);
    b.command("aaaa");
    EXPECT_TRUE(b.take().empty());
}

TEST(UnitFaults, SilenceHoldsOutputAndIgnoresCommandsThenCarriesOn)
{
    emu_options o = unpaced();
    o.events = {{2, 50, event_kind::silence}};
    bench b(o);
    b.command("C");
    EXPECT_EQ(counters(b.take(), 30), run_of(0, 2));
    EXPECT_TRUE(unit_silent(b.unit, b.now));
    b.command("PG");
    b.now += 49 * ns_per_ms;
    EXPECT_TRUE(b.take().empty());
    b.now += ns_per_ms;
    end_silence_if_over(b.unit, b.log, b.now);
    EXPECT_EQ(counters(b.take(300), 30), run_of(2, 10)) << "still streaming: P was not heard";
}

TEST(UnitFaults, ReplugComesAfterItsPacketAndKeepsTheSequence)
{
    emu_options o = unpaced();
    o.events = {{3, 10, event_kind::replug}};
    o.streaming_at_power_on = true;
    bench b(o);
    EXPECT_EQ(counters(b.take(), 30), run_of(0, 3));
    EXPECT_TRUE(b.last_effect.unplug);
    EXPECT_EQ(b.last_effect.unplug_ms, 10u);
    b.unit.mode = 'c';
    unit_power_on(b.options, b.unit, b.now);
    EXPECT_EQ(b.unit.mode, 'a');
    EXPECT_EQ(counters(b.take(60), 30), run_of(3, 2));
}

TEST(UnitFaults, EventsAtTheSamePacketAllHappen)
{
    emu_options o = unpaced();
    o.events = {{2, 10, event_kind::replug}, {2, 20, event_kind::silence}};
    o.streaming_at_power_on = true;
    bench b(o);
    EXPECT_EQ(counters(b.take(), 30), run_of(0, 2));
    EXPECT_TRUE(b.last_effect.unplug);
    unit_power_on(b.options, b.unit, b.now);
    b.now += 20 * ns_per_ms;
    end_silence_if_over(b.unit, b.log, b.now);
    EXPECT_EQ(counters(b.take(90), 30), run_of(2, 3)) << "output goes on after both";
}

} // namespace
