#include "output/console.h"

#include "output/messages.h"

#include "output/console_platform.h"

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

// Writes `text` after what waits, as far as the console takes it now, and
// keeps the rest.
void put(const char* text, std::size_t length)
{
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

} // namespace

void console_show(const char* line, std::size_t length)
{
    // Behind waiting messages a display line would be old when it showed.
    if (!write_kept() || kept.gone)
        return;
    const std::ptrdiff_t written = write_now(line, length);
    if (written > 0 && static_cast<std::size_t>(written) < length)
        keep(line + written, length - static_cast<std::size_t>(written));
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
    console_say_list(format, values);
    std::fflush(stdout);
}

void console_catch_up()
{
    if (kept.end != 0 || kept.lost != 0)
        write_kept();
}

void console_drain()
{
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
