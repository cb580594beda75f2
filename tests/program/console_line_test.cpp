// The live line and the program's own messages on the console.
#include "session_test.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class AtATerminal : public session_table<const char*> {};

// At a terminal a message starts below the live line, and the run ends on a
// fresh line, so the shell's prompt does not overwrite the last values.
// A pipe gets the bytes it always got. (A terminal shows "\n" as "\r\n".)
TEST_P(AtATerminal, MessagesAndTheEndLeaveTheLiveLineStanding)
{
    const bool terminal = GetParam() == std::string("Terminal");
    const std::string message = "AHRS silent for 1 s; initialising it again";
    ASSERT_TRUE(start_unit(s, {"-r", "1000", "--silence", "300:1500"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}, terminal));
    ASSERT_TRUE(wait_for_output(s.logger, message, 10000)) << s.logger.said;
    const std::size_t said_at = s.logger.said.find(message);
    ASSERT_TRUE(wait_until(
        s.logger, [&] { return s.logger.said.find(" \r", said_at) != std::string::npos; }, 10000))
        << s.logger.said.substr(said_at);
    send_keys(s.logger, "q");
    EXPECT_EQ(wait_exit(s.logger, 3000), 0);
    const std::string& said = s.logger.said;
    // The live line, and then a fresh line at a terminal.
    const std::string line_end = terminal ? " \r\r\n" : " \r";
    EXPECT_EQ(said.substr(said_at - line_end.size(), line_end.size()), line_end);
    ASSERT_GE(said.size(), line_end.size());
    EXPECT_EQ(said.substr(said.size() - line_end.size()), line_end);
}
INSTANTIATE_TEST_SUITE_P(ConsoleLine, AtATerminal, testing::Values("Terminal", "Pipe"), by_name());

} // namespace
