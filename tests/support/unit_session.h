// End-to-end runs: the emulated unit on a pseudo-terminal, the built logger
// on its path, each in a temporary directory of its own.
#pragma once

#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

struct process {
    pid_t pid = -1;
    int input = -1;  // the child's standard input (a pipe, or a pty master)
    int output = -1; // the child's standard output (a pipe, or the same pty master)
    std::string said; // standard output read so far
    struct termios terminal_found{}; // a pty's settings before the child started
};

struct unit_session {
    std::string dir;
    std::string link; // the emulated unit's tty
    process unit;
    process logger;
};

// A fresh temporary directory; removed by end_session.
void begin_session(unit_session& session);
// Starts the emulated unit on `session.link` with these options and waits
// until its tty is there.
bool start_unit(unit_session& session, const std::vector<std::string>& options);
// Starts the logger on the unit: log file log.txt in the directory, `-c link`
// appended. With `terminal` its standard input and output are a pty.
bool start_logger(unit_session& session, const std::vector<std::string>& options,
                  bool terminal = false);
// Reads the logger's output until `text` shows up; false after `timeout_ms`.
bool wait_for_output(process& child, const std::string& text, int timeout_ms);
void send_keys(process& child, const std::string& keys);
// Reads the child's output for `ms`; true when it is still running after it.
bool runs_on_for(process& child, int ms);
// The exit status (0-255), 128+signal, or -1 when it had to be killed after
// `timeout_ms`. Reads the rest of its output meanwhile.
int wait_exit(process& child, int timeout_ms);
void stop_unit(unit_session& session);
void end_session(unit_session& session);
// Ends the session and begins a fresh one, for a test that runs several.
void restart_session(unit_session& session);

// The log file's lines, and the command bytes the unit received, in order.
std::vector<std::string> log_lines(const unit_session& session);
std::string commands_sent(const unit_session& session);

std::string read_file(const std::string& path);
std::vector<std::string> lines_of(const std::string& text);
// The first field of each log line, as written ("%d").
std::vector<long long> counts_of(const std::vector<std::string>& lines);
// The command bytes the unit received, in order, with their arrival in ms.
struct command_byte {
    double at_ms;
    char byte;
};
std::vector<command_byte> commands_of(const std::string& log_commands_text);
