// The logger as a job of an interactive shell with job control on a
// terminal: started in the background, or sent there with Ctrl-Z and bg.
#include "session_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <termios.h>

namespace {

// The state letter of a process (R, S, T for stopped ...); 0 once it is gone.
char state_of(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t name_end = stat.rfind(')');
    return name_end == std::string::npos || name_end + 2 >= stat.size() ? 0 : stat[name_end + 2];
}

// The number after `lead` in what the shell said, or -1.
long number_after(const std::string& said, const std::string& lead)
{
    const std::size_t at = said.rfind(lead);
    if (at == std::string::npos)
        return -1;
    return std::strtol(said.c_str() + at + lead.size(), nullptr, 10);
}

// Started with &, ended by a stop signal through the shell; or started in the
// foreground, sent to the background with Ctrl-Z and bg, brought back with fg
// and ended with q.
struct way {
    const char* name;
    const char* signal; // empty: Ctrl-Z, bg, fg and q
};
class ABackgroundRun : public session_table<way> {
  protected:
    void TearDown() override
    {
        if (logger_pid > 0 && state_of(logger_pid) != 0)
            kill(logger_pid, SIGKILL);
        logger_pid = -1;
        end_process(shell);
        session_test::TearDown();
    }

    process shell;
    pid_t logger_pid = -1;
};

TEST_P(ABackgroundRun, LogsWithoutStoppingAndEndsInOrder)
{
    const way& w = GetParam();
    const bool signalled = w.signal[0] != '\0';
    ASSERT_TRUE(start_unit(s, {"-r", "500"}));
    spawn_setup setup;
    setup.own_session = true;
    setup.error_to_output = true;
    ASSERT_TRUE(
        start_on_pty(shell, {"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"}, setup));
    send_keys(shell, "echo ready-$((6*7))\n");
    ASSERT_TRUE(wait_for_output(shell, "ready-42", 10000)) << shell.said;
    struct termios before;
    ASSERT_EQ(tcgetattr(shell.input, &before), 0);

    const std::string command =
        std::string("'") + IMUTAP_PROGRAM + "' '" + s.dir + "/log.txt' -m c -c '" + s.link + "'";
    if (signalled) {
        // The quotes keep the echo of the typed line from matching.
        send_keys(shell, command + " & echo logger''-pid=$!\n");
        ASSERT_TRUE(wait_for_output(shell, "logger-pid=", 5000)) << shell.said;
        ASSERT_TRUE(wait_until(
            shell, [&] { return number_after(shell.said, "logger-pid=") > 0; }, 2000));
        logger_pid = static_cast<pid_t>(number_after(shell.said, "logger-pid="));
    } else {
        send_keys(shell, command + "\n");
        ASSERT_TRUE(wait_for_output(shell, " \r", 5000)) << shell.said; // streaming
        send_keys(shell, "\x1a"); // Ctrl-Z
        ASSERT_TRUE(wait_for_output(shell, "Stopped", 5000)) << shell.said;
        send_keys(shell, "bg; echo logger''-pid=$(jobs -p %1)\n");
        ASSERT_TRUE(wait_until(
            shell, [&] { return number_after(shell.said, "logger-pid=") > 0; }, 5000))
            << shell.said;
        logger_pid = static_cast<pid_t>(number_after(shell.said, "logger-pid="));
    }
    // In the background: it logs on and is never stopped.
    const std::size_t lines_then = log_lines(s).size();
    ASSERT_TRUE(wait_until(
        shell, [&] { return log_lines(s).size() > lines_then + 500; }, 10000))
        << "no lines in the background; state " << state_of(logger_pid);
    EXPECT_NE(state_of(logger_pid), 'T');
    struct termios during;
    ASSERT_EQ(tcgetattr(shell.input, &during), 0);
    EXPECT_TRUE(same_settings(during, before)) << "the terminal's settings were changed";

    if (signalled) {
        send_keys(shell, std::string("kill -") + w.signal + " %1; wait %1; echo sta''tus=$?\n");
    } else {
        // In the foreground again it takes the keyboard, and q ends it.
        send_keys(shell, "fg\n");
        ASSERT_TRUE(wait_until(
            shell,
            [&] {
                return tcgetattr(shell.input, &during) == 0 &&
                       (during.c_lflag & (ICANON | ECHO)) == 0;
            },
            5000));
        send_keys(shell, "q");
        ASSERT_TRUE(wait_until(
            shell, [&] { return state_of(logger_pid) == 0; }, 5000));
        send_keys(shell, "echo sta''tus=$?\n");
    }
    ASSERT_TRUE(wait_until(
        shell, [&] { return number_after(shell.said, "status=") >= 0; }, 5000))
        << shell.said;
    EXPECT_EQ(number_after(shell.said, "status="), 0) << shell.said;
    ASSERT_TRUE(wait_until(
        shell, [&] { return state_of(logger_pid) == 0; }, 5000));

    // Every line kept, whole; the terminal as it was.
    const std::vector<std::string> lines = log_lines(s);
    ASSERT_GT(lines.size(), 500u);
    const std::vector<long long> counts = counts_of(lines);
    for (std::size_t i = 0; i < counts.size(); ++i)
        ASSERT_EQ(counts[i], static_cast<long long>(i) + counts[0]) << lines[i];
    const std::string log = read_file(s.dir + "/log.txt");
    EXPECT_EQ(log.back(), '\n');
    struct termios after;
    ASSERT_EQ(tcgetattr(shell.input, &after), 0);
    EXPECT_TRUE(same_settings(after, before));
}
INSTANTIATE_TEST_SUITE_P(JobControl, ABackgroundRun,
                         testing::Values(way{"AndTerm", "TERM"}, way{"AndInt", "INT"},
                                         way{"AndHup", "HUP"}, way{"CtrlZBgFgQ", ""}),
                         by_name());

} // namespace
