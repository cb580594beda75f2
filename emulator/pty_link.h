// The unit's end of the link: the pseudo-terminal, the link path that points at it, and
// holding the logger's output.
#pragma once

#include "options.h"

#include <cstddef>
#include <string>
#include <termios.h>

namespace imutap_emu {

// The unit's end of a pseudo-terminal. The emulator keeps the slave open itself for the
// pty's whole life, so a logger may close and reopen it at will without hanging it up.
// Because of that descriptor the tty also outlives a logger's exclusive mode (TIOCEXCL),
// which on a real port ends with the last close: the emulator watches the slave for
// closes by other programs and then ends exclusive mode itself.
struct pty_link {
    int master = -1; // non-blocking
    int slave = -1; // only held open, and asked how much input waits
    int close_watch = -1; // inotify descriptor reporting closes of the slave; -1: none
    char slave_path[64] = {};
    bool held = false; // the logger's output is held (see hold_output)
    termios before_hold{};
};

// Opens a new pty, slave in raw mode (no echo, no translation), then set up as `state`
// says. On failure says why.
bool open_unit_pty(pty_link& link, line_state state, std::string& error);
void close_unit_pty(pty_link& link);
bool pty_open(const pty_link& link);

// Reads the close reports; after a close by another program, ends exclusive mode if it
// is on and returns true.
bool release_exclusive_after_close(const pty_link& link);

// Holds the logger's output as a device that sends XOFF on a line with software flow
// control does: turns IXON on for the slave and sends XOFF (0x13) to it. The logger's
// writes then wait until release_output sends XON (0x11) and puts the settings back.
bool hold_output(pty_link& link);
void release_output(pty_link& link);

// Bytes waiting in the slave's input queue (sent by the unit, not yet read).
std::size_t slave_input_waiting(const pty_link& link);

// Points the symlink at target: a temporary link renamed over the old one, so the path
// never goes missing. Refuses to replace anything but a symlink.
bool point_link(const std::string& link_path, const char* target, std::string& error);

// Removes the symlink if it still points at target.
void remove_link(const std::string& link_path, const char* target);

} // namespace imutap_emu
