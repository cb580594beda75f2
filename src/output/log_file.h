// The log file: whole lines gathered in blocks that a writer thread of the
// log's own writes (log_queue.h), handed over when a block fills and at
// least about once a second, so that a fast unit costs few writes, a process
// killed outright loses about a second of lines at most, and a disk that
// holds its writes never holds up the reading of the port. What goes wrong
// is told once, at once (`log_file::tell`): a write the system refuses (a
// full disk, a file-size limit), every block waiting to be written while a
// write is held (the lines that find no room are counted), a file deleted
// during the run.
// The file keeps only whole lines.
#pragma once

#include "output/log_queue.h"
#include "system/file_platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imutap {

// What the log tells the user, as it happens: a write the system refused
// (`error` its number), every block waiting while a write is held (`number`
// the seconds it has been held), written again after either (`number` the
// lines lost so far), the file deleted, the file that could not be emptied
// (`error`).
enum class log_news {
    write_failed,
    write_blocked,
    written_again,
    deleted,
    cannot_empty,
};

struct log_note {
    log_news what;
    long long number = 0;
    int error = 0;
};

struct log_file;

// Who says it: the run layer, which holds the texts. Left unset, nothing is
// said.
using log_teller = void (*)(const log_file& log, const log_note& note);

struct log_file {
    const char* name = nullptr;
    log_teller tell = nullptr;
    // The block being filled: whole lines not yet handed over. None (-1,
    // no room) while every block waits to be written.
    std::int32_t block = -1;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t used = 0;
    std::uint32_t lines = 0;
    std::int64_t last_write_ms = 0;
    // What the run has said of the writer's news: the failures and
    // recoveries said so far, whether "lines are being lost" stands unended
    // by "written again", whether lines are being dropped for want of room,
    // and whether the deletion was said.
    std::uint32_t seen_news = 0;
    std::uint32_t failures_seen = 0;
    std::uint32_t recoveries_seen = 0;
    bool losing_said = false;
    bool dropping = false;
    bool deleted_said = false;
    std::uint64_t lines_dropped = 0; // found no room in the queue
    // At the end, once closed: every line lost, and whether the file was
    // deleted.
    std::uint64_t lines_lost = 0;
    bool deleted = false;
    log_queue queue;
};

// Lines wait at most this long in the block while the run goes on.
constexpr std::int64_t log_write_interval_ms = 1000;

// Creates the log file, or opens it as it is, for this run's exclusive use;
// the lines wait in `store`, `block_count` blocks of `block_size` bytes (each
// at least a line's length), which outlives the log file.
file_open_result log_open(const char* name, log_file& log, char* store, std::size_t block_size,
                          std::uint32_t block_count, int& error);

// Empties the log file once the run may begin, before any line is handed
// over: a run that cannot even set up its port leaves the last run's log as
// it was. Tells the failure.
bool log_empty(log_file& log);

// Hands the lines of the block to the writer and takes a free one.
void log_write_out(log_file& log);

// Makes room for a line of `length` bytes; false when there is none (the
// line is counted as lost).
bool log_make_room(log_file& log, std::size_t length);

// Adds one whole line (line end included, at most a block's size).
inline void log_put_line(log_file& log, const char* line, std::size_t length)
{
    if (log.capacity - log.used < length && !log_make_room(log, length))
        return;
    std::memcpy(log.buffer + log.used, line, length);
    log.used += length;
    ++log.lines;
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

// Tells what the writer has told since the last look.
void log_say_news(log_file& log);

// A look at the writer's news, cheap enough for every pass.
inline void log_look(log_file& log)
{
    if (log.queue.news.load(std::memory_order_relaxed) != log.seen_news)
        log_say_news(log);
}

// Writes out what is held and closes the file; false when the close failed.
bool log_close(log_file& log);

} // namespace imutap
