// A test fixture with a fresh unit session for each test: a temporary
// directory, and the emulated unit and the logger as the test starts them.
#pragma once

#include "unit_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

class session_test : public testing::Test {
  protected:
    void SetUp() override
    {
        begin_session(s);
    }
    void TearDown() override
    {
        end_session(s);
    }

    // Starts the unit and the logger; once the logger has said that the unit
    // is silent, q ends the run with status 0. The log's lines.
    std::vector<std::string> log_until_silent(const std::vector<std::string>& unit_options,
                                              const std::vector<std::string>& logger_options,
                                              int timeout_ms = 15000)
    {
        EXPECT_TRUE(start_unit(s, unit_options));
        EXPECT_TRUE(start_logger(s, logger_options));
        EXPECT_TRUE(wait_for_output(s.logger, "AHRS silent for 1 s", timeout_ms)) << s.logger.said;
        send_keys(s.logger, "q");
        EXPECT_EQ(wait_exit(s.logger, 5000), 0) << s.logger.said;
        return log_lines(s);
    }

    // Gives the logger q: it ends with status 0 (waited for at most
    // `wait_ms`) less than `within_ms` after the key.
    void expect_q_ends_run(int within_ms, int wait_ms = 5000)
    {
        send_keys(s.logger, "q");
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(wait_exit(s.logger, wait_ms), 0) << s.logger.said;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(within_ms));
    }

    // Lines 1 to n, each complete.
    void expect_lines_one_to(const std::vector<std::string>& lines, long long n)
    {
        ASSERT_EQ(static_cast<long long>(lines.size()), n);
        const std::vector<long long> counts = counts_of(lines);
        for (long long i = 0; i < n; ++i)
            EXPECT_EQ(counts[i], i + 1);
        const std::string log = read_file(s.dir + "/log.txt");
        EXPECT_TRUE(log.empty() || log.back() == '\n');
    }

    unit_session s;
};

// A session test for each row of a table: each row is a ctest test of its
// own, so that slow rows run beside other tests.
template <typename Row>
class session_table : public session_test, public testing::WithParamInterface<Row> {
};

// Names a table's tests by their rows' `name`, or by the row itself when it
// is a word.
struct by_name {
    std::string operator()(const testing::TestParamInfo<const char*>& info) const
    {
        return info.param;
    }
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const
    {
        return info.param.name;
    }
};
