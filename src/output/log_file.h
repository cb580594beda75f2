// The log file: whole lines held in a buffer and handed to the system when
// it fills and at least about once a second, so that a fast unit costs few
// writes and a process killed outright loses about a second of lines at
// most. A write the system refuses (a full disk) is said once, the lines
// it held are counted as lost, and the file keeps only whole lines.
#pragma once

#include "output/file_platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imutap {

struct log_file {
    const char* name = nullptr;
    std::intptr_t handle = -1;
    char* buffer = nullptr; // whole lines not yet handed to the system
    std::size_t capacity = 0;
    std::size_t used = 0;
    std::uint64_t size = 0; // bytes in the file, all of them whole lines
    std::int64_t last_write_ms = 0;
    bool failing = false; // the latest write failed
    std::uint64_t lines_lost = 0;
};

// Lines wait at most this long in the buffer while the run goes on.
constexpr std::int64_t log_write_interval_ms = 1000;

// Creates the log file, or opens it as it is, for this run's exclusive use;
// the lines are held in `buffer`, which outlives the log file.
file_open_result log_open(const char* name, log_file& log, char* buffer, std::size_t capacity,
                          int& error);

// Empties the log file once the run may begin: a run that cannot even set
// up its port leaves the last run's log as it was. Says so on failure.
bool log_empty(log_file& log);

// Hands every line held to the system. On failure the lines that did not go
// out whole are lost (counted), and a line cut short is cut off the file.
void log_write_out(log_file& log);

// Adds one whole line (line end included, at most the buffer's size).
inline void log_put_line(log_file& log, const char* line, std::size_t length)
{
    if (log.capacity - log.used < length)
        log_write_out(log);
    std::memcpy(log.buffer + log.used, line, length);
    log.used += length;
}

// Whether the last timed write is an interval ago: the caller writes out
// now, and the next interval starts.
inline bool log_write_due(log_file& log, std::int64_t now_ms)
{
    if (now_ms - log.last_write_ms < log_write_interval_ms)
        return false;
    log.last_write_ms = now_ms;
    return true;
}

// Writes out what is held and closes the file; false when the close failed.
bool log_close(log_file& log);

} // namespace imutap
