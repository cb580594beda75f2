#include "serial/device.h"

#include "system/clock.h"
#include "system/deadline.h"

#include <algorithm>

namespace imutap {

namespace {

// One exchange with the unit; `buffer` is where every command is placed and
// every reply read, 256 bytes.
struct exchange {
    serial_port& port;
    std::uint8_t* buffer;
    const unit_trouble_hook& told;
    bool lost = false;
    bool held = false; // a command could not go out in time
};

void send(exchange& talk, char command)
{
    talk.buffer[0] = static_cast<std::uint8_t>(command);
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

void meet(const exchange& talk, unit_note what)
{
    if (talk.told.met != nullptr)
        talk.told.met(talk.told.context, what);
}

bool run_ends(const exchange& talk)
{
    return run_ended(talk.port.handle.stop);
}

// A command that could not go out ends the exchange as a unit that does not
// answer does.
serial_status ended_early(exchange& talk)
{
    if (talk.lost)
        return serial_status::lost;
    if (run_ends(talk))
        return serial_status::interrupted;
    if (talk.held) {
        meet(talk, unit_note::no_acknowledgement);
        return serial_status::silent;
    }
    return serial_status::ok;
}

// The round's look at the keyboard.
bool interrupted(const exchange& talk)
{
    return keyboard_ends_run(talk.port.handle.stop);
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

// How long one quieting round goes on reading what has come: a backlog is
// read away in a round or two, however large, while a device that keeps
// sending cannot hold a round up.
constexpr std::int64_t round_read_limit_ms = 50;

// What has come, read and dropped, 255 bytes a read: reads that wait at most
// first_byte_wait_ms each, until one brings nothing or the round's time to
// read is up. Returns the bytes read (0 when the first read brings nothing).
std::uint32_t read_away(exchange& talk)
{
    const deadline until = deadline_after(elapsed_ms(), round_read_limit_ms);
    std::uint32_t count = 0;
    for (;;) {
        const std::uint32_t more = receive(talk, 255);
        count += more;
        if (more == 0 || talk.lost || run_ends(talk) || deadline_passed(until, elapsed_ms()))
            return count;
    }
}

// "P", wait 100 ms, read what came; again until a read brings nothing. Each
// round reads away all that has come, so a round that brings bytes means a
// unit still sending: a backlog queued before the first "P" is gone after
// the first round or two. Rounds that keep bringing bytes for a second are a
// unit that does not stop.
serial_status quiet_unit(exchange& talk)
{
    const deadline step = step_deadline();
    for (;;) {
        send(talk, command_stop);
        sleep_ms(100);
        const std::uint32_t count = read_away(talk);
        if (const serial_status early = ended_early(talk); early != serial_status::ok)
            return early;
        if (count == 0)
            return serial_status::ok;
        if (interrupted(talk))
            return serial_status::interrupted;
        if (step_over(step)) {
            meet(talk, unit_note::keeps_sending);
            return serial_status::silent;
        }
    }
}

// A unit busy finishing a packet or still waking up may let a mode letter
// pass: the letter is sent again at the exchange's own pace (1 ms, then a
// read that waits first_byte_wait_ms for the answer, and the line's time
// below 9600 baud) this many times, and
// from then on each letter waits longer for its answer, from
// first_slow_wait_ms and doubling up to slowest_wait_ms, so that a unit that
// is off costs a few wake-ups a second and one that comes back is asked
// again within half a second.
constexpr int letters_at_full_pace = 12;
constexpr std::uint32_t first_slow_wait_ms = 10;
constexpr std::uint32_t slowest_wait_ms = 500;
// The first letter's answer is waited for this much longer: a unit, or a
// machine, slow to wake for it then costs no second letter.
constexpr std::uint32_t first_letter_grace_ms = 10;

// What the letter and its answer take on the line (two characters of ten
// bits, and a millisecond for the adapter) beyond the read's own wait: at
// 2400 baud 5 ms more, at 9600 and above nothing.
std::uint32_t line_answer_extra_ms(std::int32_t baud_rate)
{
    if (baud_rate <= 0)
        return 0;
    const std::int64_t both_ms = (2 * 10 * 1000 + baud_rate - 1) / baud_rate + 1;
    return both_ms > first_byte_wait_ms ? static_cast<std::uint32_t>(both_ms - first_byte_wait_ms)
                                        : 0;
}

// The mode letter until the unit acknowledges it; other bytes are dropped.
// A second without an acknowledgement is a trouble met; a unit that sent
// other bytes meanwhile is quieted again, one that sent nothing is asked on.
serial_status select_mode(exchange& talk, char mode, std::int32_t baud_rate)
{
    const int acknowledgement = expected_acknowledgement(mode);
    if (acknowledgement == 0)
        return serial_status::ok;
    deadline step = step_deadline();
    bool other_bytes = false; // since the step began
    int letters = 0;
    const std::uint32_t line_wait_ms = line_answer_extra_ms(baud_rate);
    std::uint32_t answer_wait_ms = first_letter_grace_ms + line_wait_ms; // beyond the read's own
    std::uint32_t slow_wait_ms = 0;
    for (;;) {
        send(talk, mode);
        sleep_ms(1);
        std::uint32_t count = receive(talk, 1);
        if (count == 0 && answer_wait_ms > 0 && wait_for_byte(talk.port, answer_wait_ms))
            count = receive(talk, 1);
        if (const serial_status early = ended_early(talk); early != serial_status::ok)
            return early;
        // When nothing came, the buffer still holds the letter just sent,
        // which never equals its acknowledgement.
        if (talk.buffer[0] == acknowledgement)
            return serial_status::ok;
        other_bytes = other_bytes || count > 0;
        if (++letters < letters_at_full_pace) {
            answer_wait_ms = line_wait_ms;
        } else {
            slow_wait_ms = slow_wait_ms == 0 ? first_slow_wait_ms
                                             : std::min(2 * slow_wait_ms, slowest_wait_ms);
            answer_wait_ms = std::max(slow_wait_ms, line_wait_ms);
        }
        if (interrupted(talk))
            return serial_status::interrupted;
        if (step_over(step)) {
            meet(talk, unit_note::no_acknowledgement);
            if (other_bytes)
                return serial_status::silent;
            step = step_deadline();
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
        if (run_ends(talk))
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

device_result init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          const unit_trouble_hook& told)
{
    device_result result;
    std::uint8_t buffer[256];
    exchange talk{port, buffer, told};
    const auto ended = [&](serial_status status) {
        result.status = status;
        return result;
    };

    if (serial_status s = quiet_unit(talk); s != serial_status::ok)
        return ended(s);
    if (serial_status s = select_mode(talk, mode, baud_rate); s != serial_status::ok)
        return ended(s);
    if (serial_status s = quiet_unit(talk); s != serial_status::ok)
        return ended(s);

    // The unit answers "G" with one packet; its size is the packet length.
    send(talk, command_get);
    sleep_ms(100);
    const std::uint32_t length = receive_answer(talk, answer_gap_ms(baud_rate));
    if (const serial_status early = ended_early(talk); early != serial_status::ok)
        return ended(early);
    // The length is learned all the same: bad packets that follow bring the
    // unit up again.
    result.answered = true;
    result.packet_length = length;
    std::copy(buffer, buffer + length, result.answer);

    send(talk, command_continuous);
    return ended(ended_early(talk));
}

} // namespace imutap
