#include "output/console.h"

#include "output/messages.h"

#include "system/console_platform.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace imutap {

namespace {

// Room for several dumps of bad packets (about 770 bytes at most each).
constexpr std::size_t kept_capacity = 4096;

// Standard output's own store for the run, as stdio keeps one for a stream:
// bytes taken by no console yet, in order, from `start` to `end`.
struct kept_output {
    char bytes[kept_capacity];
    std::size_t start = 0;
    std::size_t end = 0;
    std::uint32_t lost = 0; // messages there was no room to keep
    bool gone = false; // the console can take nothing ever again
};
kept_output kept;

void keep(const char* text, std::size_t length)
{
    if (kept.start != 0) {
        std::memmove(kept.bytes, kept.bytes + kept.start, kept.end - kept.start);
        kept.end -= kept.start;
        kept.start = 0;
    }
    if (length > kept_capacity - kept.end) {
        if (kept.lost < UINT32_MAX)
            ++kept.lost;
        return;
    }
    std::memcpy(kept.bytes + kept.end, text, length);
    kept.end += length;
}

// Puts the count of the messages not kept into the empty store.
void keep_lost_note()
{
    const int length = std::snprintf(kept.bytes, kept_capacity, console_messages_lost,
                                     static_cast<unsigned>(kept.lost));
    kept.start = 0;
    kept.end = static_cast<std::size_t>(length);
    kept.lost = 0;
}

// Writes what the console takes now; -1 once it can take nothing ever again.
std::ptrdiff_t write_now(const char* text, std::size_t length)
{
    const std::ptrdiff_t written = console_write_now(text, length);
    if (written < 0) {
        kept.gone = true;
        kept.start = kept.end = 0;
        kept.lost = 0;
    }
    return written;
}

// True when nothing waits any more: what was kept has gone out, and so has
// the count of what could not be kept.
bool write_kept()
{
    for (;;) {
        while (kept.start < kept.end) {
            const std::ptrdiff_t written =
                write_now(kept.bytes + kept.start, kept.end - kept.start);
            if (written <= 0)
                return kept.gone;
            kept.start += static_cast<std::size_t>(written);
        }
        kept.start = kept.end = 0;
        if (kept.lost == 0)
            return true;
        keep_lost_note();
    }
}

// Display lines gathered for one write. At a terminal or a pipe every write
// wakes the reader on the other side, and at 1,000 packets/s a line comes
// every 10 ms, faster than an eye can follow: lines that come sooner than
// show_interval_ms after the last write wait for the next one. The console
// gets the same bytes, in the same order, in fewer writes.
constexpr std::int64_t show_interval_ms = 50;
constexpr std::size_t gathered_capacity = 2048;

struct gathered_lines {
    char bytes[gathered_capacity];
    std::size_t used = 0;
    std::int64_t last_write_ms = -show_interval_ms;
};
gathered_lines gathered;

// A display line was the last thing written or gathered: at a terminal the
// cursor stands at the start of the live line, and a message written now
// would overwrite its start.
bool live_line_shows = false;

// Writes display lines when the console takes them now; skips them
// otherwise, and also while messages still wait. A line the console takes
// only part of is finished before anything else is written; the lines after
// it are skipped.
void show_now(const char* lines, std::size_t length)
{
    // Behind waiting messages a display line would be old when it showed.
    if (!write_kept() || kept.gone)
        return;
    const std::ptrdiff_t written = write_now(lines, length);
    if (written <= 0 || static_cast<std::size_t>(written) == length || lines[written - 1] == '\r')
        return;
    const char* const rest = lines + written;
    const char* const line_end = static_cast<const char*>(
        std::memchr(rest, '\r', length - static_cast<std::size_t>(written)));
    keep(rest, line_end != nullptr ? static_cast<std::size_t>(line_end + 1 - rest)
                                   : length - static_cast<std::size_t>(written));
}

// Writes the gathered display lines, or skips them.
void write_gathered()
{
    if (gathered.used == 0)
        return;
    const std::size_t used = gathered.used;
    gathered.used = 0;
    show_now(gathered.bytes, used);
}

// Writes `text` after what waits, as far as the console takes it now, and
// keeps the rest.
void put(const char* text, std::size_t length)
{
    live_line_shows = false;
    write_gathered();
    if (write_kept()) {
        if (kept.gone)
            return;
        const std::ptrdiff_t written = write_now(text, length);
        if (written < 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
        if (length == 0)
            return;
    }
    keep(text, length);
}

// At a terminal, leaves the live line where it stands and goes on below it.
void leave_live_line()
{
    if (live_line_shows && console_is_terminal())
        put("\n", 1);
}

} // namespace

void console_show(const char* line, std::size_t length)
{
    live_line_shows = true;
    // A file takes the lines through the stream's own buffer.
    if (!console_writes_at_once()) {
        show_now(line, length);
        return;
    }
    if (length > gathered_capacity - gathered.used)
        write_gathered();
    if (length > gathered_capacity) {
        show_now(line, length);
        return;
    }
    std::memcpy(gathered.bytes + gathered.used, line, length);
    gathered.used += length;
    const std::int64_t now_ms = elapsed_ms();
    if (now_ms - gathered.last_write_ms >= show_interval_ms) {
        gathered.last_write_ms = now_ms;
        write_gathered();
    }
}

void console_message(const char* text, std::size_t length)
{
    put(text, length);
}

void console_say(const char* format, ...)
{
    va_list values;
    va_start(values, format);
    console_say_list(format, values);
    va_end(values);
}

void console_say_list(const char* format, std::va_list values)
{
    char text[512];
    const int length = std::vsnprintf(text, sizeof text, format, values);
    if (length > 0)
        put(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

void console_note(const char* format, ...)
{
    va_list values;
    va_start(values, format);
    console_note_list(format, values);
    va_end(values);
}

void console_note_list(const char* format, std::va_list values)
{
    leave_live_line();
    console_say_list(format, values);
    std::fflush(stdout);
}

void console_catch_up()
{
    write_gathered();
    if (kept.end != 0 || kept.lost != 0)
        write_kept();
}

void console_drain()
{
    leave_live_line();
    write_gathered();
    while (!kept.gone) {
        if (kept.start < kept.end &&
            !console_write_all(kept.bytes + kept.start, kept.end - kept.start))
            kept.gone = true;
        kept.start = kept.end = 0;
        if (kept.lost == 0)
            return;
        keep_lost_note();
    }
}

} // namespace imutap
