#include "index_list.h"
#include "options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using namespace imutap_emu;

namespace {

struct parsed {
    parse_outcome outcome;
    emu_options options;
    std::string error;
};

parsed parse(std::initializer_list<const char*> args)
{
    std::vector<const char*> argv = {"imutap-emu"};
    argv.insert(argv.end(), args.begin(), args.end());
    parsed result;
    result.outcome = parse_options(int(argv.size()), argv.data(), result.options, result.error);
    return result;
}

TEST(Options, DefaultsAreAPacedSilentUnitInAngleMode)
{
    parsed p = parse({});
    ASSERT_EQ(p.outcome, parse_outcome::run);
    EXPECT_EQ(p.options.rate, 100.0);
    EXPECT_FALSE(p.options.has_count);
    EXPECT_FALSE(p.options.streaming_at_power_on);
    EXPECT_FALSE(p.options.line_pace);
    EXPECT_TRUE(p.options.link_path.empty());
    EXPECT_TRUE(p.options.command.empty());
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('G')], 0);
    EXPECT_EQ(default_link_path(42), "/tmp/imutap-emu.42");
}

TEST(Options, ValuesInEveryForm)
{
    parsed p = parse({"-r0", "--count=50", "-l", "/tmp/u", "--start-seq", "65535", "--streaming",
                      "--line-pace", "-v", "-q"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    EXPECT_EQ(p.options.rate, 0.0);
    EXPECT_TRUE(p.options.has_count);
    EXPECT_EQ(p.options.count, 50u);
    EXPECT_EQ(p.options.link_path, "/tmp/u");
    EXPECT_EQ(p.options.start_seq, 65535u);
    EXPECT_TRUE(p.options.streaming_at_power_on);
    EXPECT_TRUE(p.options.line_pace);
    EXPECT_TRUE(p.options.verbose);
    EXPECT_TRUE(p.options.quiet);
    EXPECT_EQ(parse({"--rate", "2.5"}).options.rate, 2.5);
}

TEST(Options, EverythingAfterDoubleDashIsTheCommand)
{
    parsed p = parse({"-n", "5", "--keys", "q", "--", "imutap", "-m", "c", "--", "x"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    EXPECT_EQ(p.options.command, (std::vector<std::string>{"imutap", "-m", "c", "--", "x"}));
    EXPECT_EQ(p.options.keys, "q");
    EXPECT_EQ(p.options.keys_delay_ms, -1);
}

TEST(Options, PacketListsTakeNumbersAndRanges)
{
    parsed p = parse({"--bad-checksum", "5,7,10-12", "--bad-checksum", "20"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    for (std::uint64_t listed : {5, 7, 10, 11, 12, 20})
        EXPECT_TRUE(index_listed(p.options.bad_checksum, listed)) << listed;
    for (std::uint64_t absent : {1, 4, 6, 8, 9, 13, 19, 21})
        EXPECT_FALSE(index_listed(p.options.bad_checksum, absent)) << absent;
    for (const char* bad : {"", "0", "3-2", "a", "5,", ",5", "1-", "-4", "5 ,6", "99999999999"}) {
        parsed q = parse({"--drop-byte", bad});
        EXPECT_EQ(q.outcome, parse_outcome::error) << bad;
        EXPECT_NE(q.error.find("bad packet number"), std::string::npos) << q.error;
    }
}

TEST(Options, EventsAreSortedByPacket)
{
    parsed p = parse({"--silence", "10:200", "--replug", "5:0", "--silence", "7:1"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    ASSERT_EQ(p.options.events.size(), 3u);
    EXPECT_EQ(p.options.events[0].packet, 5u);
    EXPECT_EQ(p.options.events[0].kind, event_kind::replug);
    EXPECT_EQ(p.options.events[1].packet, 7u);
    EXPECT_EQ(p.options.events[2].packet, 10u);
    EXPECT_EQ(p.options.events[2].ms, 200u);
    for (const char* bad : {"10", "0:5", "5:", ":5", "5:x", "5:86400001"})
        EXPECT_EQ(parse({"--silence", bad}).outcome, parse_outcome::error) << bad;
}

TEST(Options, TheLineStateIsNamedAndTheHeldOutputIsAnEvent)
{
    EXPECT_EQ(parse({}).options.line, line_state::raw);
    EXPECT_EQ(parse({"--line", "xonxoff"}).options.line, line_state::xonxoff);
    EXPECT_EQ(parse({"--line=7e1-rtscts"}).options.line, line_state::seven_bit);
    EXPECT_EQ(parse({"--line", "raw"}).options.line, line_state::raw);
    for (const char* bad : {"", "XONXOFF", "7e1"})
        EXPECT_EQ(parse({"--line", bad}).outcome, parse_outcome::error) << bad;
    parsed p = parse({"--hold-output", "100:600000", "--silence", "50:10"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    ASSERT_EQ(p.options.events.size(), 2u);
    EXPECT_EQ(p.options.events[1].kind, event_kind::hold);
    EXPECT_EQ(p.options.events[1].packet, 100u);
    EXPECT_EQ(p.options.events[1].ms, 600000u);
}

TEST(Options, IgnoreTakesCommandsWithOptionalTimes)
{
    parsed p = parse({"--ignore", "G:3,P", "--ignore", "ac:2"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('G')], 3);
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('P')], always);
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('a')], 2);
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('c')], 2);
    EXPECT_EQ(p.options.ignore_times[std::uint8_t('C')], 0);
    for (const char* bad : {"", "G:0", "G:", ":3", "G,"})
        EXPECT_EQ(parse({"--ignore", bad}).outcome, parse_outcome::error) << bad;
}

TEST(Options, ShortGetTakesBytesAndOptionalTimes)
{
    parsed p = parse({"--short-g", "5"});
    ASSERT_EQ(p.outcome, parse_outcome::run) << p.error;
    EXPECT_TRUE(p.options.has_short_g);
    EXPECT_EQ(p.options.short_g_bytes, 5u);
    EXPECT_EQ(p.options.short_g_times, always);
    p = parse({"--short-g", "0:2"});
    EXPECT_EQ(p.options.short_g_bytes, 0u);
    EXPECT_EQ(p.options.short_g_times, 2);
    for (const char* bad : {"", "x", "5:0", "256"})
        EXPECT_EQ(parse({"--short-g", bad}).outcome, parse_outcome::error) << bad;
}

TEST(Options, MistakesAreErrorsWithAReason)
{
    struct mistake {
        std::initializer_list<const char*> args;
        const char* says;
    };
    const mistake mistakes[] = {
        {{"--nope"}, "unknown option '--nope'"},
        {{"-x"}, "unknown option '-x'"},
        {{"-r"}, "needs a value"},
        {{"--streaming=1"}, "takes no value"},
        {{"-r", "-1"}, "for -r"},
        {{"-r", "fast"}, "for -r"},
        {{"-r", "2000000"}, "for -r"},
        {{"-n", "-5"}, "for -n"},
        {{"-l", ""}, "for -l"},
        {{"log.txt"}, "unexpected argument 'log.txt'"},
        {{"--"}, "no command after --"},
        {{"--keys", "q"}, "--keys needs a command"},
        {{"--keys", "q", "--", "prog"}, "--keys needs -n N"},
        {{"--keys-delay", "5", "--", "prog"}, "--keys-delay needs --keys"},
    };
    for (const mistake& m : mistakes) {
        parsed p = parse(m.args);
        EXPECT_EQ(p.outcome, parse_outcome::error) << m.says;
        EXPECT_NE(p.error.find(m.says), std::string::npos) << p.error;
    }
    EXPECT_EQ(parse({"--keys", "q", "--keys-delay", "5", "--", "prog"}).outcome,
              parse_outcome::run);
}

TEST(Options, HelpWinsOverEverythingElse)
{
    EXPECT_EQ(parse({"-h"}).outcome, parse_outcome::help);
    EXPECT_EQ(parse({"--keys", "q", "--help"}).outcome, parse_outcome::help);
}

} // namespace
