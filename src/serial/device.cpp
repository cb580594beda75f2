#include "serial/device.h"

#include "output/console.h"
#include "output/console_platform.h"
#include "output/messages.h"
#include "packet/packet.h"
#include "serial/deadline.h"

#include <cstdarg>

namespace imutap {

namespace {

constexpr std::uint8_t command_stop = 'P';
constexpr std::uint8_t command_get = 'G';
constexpr std::uint8_t command_continuous = 'C';

// One exchange with the unit; `buffer` is where every command is placed and
// every reply read, 256 bytes.
struct exchange {
    serial_port& port;
    std::uint8_t* buffer;
    bool lost = false;
    bool held = false; // a command could not go out in time
};

void send(exchange& talk, std::uint8_t command)
{
    talk.buffer[0] = command;
    bool gone = false;
    if (!port_write(talk.port.handle, talk.buffer, 1, gone)) {
        talk.lost = gone;
        talk.held = !gone;
    }
}

std::uint32_t receive(exchange& talk, std::uint32_t wanted)
{
    const port_read_result got = read_some(talk.port, talk.buffer, wanted);
    if (got.gone)
        talk.lost = true;
    return got.count;
}

// A command that could not go out ends the exchange as a unit that does not
// answer does.
serial_status ended_early(const exchange& talk, device_notes& notes, char mode)
{
    if (talk.lost)
        return serial_status::lost;
    if (stop_requested())
        return serial_status::interrupted;
    if (talk.held) {
        say_once(notes, unit_note::no_acknowledgement, unit_no_acknowledgement, mode);
        return serial_status::silent;
    }
    return serial_status::ok;
}

// The end of a step that begins now: it is past its limit once more than
// exchange_step_limit_ms have gone by.
deadline step_deadline()
{
    return deadline_after(elapsed_ms(), exchange_step_limit_ms + 1);
}

bool step_over(deadline step)
{
    return deadline_passed(step, elapsed_ms());
}

std::uint32_t step_left_ms(deadline step)
{
    return static_cast<std::uint32_t>(deadline_left_ms(step, elapsed_ms()));
}

// "P", wait 100 ms, read what came; again until a read brings nothing.
// Reads that keep bringing bytes may be a backlog queued before the first "P"
// being emptied, 255 bytes a round: while what waits to be read keeps
// shrinking the unit has stopped, and the step's second counts from the
// latest round in which it shrank.
serial_status quiet_unit(exchange& talk, device_notes& notes, char mode)
{
    deadline step = step_deadline();
    std::uint32_t waiting_before = bytes_waiting(talk.port);
    for (;;) {
        send(talk, command_stop);
        sleep_ms(100);
        const std::uint32_t count = receive(talk, 255);
        if (const serial_status early = ended_early(talk, notes, mode); early != serial_status::ok)
            return early;
        if (count == 0)
            return serial_status::ok;
        const std::uint32_t waiting = bytes_waiting(talk.port);
        if (waiting < waiting_before)
            step = step_deadline();
        waiting_before = waiting;
        if (step_over(step)) {
            say_once(notes, unit_note::keeps_sending, unit_keeps_sending);
            return serial_status::silent;
        }
    }
}

// The mode letter until the unit acknowledges it; other bytes are dropped.
// When a letter brings no byte at all the unit may be off or unplugged: the
// exchange then waits for its first byte, read at once, or the end of the
// step, so that a silent unit costs a few wake-ups a second, not hundreds.
serial_status select_mode(exchange& talk, device_notes& notes, char mode)
{
    const int acknowledgement = expected_acknowledgement(mode);
    if (acknowledgement == 0)
        return serial_status::ok;
    const deadline step = step_deadline();
    for (;;) {
        send(talk, static_cast<std::uint8_t>(mode));
        sleep_ms(1);
        if (receive(talk, 1) == 0 && wait_for_byte(talk.port, step_left_ms(step)))
            receive(talk, 1);
        if (const serial_status early = ended_early(talk, notes, mode); early != serial_status::ok)
            return early;
        // When nothing came, the buffer still holds the letter just sent,
        // which never equals its acknowledgement.
        if (talk.buffer[0] == acknowledgement)
            return serial_status::ok;
        if (step_over(step)) {
            say_once(notes, unit_note::no_acknowledgement, unit_no_acknowledgement, mode);
            return serial_status::silent;
        }
    }
}

// The pause that ends the unit's answer to "G": eight character times of ten
// bits at the line's rate, and never less than a read's own wait for a first
// byte. Eight rather than one or two: a USB adapter hands on what it received
// in pieces, up to 16 ms apart.
std::int64_t answer_gap_ms(std::int32_t baud_rate)
{
    constexpr std::int64_t bits_in_gap = 8 * 10;
    std::int64_t gap = first_byte_wait_ms;
    if (baud_rate > 0)
        gap = (bits_in_gap * 1000 + baud_rate - 1) / baud_rate;
    return gap > first_byte_wait_ms ? gap : first_byte_wait_ms;
}

// The answer to "G", read after the wait: what has come by then, and more as
// long as bytes keep coming, up to 255. At a slow rate the answer takes
// longer than the wait; once it has ended, only one gap is waited for.
std::uint32_t receive_answer(exchange& talk, std::int64_t gap_ms)
{
    std::uint32_t length = 0;
    deadline answer_end = deadline_after(elapsed_ms(), gap_ms);
    while (length < 255) {
        const port_read_result got = read_some(talk.port, talk.buffer + length, 255 - length);
        if (got.gone) {
            talk.lost = true;
            break;
        }
        if (stop_requested())
            break;
        const std::int64_t now = elapsed_ms();
        if (got.count > 0) {
            length += got.count;
            answer_end = deadline_after(now, gap_ms);
        } else if (deadline_passed(answer_end, now)) {
            break;
        }
    }
    return length;
}

} // namespace

int expected_acknowledgement(char mode)
{
    return static_cast<signed char>(mode) - 32;
}

void say_once(device_notes& notes, unit_note what, const char* format, ...)
{
    if (notes.last_said == what)
        return;
    notes.last_said = what;
    va_list values;
    va_start(values, format);
    console_note_list(format, values);
    va_end(values);
}

serial_status init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          std::uint32_t& packet_length, device_notes& notes)
{
    std::uint8_t buffer[256];
    exchange talk{port, buffer};

    if (serial_status s = quiet_unit(talk, notes, mode); s != serial_status::ok)
        return s;
    if (serial_status s = select_mode(talk, notes, mode); s != serial_status::ok)
        return s;
    if (serial_status s = quiet_unit(talk, notes, mode); s != serial_status::ok)
        return s;

    // The unit answers "G" with one packet; its size is the packet length.
    send(talk, command_get);
    sleep_ms(100);
    const std::uint32_t length = receive_answer(talk, answer_gap_ms(baud_rate));
    if (const serial_status early = ended_early(talk, notes, mode); early != serial_status::ok)
        return early;
    report_packet(mode, buffer, length);

    send(talk, command_continuous);
    if (const serial_status early = ended_early(talk, notes, mode); early != serial_status::ok)
        return early;
    packet_length = length;
    return serial_status::ok;
}

} // namespace imutap
