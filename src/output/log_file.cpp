#include "output/log_file.h"

#include "output/console.h"
#include "output/messages.h"

#include <algorithm>

namespace imutap {

file_open_result log_open(const char* name, log_file& log, char* buffer, std::size_t capacity,
                          int& error)
{
    log = log_file{};
    log.name = name;
    log.buffer = buffer;
    log.capacity = capacity;
    return file_create_exclusive(name, log.handle, error);
}

bool log_empty(log_file& log)
{
    const int error = file_empty(log.handle);
    if (error == 0)
        return true;
    char reason[256];
    error_text(error, reason, sizeof reason);
    console_note(log_file_cannot_create, log.name, reason);
    return false;
}

void log_write_out(log_file& log)
{
    if (log.used == 0)
        return;
    std::uint32_t written = 0;
    const int error =
        file_write(log.handle, log.buffer, static_cast<std::uint32_t>(log.used), written);
    if (error == 0) {
        log.size += log.used;
        log.used = 0;
        if (log.failing) {
            log.failing = false;
            console_note(log_written_again, static_cast<unsigned long long>(log.lines_lost));
        }
        return;
    }
    // Keep what went out up to its last line end; a line cut short is cut
    // off, so the next line written starts on a line of its own.
    const char* begin = log.buffer;
    const char* end = begin + written;
    const std::size_t whole = static_cast<std::size_t>(
        std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(begin), '\n').base() -
        begin);
    if (whole != written)
        file_cut(log.handle, log.size + whole);
    log.size += whole;
    log.lines_lost +=
        static_cast<std::uint64_t>(std::count(log.buffer + whole, log.buffer + log.used, '\n'));
    log.used = 0;
    if (!log.failing) {
        log.failing = true;
        char reason[256];
        error_text(error, reason, sizeof reason);
        console_note(log_write_failed, reason);
    }
}

bool log_close(log_file& log)
{
    log_write_out(log);
    const bool closed = file_close(log.handle);
    log.handle = -1;
    return closed;
}

} // namespace imutap
