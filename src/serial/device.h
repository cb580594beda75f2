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

// Each step of the exchange gives up after this long without the answer it
// waits for, so the keyboard and the signals are looked at about once a second.
constexpr std::int64_t exchange_step_limit_ms = 1000;

// The unit's acknowledgement of a mode letter: the letter, taken as a signed
// character, minus 32. Zero means no mode command is sent; below zero the
// unit can never acknowledge it.
int expected_acknowledgement(char mode);

// Quiets the unit ("P" until silent), selects the mode, quiets it again,
// learns the packet length from its answer to "G" and starts continuous
// output with "C". The answer is taken whole however slowly it comes at the
// line's `baud_rate`. Returns ok with `packet_length` set, or how it ended
// early (a step past its limit is `silent`, said once on standard output).
serial_status init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          std::uint32_t& packet_length, device_notes& notes);

// Says the note unless it was the last thing said about the unit.
[[gnu::format(printf, 3, 4)]] void say_once(device_notes& notes, unit_note what, const char* format,
                                            ...);

} // namespace imutap
