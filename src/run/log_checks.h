// The log file's name, looked at before anything is created or written:
// names that are refused, and a named pipe that waits for its reader.
#pragma once

#include "serial/port.h"

#include <cstdint>

namespace imutap {

// True when the log file may not be `name`: the serial port itself (by its
// device, or by its path whether or not it exists yet), or the file that
// standard output writes. Says why.
bool log_name_refused(const char* name, const port_choice& port);

// For a named pipe nobody reads yet as the log: says so and waits for a
// reader. False when a stop signal ended the wait. `held` (-1 or an open
// handle) keeps the pipe open for its reader until log_reader_release,
// after the log file's open.
bool wait_for_log_reader(const char* name, std::intptr_t& held);
void log_reader_release(std::intptr_t held);

} // namespace imutap
