// The operating-system operations the logger rests on: the serial port, the
// waits, the clock, the keyboard and the stop signals. Everything above this
// interface is written once; platform_posix.cpp and platform_win32.cpp each
// provide all of it for their system.
#pragma once

#include <cstddef>
#include <cstdint>

// An open serial port. `os` is the file descriptor or the Windows handle;
// `first_byte_wait_ms` and `write_wait_ms` are where the POSIX backend keeps
// the read and write timing that Windows keeps inside the port itself.
struct port_handle {
    std::intptr_t os = -1;
    std::uint32_t first_byte_wait_ms = 0;
    std::uint32_t write_wait_ms = 0; // 0: a write waits as long as it takes
};

// The port's line settings as read from it. The rate, the parity and the
// stop bits are chosen by the caller; port_set_state also puts the line into
// the one state the unit's link needs, whatever an earlier program left: 8
// data bits, binary, no parity checking, no flow control of any kind (XON/XOFF,
// RTS/CTS, DTR/DSR), no error character. The modem lines stay as the port
// keeps them. `native` carries the rest of the system's own record back
// unchanged.
struct line_settings {
    std::uint32_t baud_rate = 0;
    std::uint8_t parity = 0;    // 0: none
    std::uint8_t stop_bits = 0; // 0: one stop bit
    alignas(8) unsigned char native[128] = {};
};

// Read and write timeouts in milliseconds, as the serial interface of
// Windows defines them.
struct port_timeouts {
    std::uint32_t read_interval = 0;
    std::uint32_t read_multiplier = 0;
    std::uint32_t read_constant = 0;
    std::uint32_t write_multiplier = 0;
    std::uint32_t write_constant = 0;
};

constexpr std::uint32_t max_dword = 0xFFFFFFFFu;

// What one read from the port gave.
struct port_read_result {
    std::uint32_t count = 0; // bytes stored
    bool gone = false;       // the device has gone away (unplugged, hung up)
};

// Each returns false on failure; last_error() then gives the system's number.
bool port_create(const char* name, port_handle& port);
bool port_setup_queues(port_handle& port, std::uint32_t input_size, std::uint32_t output_size);
bool port_get_state(port_handle& port, line_settings& settings);
bool port_set_state(port_handle& port, const line_settings& settings);
bool port_get_timeouts(port_handle& port, port_timeouts& timeouts);
bool port_set_timeouts(port_handle& port, const port_timeouts& timeouts);
// Returns at once with what is queued (at most `wanted`), else waits at most
// the read timeout for a first byte, else returns no bytes. A stop signal
// ends the wait early.
port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted);
// How many received bytes the system holds that no read has taken yet;
// false when it cannot tell.
bool port_queued(port_handle& port, std::uint32_t& count);
// Waits at most `milliseconds` for a first byte to be queued; returns at once
// when one is, when the device is gone or when a stop signal comes. True when
// it ended on the port (a byte, or a device that may be gone).
bool port_wait(port_handle& port, std::uint32_t milliseconds);
// False when the bytes could not be sent; `gone` tells whether the device is
// lost. A write whose bytes cannot go out within the write timeout (the
// port's output held) gives up; on Linux so does one during which a stop
// signal or a key comes.
bool port_write(port_handle& port, const void* bytes, std::uint32_t count, bool& gone);
bool port_close(port_handle& port);
int last_error();
// True when the file name names the port's own device (through another path
// or a link too). Neither is opened.
bool port_names_file(const char* port_name, const char* file_name);

// Suspends the thread; a stop signal ends the wait early.
void sleep_ms(std::uint32_t milliseconds);
// Milliseconds elapsed since program start, from a monotonic clock.
std::int64_t elapsed_ms();

// Console: switches standard output to unbuffered when it is a terminal (or
// anything else that may hold a writer up: a pipe, a socket) and installs
// the stop handlers (interrupt, quit, terminate, hang-up).
void console_begin();
// Writes to standard output what it takes now, without waiting; returns the
// bytes written (0 when it takes nothing now), or -1 when it can take nothing
// ever again (its reader gone). Output that never holds a writer up (a file)
// goes through the standard output stream as ever.
std::ptrdiff_t console_write_now(const char* bytes, std::size_t count);
// Writes all of it to standard output, waiting as long as that takes; false
// on failure (or when a signal ends the wait).
bool console_write_all(const char* bytes, std::size_t count);
// Called once the log file is closed, as the very last step of a run: a
// console close event may end the process only after it.
void console_end();
// Keyboard: non-canonical, no echo while the run goes on; restored by
// keyboard_end on every way out.
void keyboard_begin();
void keyboard_end();
// True when a key is waiting; never waits.
bool key_waiting();
// The code of one waiting key, taken without echo; -1 when there is none.
int key_read();
// True once an interrupt, quit, terminate or hang-up signal (or a console
// close) came.
bool stop_requested();
