// The serial port: set-up, and exact reads through a read-ahead buffer.
#pragma once

#include "serial/platform.h"

#include <cstdint>

namespace imutap {

// How an exchange with the unit, or a packet read, ended.
enum class serial_status {
    ok, // done
    silent, // the unit did not answer in time (the run layer says so)
    lost, // the port has gone away
    interrupted, // a stop signal came
};

// The open port with the bytes read from it but not yet handed out. Every read
// of the program is served from `ahead` first, in order; the buffer is filled
// only with what the system has already queued.
struct serial_port {
    port_handle handle;
    bool open = false;
    std::uint32_t ahead_start = 0;
    std::uint32_t ahead_end = 0;
    std::uint8_t ahead[4096];
};

// Which port: a device path, or "COM" followed by the port digit.
struct port_choice {
    char digit = '1';
    const char* path = nullptr;
    std::int32_t baud_rate = 38400;
};

constexpr std::uint32_t queue_size = 4096;
constexpr std::uint32_t first_byte_wait_ms = 5;
// A packet read waits this long for a first byte, in one system call: the
// unit's silence is judged on a far longer time, in steps of this wait.
constexpr std::uint32_t packet_wait_ms = 100;
// The longest a write of a command may wait for the port to take it.
constexpr std::uint32_t write_wait_ms = 1000;
// A packet read that sees no byte for this long gives up, unless told a
// longer limit for a unit that sends packets further apart.
constexpr std::int64_t silent_unit_ms = 1000;

// The step of open_port that failed, and the system's error number then.
enum class port_step {
    none,
    open,
    queues,
    get_line,
    set_line,
    get_timing,
    set_timing,
};

struct port_failure {
    port_step step = port_step::none;
    int error = 0;
};

// Opens and sets up the port. On failure it closes what it opened, sets
// `failure` (the run layer says it) and returns false.
bool open_port(const port_choice& choice, serial_port& port, port_failure& failure);

// True when `file_name` is the chosen port itself.
bool port_is_file(const port_choice& choice, const char* file_name);

// Closes the port; false (with last_error()) when the system refused.
bool close_port(serial_port& port);

// One read: what is buffered or queued, at most `wanted` bytes, waiting at
// most first_byte_wait_ms for a first byte.
port_read_result read_some(serial_port& port, std::uint8_t* destination, std::uint32_t wanted);

// Waits at most `milliseconds` for a first byte; returns at once when one is
// buffered or queued, when the device is gone or when a stop signal comes.
// True when a read may now bring a byte (or find the device gone).
bool wait_for_byte(serial_port& port, std::uint32_t milliseconds);

// Stores exactly `length` bytes at `destination`, however they arrive; takes
// no byte beyond them. Ends early when the unit stays silent for
// `silent_limit_ms`, the port is lost or a stop signal comes. Only waits
// that ran out without a byte count towards the silence, each as long as it
// was asked to be: after a pause of the process what the system queued
// meanwhile is read first.
serial_status read_packet(serial_port& port, std::uint32_t length, std::uint8_t* destination,
                          std::int64_t silent_limit_ms = silent_unit_ms);

} // namespace imutap
