// What packet/ and serial/ find, said on the console: the run layer holds
// the texts (output/messages.h), the layers below only tell what they found.
#pragma once

#include "output/log_file.h"
#include "packet/packet.h"
#include "serial/device.h"
#include "serial/port.h"

#include <cstdint>

namespace imutap {

// Says what is wrong with a packet (nothing for a good one).
void say_packet_verdict(packet_verdict verdict, char mode, const std::uint8_t* bytes,
                        std::uint32_t length);

// Judges a packet and says what is wrong with it; true when it is good.
bool check_and_say_packet(char mode, const std::uint8_t* bytes, std::uint32_t length);

// Says what the log file told (set as its `tell`).
void say_log_note(const log_file& log, const log_note& note);

// Says the step of open_port that failed, with the system's number.
void say_port_failure(const port_failure& failure);

// A note about the unit is said once, not once a second, until something
// changes it: `last_said` holds the last one said, and a good packet or the
// port coming back sets it back to none. `mode` is the letter the notes name.
struct unit_said {
    unit_note last_said = unit_note::none;
    char mode = 'a';
};

// Says the note unless it was the last thing said about the unit.
[[gnu::format(printf, 3, 4)]] void say_once(unit_note& last_said, unit_note what,
                                            const char* format, ...);

// The hook through which init_device's troubles are said, each once.
unit_trouble_hook say_troubles_once(unit_said& said);

// What the exchange found that is said: what is wrong with the unit's
// answer to "G", when it answered; the run goes on whatever it is.
void say_exchange_answer(const device_result& result, char mode);

} // namespace imutap
