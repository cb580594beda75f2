// The operating-system operations of the console and the process: standard
// output, the keyboard and the stop signals (the clock and the sleeps are in
// clock.h).
// console_posix.cpp with keyboard_posix.cpp, and console_win32.cpp, each
// provide all of it for their system.
#pragma once

#include "system/clock.h"

#include <cstddef>
#include <cstdint>

namespace imutap {

// Console: switches standard output to unbuffered when it is a terminal (or
// anything else that may hold a writer up: a pipe, a socket) and installs
// the stop handlers (stop_handlers_begin).
void console_begin();
// Writes to standard output what it takes now, without waiting; returns the
// bytes written (0 when it takes nothing now), or -1 when it can take nothing
// ever again (its reader gone). Output that never holds a writer up (a file)
// goes through the standard output stream as ever.
std::ptrdiff_t console_write_now(const char* bytes, std::size_t count);
// True when every write reaches standard output's reader at once, each
// waking it: a terminal or a pipe, where the stream is unbuffered. False for
// a file or /dev/null, which the stream buffers.
bool console_writes_at_once();

// True when standard output is a terminal (a console on Windows), where a
// display line overwrites itself.
bool console_is_terminal();

// Writes all of it to standard output, waiting as long as that takes; false
// on failure (or when a signal ends the wait).
bool console_write_all(const char* bytes, std::size_t count);
// Called once the log file is closed, as the very last step of a run: a
// console close event may end the process only after it.
void console_end();

// The stop handlers: interrupt, quit, terminate and hang-up on Linux (with
// the keyboard mode applied again after a stop and continue), the console's
// control events on Windows. Part of console_begin.
void stop_handlers_begin();
// True once an interrupt, quit, terminate or hang-up signal (or a console
// close) came.
bool stop_requested();

// Keyboard: non-canonical, no echo while the run goes on; restored by
// keyboard_end on every way out.
void keyboard_begin();
void keyboard_end();
// True when a key is waiting; never waits.
bool key_waiting();
// The code of one waiting key, taken without echo; -1 when there is none.
int key_read();

} // namespace imutap
