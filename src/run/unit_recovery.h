// When the run brings the unit up again: after bad packets in a row, and
// after a silence.
#pragma once

#include <cstdint>

namespace imutap {

// Whether the bad packet that follows `consecutive_bad` earlier ones makes
// the run initialise the unit again: the 6th in a row, then the 106th, 206th
// and so on (a wrongly learned length is then learned again). A mode without
// a packet layout, which no initialising can help, gets only the 6th.
bool reinitialise_on_bad(std::int32_t consecutive_bad, bool mode_has_layout);

// How long a packet read may see no byte before the unit counts as silent:
// a second, or four times dt when that is longer, so that a unit sending
// fewer than one packet a second is still logged.
std::int64_t packet_silence_limit_ms(double dt);

} // namespace imutap
