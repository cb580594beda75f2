// The exchange that brings the unit into continuous output.
#pragma once

#include "output/messages.h"
#include "serial/port.h"

#include <cstdint>

namespace imutap {

// Which trouble with the unit was said last, so that a unit that keeps
// failing the same way is reported once, not once a second.
struct device_notes {
    unit_note last_said = unit_note::none;
};

// A unit that keeps sending through "P", or a mode letter that goes this
// long without an acknowledgement, is said once.
constexpr std::int64_t exchange_step_limit_ms = 1000;

// What may cut the exchange short (a stop signal, `q`): the run layer sets
// it, and the exchange asks it once a round, about every 100 ms while it
// quiets the unit and at least every half second while it waits for an
// acknowledgement.
struct interruption {
    bool (*requested)(void* context) = nullptr;
    void* context = nullptr;
};

// The unit's acknowledgement of a mode letter: the letter, taken as a signed
// character, minus 32. Zero means no mode command is sent; below zero the
// unit can never acknowledge it.
int expected_acknowledgement(char mode);

// Quiets the unit ("P" until silent), selects the mode, quiets it again,
// learns the packet length from its answer to "G" and starts continuous
// output with "C". The answer is taken whole however slowly it comes at the
// line's `baud_rate`. A unit that does not acknowledge is asked again, ever
// less often, for as long as it takes. Returns ok with `packet_length` set,
// or how it ended early: `silent` for a unit that keeps sending through "P",
// sends other bytes but no acknowledgement, or cannot be sent a command
// (said once on standard output); `interrupted` when `stop` asked for it.
serial_status init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          std::uint32_t& packet_length, device_notes& notes,
                          const interruption& stop = {});

// Says the note unless it was the last thing said about the unit.
[[gnu::format(printf, 3, 4)]] void say_once(device_notes& notes, unit_note what, const char* format,
                                            ...);

} // namespace imutap
