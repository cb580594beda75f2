// How a run ends: q, a stop signal or a hang-up, while the unit streams, is
// silent or never answers.
#include "session_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

class RunEnd : public session_test {};

TEST_F(RunEnd, UpperCaseQIsIgnoredAndQEndsTheRun)
{
    ASSERT_TRUE(start_unit(s, {"-r", "500"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}, true));
    ASSERT_TRUE(wait_for_output(s.logger, " \r", 5000)); // streaming
    send_keys(s.logger, "Q");
    EXPECT_TRUE(runs_on_for(s.logger, 300)) << "Q ended the run";
    // Keys that come one at a time, long after each other, are each seen.
    send_keys(s.logger, "x");
    EXPECT_TRUE(runs_on_for(s.logger, 300)) << "x ended the run";
    expect_q_ends_run(500, 3000);
}

TEST_F(RunEnd, QEndsALongPassWithinAboutASecondWithoutItsLine)
{
    // -d 5000 at 100 packets/s: a pass lasts 50 s.
    ASSERT_TRUE(start_unit(s, {"-r", "100"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c", "-d", "5000"}, true));
    ASSERT_TRUE(wait_for_output(s.logger, " \r", 5000)); // streaming
    expect_q_ends_run(1200);
    EXPECT_TRUE(log_lines(s).empty());
}

TEST_F(RunEnd, QEndsAStreamingRunWithStatusZeroAndWholeLines)
{
    ASSERT_TRUE(start_unit(s, {"-r", "500"}));
    ASSERT_TRUE(start_logger(s, {"-m", "a", "-t", "0.002"}));
    ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000));
    send_keys(s.logger, "xq");
    const auto asked = clock_type::now();
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    EXPECT_LT(clock_type::now() - asked, std::chrono::milliseconds(500));
    const std::vector<std::string> lines = log_lines(s);
    ASSERT_FALSE(lines.empty());
    expect_lines_one_to(lines, static_cast<long long>(lines.size()));
}

TEST_F(RunEnd, AHangUpWhileStreamingEndsInOrderWithWholeLines)
{
    ASSERT_TRUE(start_unit(s, {"-r", "2000"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000));
    kill(s.logger.pid, SIGHUP);
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    const std::vector<std::string> lines = log_lines(s);
    ASSERT_FALSE(lines.empty());
    expect_lines_one_to(lines, static_cast<long long>(lines.size()));
}

TEST_F(RunEnd, QEndsTheRunQuicklyWhileTheUnitNeverAnswers)
{
    ASSERT_TRUE(start_unit(s, {"--ignore", "PcGC"})); // answers nothing
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    ASSERT_TRUE(wait_for_output(s.logger, "AHRS does not acknowledge mode c", 5000))
        << s.logger.said;
    expect_q_ends_run(2000);
    EXPECT_NE(s.logger.said.find("AHRS does not acknowledge mode c"), std::string::npos)
        << s.logger.said;
    EXPECT_TRUE(log_lines(s).empty());
}

TEST_F(RunEnd, AStopSignalEndsTheExchangeWithAUnitThatNeverAnswers)
{
    ASSERT_TRUE(start_unit(s, {"--ignore", "PaGC"})); // answers nothing
    ASSERT_TRUE(start_logger(s, {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = clock_type::now();
    kill(s.logger.pid, SIGTERM);
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    EXPECT_LT(clock_type::now() - asked, std::chrono::milliseconds(500));
    EXPECT_TRUE(log_lines(s).empty());
}

class AStopSignalWhileTheUnitIsSilent : public session_table<int> {};

TEST_P(AStopSignalWhileTheUnitIsSilent, KeepsEveryLine)
{
    ASSERT_TRUE(start_unit(s, {"-r", "0", "-n", "500"}));
    ASSERT_TRUE(start_logger(s, {"-m", "a", "-t", "0.01"}));
    ASSERT_TRUE(wait_for_output(s.logger, "AHRS silent for 1 s", 15000)) << s.logger.said;
    const auto asked = clock_type::now();
    kill(s.logger.pid, GetParam());
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    EXPECT_LT(clock_type::now() - asked, std::chrono::milliseconds(1500));
    expect_lines_one_to(log_lines(s), 500);
}
INSTANTIATE_TEST_SUITE_P(RunEnd, AStopSignalWhileTheUnitIsSilent,
                         testing::Values(SIGINT, SIGTERM, SIGQUIT),
                         testing::PrintToStringParamName());

} // namespace
