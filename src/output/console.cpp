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
constexpr std::size_t owed_capacity = 4096;

// Standard output's own store for the run, as stdio has one for a stream:
// the bytes owed to the console, taken by it not yet, in order, from `start`
// to `end`.
struct owed_output {
    char bytes[owed_capacity];
    std::size_t start = 0;
    std::size_t end = 0;
    std::uint32_t lost = 0; // messages there was no room for
    bool gone = false; // the console can take nothing ever again
};
owed_output owed;

void owe(const char* text, std::size_t length)
{
    if (owed.start != 0) {
        std::memmove(owed.bytes, owed.bytes + owed.start, owed.end - owed.start);
        owed.end -= owed.start;
        owed.start = 0;
    }
    if (length > owed_capacity - owed.end) {
        if (owed.lost < UINT32_MAX)
            ++owed.lost;
        return;
    }
    std::memcpy(owed.bytes + owed.end, text, length);
    owed.end += length;
}

// Puts the count of the messages there was no room for into the empty store.
void owe_lost_note()
{
    const int length = std::snprintf(owed.bytes, owed_capacity, console_messages_lost,
                                     static_cast<unsigned>(owed.lost));
    owed.start = 0;
    owed.end = static_cast<std::size_t>(length);
    owed.lost = 0;
}

// Writes what the console takes now; -1 once it can take nothing ever again.
std::ptrdiff_t write_now(const char* text, std::size_t length)
{
    const std::ptrdiff_t written = console_write_now(text, length);
    if (written < 0) {
        owed.gone = true;
        owed.start = owed.end = 0;
        owed.lost = 0;
    }
    return written;
}

// True when nothing waits any more: what was owed has gone out, and so has
// the count of what there was no room for.
bool write_owed()
{
    for (;;) {
        while (owed.start < owed.end) {
            const std::ptrdiff_t written =
                write_now(owed.bytes + owed.start, owed.end - owed.start);
            if (written <= 0)
                return owed.gone;
            owed.start += static_cast<std::size_t>(written);
        }
        owed.start = owed.end = 0;
        if (owed.lost == 0)
            return true;
        owe_lost_note();
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
    if (!write_owed() || owed.gone)
        return;
    const std::ptrdiff_t written = write_now(lines, length);
    if (written <= 0 || static_cast<std::size_t>(written) == length || lines[written - 1] == '\r')
        return;
    const char* const rest = lines + written;
    const char* const line_end = static_cast<const char*>(
        std::memchr(rest, '\r', length - static_cast<std::size_t>(written)));
    owe(rest, line_end != nullptr ? static_cast<std::size_t>(line_end + 1 - rest)
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
// owes the rest.
void put(const char* text, std::size_t length)
{
    live_line_shows = false;
    write_gathered();
    if (write_owed()) {
        if (owed.gone)
            return;
        const std::ptrdiff_t written = write_now(text, length);
        if (written < 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
        if (length == 0)
            return;
    }
    owe(text, length);
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
    if (owed.end != 0 || owed.lost != 0)
        write_owed();
}

void console_drain()
{
    leave_live_line();
    write_gathered();
    while (!owed.gone) {
        if (owed.start < owed.end &&
            !console_write_all(owed.bytes + owed.start, owed.end - owed.start))
            owed.gone = true;
        owed.start = owed.end = 0;
        if (owed.lost == 0)
            return;
        owe_lost_note();
    }
}

} // namespace imutap
