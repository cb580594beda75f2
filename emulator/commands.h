// The unit's answers to the bytes the logger sends: P, G, C and the mode letters.
#pragma once

#include "emu_log.h"
#include "options.h"
#include "out_queue.h"
#include "unit.h"

#include <cstddef>
#include <cstdint>

namespace imutap_emu {

// Room one command may need in the output queue: a whole packet, as one item.
constexpr std::size_t command_reply_room = 30;

// The unit's answer to one byte from the logger:
//   'P' stops continuous output (a packet already begun is finished);
//   'G' sends one packet of the current mode;
//   'C' starts continuous output;
//   any other byte selects that mode and is answered with the byte minus 32.
// Nothing is answered while the unit is silent, after its last -n packet, or for a
// byte it is told to ignore. 'P' drops whatever output has not begun; every other
// answered command drops the stream packets not yet begun, so its answer goes out at the
// next packet boundary and the packets after it follow the new state. The caller made
// sure of command_reply_room in the queue.
void handle_command(std::uint8_t byte, const emu_options& options, unit_state& unit,
                    out_queue& queue, const emu_log& log, std::int64_t now);

// With --answer-late: queues the answers to mode letters whose time has come, as far
// as the queue has room. Returns when to look again (monotonic ns: when the next one is
// due, or a millisecond on while one waits for room), or -1 when none waits.
std::int64_t queue_late_answers(unit_state& unit, out_queue& queue, std::int64_t now);

} // namespace imutap_emu
