// The logger on a serial line that an earlier program left in some other state.
#include "session_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

class LineState : public session_test {};

// The whole run on a line left raw, with software flow control both ways, and
// with that plus hardware flow control, 7 bits, parity checked and marked and
// the 8th bit stripped. From counter 4371 (0x1113) on, the answer to "G" holds
// 0x11 and 0x13, the first 236 packets hold 0x11 and packet 256 holds 0x13.
// A lone bad packet, six in a row that initialise the unit again (paced, so
// that the unit stops before its next packet), the unit unplugged and plugged
// in again (a new pty left the same way): every good packet is logged, the
// same on every line.
TEST_F(LineState, ALineLeftInAnyStateIsSetUpRawAndEveryPacketLogged)
{
    std::string raw_log;
    for (const char* state : {"raw", "xonxoff", "7e1-rtscts"}) {
        SCOPED_TRACE(state);
        ASSERT_TRUE(start_unit(s, {"--line", state, "--start-seq", "4371", "-r", "200", "-n", "300",
                                   "--bad-checksum", "20,95-100", "--replug", "200:300"}));
        // The line's settings are shared by every descriptor of it: this one
        // shows what the logger set.
        const int line = open(s.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(line, 0);
        ASSERT_TRUE(start_logger(s, {"-m", "c"}));
        // Set up before the first command; the unit is plugged out much later.
        wait_until(
            s.logger, [&] { return commands_sent(s).find('C') != std::string::npos; }, 5000);
        struct termios during;
        ASSERT_EQ(tcgetattr(line, &during), 0) << std::strerror(errno);
        close(line);
        EXPECT_EQ(during.c_iflag & (IXON | IXOFF | IXANY | ISTRIP | INPCK | PARMRK | IGNPAR), 0u);
        EXPECT_EQ(during.c_cflag & (CSIZE | PARENB | CRTSCTS), static_cast<tcflag_t>(CS8));
        EXPECT_EQ(during.c_oflag & OPOST, 0u);

        ASSERT_TRUE(wait_for_output(s.logger, "serial port back", 15000)) << s.logger.said;
        ASSERT_TRUE(wait_for_output(s.logger, "AHRS silent for 1 s", 15000)) << s.logger.said;
        send_keys(s.logger, "q");
        EXPECT_EQ(wait_exit(s.logger, 5000), 0);
        EXPECT_EQ(occurrences(s.logger.said, "bad checksum"), 7u) << s.logger.said;
        const std::string sent = commands_sent(s);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 3) << sent;
        const std::string log = read_file(s.dir + "/log.txt");
        EXPECT_EQ(log_lines(s).size(), 293u);
        if (raw_log.empty())
            raw_log = log;
        else
            EXPECT_EQ(log, raw_log);
        restart_session(s);
    }
}

// The unit holds the logger's output for good (XOFF on a line with software
// flow control): each command gives up after a second, and q or a stop signal
// ends the run about a second later at most, every line whole.
class AHeldOutput : public session_table<int> {};

TEST_P(AHeldOutput, NeverKeepsQOrAStopSignalWaiting)
{
    const int ending = GetParam(); // 0: q
    ASSERT_TRUE(start_unit(s, {"-r", "1000", "-n", "200", "--hold-output", "100:600000"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    ASSERT_TRUE(wait_for_output(s.logger, "AHRS does not acknowledge mode c", 15000))
        << s.logger.said;
    const auto asked = clock_type::now();
    if (ending == 0)
        send_keys(s.logger, "q");
    else
        kill(s.logger.pid, ending);
    EXPECT_EQ(wait_exit(s.logger, 5000), 0);
    EXPECT_LT(clock_type::now() - asked, std::chrono::milliseconds(1500));
    const std::vector<long long> counts = counts_of(log_lines(s));
    ASSERT_EQ(counts.size(), 100u);
    EXPECT_EQ(counts.back(), 100);
}
INSTANTIATE_TEST_SUITE_P(LineState, AHeldOutput, testing::Values(0, SIGINT, SIGTERM),
                         testing::PrintToStringParamName());

} // namespace
