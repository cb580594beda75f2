// What packet/ and serial/ find, said on the console: the run layer holds
// the texts (output/messages.h), the layers below only tell what they found.
#pragma once

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

// Says the step of open_port that failed, with the system's number.
void say_port_failure(const port_failure& failure);

// Notes about the unit that init_device has said through the console.
device_notes console_device_notes();

// Says the note unless it was the last thing said about the unit.
[[gnu::format(printf, 3, 4)]] void say_once(device_notes& notes, unit_note what, const char* format,
                                            ...);

} // namespace imutap
