// The exchange that brings the unit into continuous output.
#pragma once

#include "serial/port.h"

#include <cstdint>

namespace imutap {

// The troubles with the unit the exchange can meet.
enum class unit_note {
    none,
    silent,
    keeps_sending,
    no_acknowledgement
};

// The letters the unit takes as commands: stop sending, send one packet,
// send packets continuously. Any other letter selects a mode.
constexpr char command_stop = 'P';
constexpr char command_get = 'G';
constexpr char command_continuous = 'C';

// True for a letter the unit takes as a command, never as a mode: sent as a
// mode, the unit would stop, answer with a packet or start streaming.
constexpr bool is_unit_command(char letter)
{
    return letter == command_stop || letter == command_get || letter == command_continuous;
}

// The unit's acknowledgement of a mode letter: the letter, taken as a signed
// character, minus 32. Zero means no mode command is sent; below zero (a
// control character, a byte above 0x7F) the unit can never acknowledge it.
constexpr int expected_acknowledgement(char mode)
{
    return static_cast<signed char>(mode) - 32;
}

// Who hears of a trouble with the unit each time the exchange meets one: the
// run layer, which says it once. Left unset, nothing is told.
struct unit_trouble_hook {
    void (*met)(void* context, unit_note what) = nullptr;
    void* context = nullptr;
};

// A unit that keeps sending through "P", or a mode letter that goes this
// long without an acknowledgement, is a trouble met (and the latter asked on).
constexpr std::int64_t exchange_step_limit_ms = 1000;

// How an exchange ended and what the unit answered to "G". The troubles it
// met were told through its unit_trouble_hook as they came: one of them is
// met while the exchange goes on asking.
struct device_result {
    serial_status status = serial_status::ok;
    // The unit's answer to "G" was read: `answer` holds `packet_length`
    // bytes, judged by the run layer. Set even when "C" then could not go
    // out.
    bool answered = false;
    std::uint32_t packet_length = 0;
    std::uint8_t answer[255] = {};
};

// Quiets the unit ("P" until silent), selects the mode, quiets it again,
// learns the packet length from its answer to "G" and starts continuous
// output with "C". The answer is taken whole however slowly it comes at the
// line's `baud_rate`. A unit that does not acknowledge is asked again, ever
// less often, for as long as it takes. Status ok with `packet_length` set,
// or how it ended early: `silent` for a unit that keeps sending through "P",
// sends other bytes but no acknowledgement, or cannot be sent a command
// (each a trouble `told` hears of); `interrupted` when the port's `stop`
// said the run ends (asked once a round: about every 100 ms while the unit is
// quieted and at least every half second while an acknowledgement is waited
// for).
device_result init_device(serial_port& port, char mode, std::int32_t baud_rate,
                          const unit_trouble_hook& told = {});

} // namespace imutap
