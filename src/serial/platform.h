// The operating-system operations the serial port rests on. Everything above
// this interface is written once; platform_posix.cpp and platform_win32.cpp
// each provide all of it for their system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imutap {

// The timing the logger uses a port with, "queued or first byte": a read
// returns at once with what the system has queued (at most what was asked
// for), else waits at most `first_byte_wait_ms` (1 to 2^31 - 1) for a first
// byte and returns with what has come; it never waits for more. A packet
// read does the same with `packet_wait_ms` (Linux: whole tenths of a second,
// 100 to 25500). A write whose bytes cannot go out within `write_wait_ms`
// (the port's output held) gives up; 0: a write waits as long as it takes.
struct port_timing {
    std::uint32_t first_byte_wait_ms = 0;
    std::uint32_t write_wait_ms = 0;
    std::uint32_t packet_wait_ms = 0;
};

// What may cut a wait on the port short: the run layer sets it, the serial
// code only asks. `ended` is asked wherever a wait may end early, cheaply and
// often: true once the run is to end (a stop signal came, `q` was taken).
// `look` is a look at the keyboard, once a round of the exchange and once a
// step of a held write: it may take a key, and is true when the run is to
// end. Either may be left unset: the wait then goes on.
struct interruption {
    bool (*ended)(void* context) = nullptr;
    bool (*look)(void* context) = nullptr;
    void* context = nullptr;
};

inline bool run_ended(const interruption& stop)
{
    return stop.ended != nullptr && stop.ended(stop.context);
}

inline bool keyboard_ends_run(const interruption& stop)
{
    return stop.look != nullptr && stop.look(stop.context);
}

// An open serial port. `os` is the file descriptor or the Windows handle.
// Linux waits by `timing` itself; Windows keeps the timing inside the port.
// `stop` outlives the port's closing and opening again.
struct port_handle {
    std::intptr_t os = -1;
    port_timing timing{};
    interruption stop{};
};

// How a set-up step that reads the port's settings and then writes them
// back changed ended; last_error() tells why it failed.
enum class port_setup {
    done,
    read_failed,
    write_failed
};

// What one read from the port gave.
struct port_read_result {
    std::uint32_t count = 0; // bytes stored
    bool gone = false; // the device has gone away (unplugged, hung up)
    // The read's whole wait for a first byte ran out without one: how long
    // that wait was asked to be (0 when bytes came, a signal ended the wait
    // or the device is gone). A pause of the process inside the wait counts
    // no more than this.
    std::uint32_t waited_ms = 0;
};

// Each returns false on failure; last_error() then gives the system's number.
bool port_create(const char* name, port_handle& port);
// Sizes the system's queues of the port. A documented no-op on Linux, where
// the kernel sizes a tty's queues itself.
bool port_setup_queues(port_handle& port, std::uint32_t input_size, std::uint32_t output_size);
// Sets the rate and puts the line into the one state the unit's link needs,
// whatever an earlier program left: 8 data bits, binary, no parity, one stop
// bit, no flow control of any kind (XON/XOFF, RTS/CTS, DTR/DSR), no error
// character. The modem lines stay as the port keeps them, and every other
// setting goes back as it was read.
port_setup port_set_line(port_handle& port, std::uint32_t baud_rate);
// Puts the port under `timing`. Windows reads the port's timeouts before it
// writes them; Linux has nothing to read.
port_setup port_set_timing(port_handle& port, const port_timing& timing);
// One read under the port's timing. A signal ends the wait early.
port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted);
// A read for the steady stream of packets: like port_read, but one system
// call that waits at most `packet_wait_ms` for a first byte (Windows: one
// ReadFile under the port's timing, as port_read). A signal ends the wait
// early.
port_read_result port_read_packet(port_handle& port, void* buffer, std::uint32_t wanted);
// Waits at most `milliseconds` for a first byte to be queued; returns at once
// when one is, when the device is gone or when the port's `stop` says the run
// ends. True when it ended on the port (a byte, or a device that may be
// gone).
bool port_wait(port_handle& port, std::uint32_t milliseconds);
// False when the bytes could not be sent; `gone` tells whether the device is
// lost. A write whose bytes cannot go out within the write timeout (the
// port's output held) gives up; on Linux so does one the port's `stop` ends
// (its `look` is asked at each step of the wait).
bool port_write(port_handle& port, const void* bytes, std::uint32_t count, bool& gone);
bool port_close(port_handle& port);
int last_error();
// True when the file name names the port's own device (through another path
// or a link too). Neither is opened.
bool port_names_file(const char* port_name, const char* file_name);

} // namespace imutap
