#include "serial/device.h"

#include "packet/packet.h"

#include <cstdio>

namespace {

constexpr std::uint8_t command_stop = 'P';
constexpr std::uint8_t command_get = 'G';
constexpr std::uint8_t command_continuous = 'C';

enum trouble { keeps_sending = 2, no_acknowledgement = 3 };

// One exchange with the unit; `buffer` is where every command is placed and
// every reply read, 256 bytes.
struct exchange {
    serial_port& port;
    std::uint8_t* buffer;
    bool lost = false;
};

void send(exchange& x, std::uint8_t command)
{
    x.buffer[0] = command;
    bool gone = false;
    if (!port_write(x.port.handle, x.buffer, 1, gone) && gone)
        x.lost = true;
}

std::uint32_t receive(exchange& x, std::uint32_t wanted)
{
    const port_read_result got = read_some(x.port, x.buffer, wanted);
    if (got.gone)
        x.lost = true;
    return got.count;
}

serial_status ended_early(const exchange& x)
{
    if (x.lost)
        return serial_status::lost;
    if (stop_requested())
        return serial_status::interrupted;
    return serial_status::ok;
}

// Milliseconds left of a step that began at `start`; 0 once it is past its
// limit.
std::uint32_t step_left_ms(std::int64_t start)
{
    const std::int64_t left = exchange_step_limit_ms - (elapsed_ms() - start);
    return left < 0 ? 0 : static_cast<std::uint32_t>(left + 1);
}

// "P", wait 100 ms, read what came; again until a read brings nothing.
// Reads that keep bringing bytes may be a backlog queued before the first "P"
// being emptied, 255 bytes a round: while what waits to be read keeps
// shrinking the unit has stopped, and the step's second counts from the
// latest round in which it shrank.
serial_status quiet_unit(exchange& x, device_notes& notes, char mode)
{
    std::int64_t start = elapsed_ms();
    std::uint32_t waiting_before = bytes_waiting(x.port);
    for (;;) {
        send(x, command_stop);
        sleep_ms(100);
        const std::uint32_t count = receive(x, 255);
        if (const serial_status early = ended_early(x); early != serial_status::ok)
            return early;
        if (count == 0)
            return serial_status::ok;
        const std::uint32_t waiting = bytes_waiting(x.port);
        if (waiting < waiting_before)
            start = elapsed_ms();
        waiting_before = waiting;
        if (step_left_ms(start) == 0) {
            say_once(notes, keeps_sending,
                     "AHRS does not stop sending on P; starting the exchange again\n", mode);
            return serial_status::silent;
        }
    }
}

// The mode letter until the unit acknowledges it; other bytes are dropped.
// When a letter brings no byte at all the unit may be off or unplugged: the
// exchange then waits for its first byte, read at once, or the end of the
// step, so that a silent unit costs a few wake-ups a second, not hundreds.
serial_status select_mode(exchange& x, device_notes& notes, char mode)
{
    const int acknowledgement = expected_acknowledgement(mode);
    if (acknowledgement == 0)
        return serial_status::ok;
    const std::int64_t start = elapsed_ms();
    for (;;) {
        send(x, static_cast<std::uint8_t>(mode));
        sleep_ms(1);
        if (receive(x, 1) == 0 && wait_for_byte(x.port, step_left_ms(start)))
            receive(x, 1);
        if (const serial_status early = ended_early(x); early != serial_status::ok)
            return early;
        // When nothing came, the buffer still holds the letter just sent,
        // which never equals its acknowledgement.
        if (x.buffer[0] == acknowledgement)
            return serial_status::ok;
        if (step_left_ms(start) == 0) {
            say_once(notes, no_acknowledgement,
                     "AHRS does not acknowledge mode %c; starting the exchange again\n", mode);
            return serial_status::silent;
        }
    }
}

} // namespace

int expected_acknowledgement(char mode)
{
    return static_cast<signed char>(mode) - 32;
}

void say_once(device_notes& notes, int what, const char* message, char mode)
{
    if (notes.last_said == what)
        return;
    notes.last_said = what;
    std::printf(message, mode);
    // Rare, and wanted at once also where standard output is a pipe or a file.
    std::fflush(stdout);
}

serial_status init_device(serial_port& port, char mode, std::uint32_t& packet_length,
                          device_notes& notes)
{
    std::uint8_t buffer[256];
    exchange x{port, buffer};

    if (serial_status s = quiet_unit(x, notes, mode); s != serial_status::ok)
        return s;
    if (serial_status s = select_mode(x, notes, mode); s != serial_status::ok)
        return s;
    if (serial_status s = quiet_unit(x, notes, mode); s != serial_status::ok)
        return s;

    // The unit answers "G" with one packet; its size is the packet length.
    send(x, command_get);
    sleep_ms(100);
    const std::uint32_t length = receive(x, 255);
    if (const serial_status early = ended_early(x); early != serial_status::ok)
        return early;
    check_packet(mode, buffer, length);

    send(x, command_continuous);
    if (x.lost)
        return serial_status::lost;
    packet_length = length;
    return serial_status::ok;
}
