// The exchange that brings the unit into continuous output.
#pragma once

#include "serial/port.h"

#include <cstdint>

namespace imutap {

// The troubles with the unit that are said once, not once a second.
enum class unit_note {
    none,
    silent,
    keeps_sending,
    no_acknowledgement
};

// Which trouble with the unit was said last, so that a unit that keeps
// failing the same way is reported once, not once a second; and who says
// what the exchange finds (the run layer, which holds the texts): a note
// about the unit (`mode` the mode letter), and the unit's answer to "G",
// whose packet is judged and said wherever it is wrong. Without them
// nothing is said.
struct device_notes {
    unit_note last_said = unit_note::none;
    void (*say_note)(unit_note what, char mode) = nullptr;
    void (*say_answer)(char mode, const std::uint8_t* bytes, std::uint32_t length) = nullptr;
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
// (said once through `notes`); `interrupted` when `stop` asked for it.
serial_status init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          std::uint32_t& packet_length, device_notes& notes,
                          const interruption& stop = {});

// Has the note said unless it was the last thing said about the unit.
void note_once(device_notes& notes, unit_note what, char mode);

} // namespace imutap
