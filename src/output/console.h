// The console's output while the run acquires: display lines and messages.
// Neither ever holds the run up: a console that takes nothing now (a
// terminal stopped with Ctrl-S, a pipe nobody reads) costs display lines,
// and messages wait for it in a small store.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace imutap {

// Writes a display line when the console takes it now; skips it otherwise,
// and also while messages still wait. A line the console takes only part of
// is finished before anything else is written. At a terminal or a pipe a
// line that comes less than 50 ms after the last write goes out with the
// next one (or before the next message, or when the run waits for the unit).
void console_show(const char* line, std::size_t length);

// Writes a message, or owes it to the console, to be written once it takes
// output again. A message there is no room for is counted, and the count said
// once the console has caught up.
void console_message(const char* text, std::size_t length);
[[gnu::format(printf, 1, 2)]] void console_say(const char* format, ...);
[[gnu::format(printf, 1, 0)]] void console_say_list(const char* format, std::va_list values);

// A rare message about the unit, the port or the log file: said like
// console_say, and wanted at once also where standard output is a file.
[[gnu::format(printf, 1, 2)]] void console_note(const char* format, ...);
[[gnu::format(printf, 1, 0)]] void console_note_list(const char* format, std::va_list values);

// Writes what waits, as far as the console takes it now.
void console_catch_up();

// At the end of the run: writes what waits, waiting for the console.
void console_drain();

} // namespace imutap
