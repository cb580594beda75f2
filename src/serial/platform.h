// The operating-system operations the logger rests on: the serial port, the
// waits, the clock, the keyboard and the stop signals. Everything above this
// interface is written once; platform_posix.cpp and platform_win32.cpp each
// provide all of it for their system.
#pragma once

#include <cstddef>
#include <cstdint>

// An open serial port. `os` is the file descriptor or the Windows handle;
// `first_byte_wait_ms` is where the POSIX backend keeps the read timing that
// Windows keeps inside the port itself.
struct port_handle {
    std::intptr_t os = -1;
    std::uint32_t first_byte_wait_ms = 0;
};

// The port's line settings as read from it. Only the rate, the parity and
// the stop bits are ever changed; `native` carries the rest of the system's
// own record back unchanged.
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
// False when the byte could not be sent; `gone` tells whether the device is lost.
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

// Console: switches standard output to unbuffered when it is a terminal and
// installs the stop handlers (interrupt, terminate, hang-up).
void console_begin();
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
// True once an interrupt, terminate or hang-up signal (or a console close) came.
bool stop_requested();
