// End-to-end runs: the emulated unit on a pseudo-terminal, the built logger
// on its path, each in a temporary directory of its own.
#pragma once

#include "files.h"
#include "process.h"

#include <string>
#include <vector>

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
void end_session(unit_session& session);
// Ends the session and begins a fresh one, for a test that runs several.
void restart_session(unit_session& session);

// The log file's lines, and the command bytes the unit received, in order.
std::vector<std::string> log_lines(const unit_session& session);
std::string commands_sent(const unit_session& session);

// The first field of each log line, as written ("%d").
std::vector<long long> counts_of(const std::vector<std::string>& lines);
// The last field of each log line: the unit's own counter.
std::vector<unsigned> counters_of(const std::vector<std::string>& lines);
std::vector<std::string> fields_of(const std::string& line);
// The command bytes the unit received, in order, with their arrival in ms.
struct command_byte {
    double at_ms;
    char byte;
};
std::vector<command_byte> commands_of(const std::string& log_commands_text);
