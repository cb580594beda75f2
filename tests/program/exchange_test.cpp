// The exchange that brings the unit up, against units that let mode letters
// pass or answer them late: the bytes the unit receives and the time from
// the first "P" to "C".
#include "session_test.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

class Exchange : public session_test {};

struct exchange_case {
    const char* unit; // what the unit does
    std::vector<std::string> options;
    const char* commands; // the bytes the unit receives, as a regular expression
    // From the first "P" to "C", beyond the time a unit that answers at once
    // takes (the first case: the exchange's own waits, about 0.33 s); -1 for
    // a unit that never answers.
    double longest_beyond_own_waits_ms;
};

// Each unit comes up within 0.1 s of the exchange's own waits when it only
// lets letters pass; the late one within the step that sends the letters,
// plus the quieting of its spare answers. A unit that answers nothing is
// asked ever less often (three letters a second once the first second has
// gone by), never sent "P" again, said once, and q ends the run at once.
TEST_F(Exchange, ModeLettersAreSentAgainUntilTheUnitAnswersAndNeverAP)
{
    const exchange_case cases[] = {
        {"answers at once", {}, "PaPGC", 0},
        {"ignores 1 letter", {"--ignore", "a:1"}, "Pa{2}PGC", 100},
        {"ignores 3 letters", {"--ignore", "a:3"}, "Pa{4}PGC", 100},
        {"ignores 10 letters", {"--ignore", "a:10"}, "Pa{11}PGC", 100},
        {"ignores the first after each P", {"--ignore-after-p"}, "Pa{2}PGC", 100},
        {"answers 300 ms late", {"--answer-late", "300"}, "Pa+P+GC", 300 + 800},
        {"never answers", {"--ignore", "a"}, "Pa+", -1},
    };
    double own_waits_ms = 0;
    for (const exchange_case& unit : cases) {
        SCOPED_TRACE(unit.unit);
        ASSERT_TRUE(start_unit(s, unit.options));
        ASSERT_TRUE(start_logger(s, {"-m", "a"}));
        wait_until(
            s.logger, [&] { return commands_sent(s).find('C') != std::string::npos; }, 2500);
        expect_q_ends_run(1000);

        const std::vector<command_byte> received = commands_of(read_file(s.dir + "/commands.txt"));
        const std::string sent = commands_sent(s);
        EXPECT_TRUE(std::regex_match(sent, std::regex(unit.commands))) << sent;
        const std::string never_said = "AHRS does not acknowledge mode a";
        const std::size_t said_at = s.logger.said.find(never_said);
        if (unit.longest_beyond_own_waits_ms >= 0) {
            ASSERT_FALSE(received.empty());
            const double took_ms = received.back().at_ms - received.front().at_ms;
            if (own_waits_ms == 0)
                own_waits_ms = took_ms;
            EXPECT_LE(took_ms, own_waits_ms + unit.longest_beyond_own_waits_ms);
            EXPECT_EQ(said_at, std::string::npos) << s.logger.said;
        } else {
            EXPECT_NE(said_at, std::string::npos) << s.logger.said;
            EXPECT_EQ(s.logger.said.find(never_said, said_at + 1), std::string::npos);
            // 12 letters at once, then waits of 10, 20, 40, ... 500 ms.
            EXPECT_LE(sent.size(), 30u) << sent;
        }
        restart_session(s);
    }
}

// A device that keeps sending whatever it is told, slowly or as fast as the
// line goes, is said within about 2 s; q ends the run within a second.
class ADeviceThatKeepsSendingThroughP : public session_table<const char*> {};

TEST_P(ADeviceThatKeepsSendingThroughP, IsSaidAndQStillEndsTheRun)
{
    ASSERT_TRUE(start_unit(s, {"--streaming", "--ignore", "P", "-r", GetParam()}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    EXPECT_TRUE(wait_for_output(s.logger, "AHRS does not stop sending on P", 2500))
        << s.logger.said;
    expect_q_ends_run(1000);
}
INSTANTIATE_TEST_SUITE_P(Exchange, ADeviceThatKeepsSendingThroughP,
                         testing::Values("10", "1000", "0"), by_name());

} // namespace
