// The run: port set-up, bringing the unit up, passes of packets, shutdown.
#pragma once

#include "output/log_file.h"
#include "run/options.h"

#include <cstdint>

namespace imutap {

// The loop's working variables.
struct run_state {
    std::uint32_t packet_length = 0; // bytes per packet, learned from the unit
    std::uint32_t packets_read = 0; // good and bad, wraps modulo 2^32
    std::int32_t consecutive_bad = 0; // bad packets since the last good one
    bool last_bad = false; // whether the latest packet failed its check
    int last_key = '0'; // only its comparison with 'q' matters
};

// Whether the bad packet that follows `consecutive_bad` earlier ones makes
// the run initialise the unit again: the 6th in a row, then the 106th, 206th
// and so on (a wrongly learned length is then learned again). A mode without
// a packet layout, which no initialising can help, gets only the 6th.
bool reinitialise_on_bad(std::int32_t consecutive_bad, bool mode_has_layout);

// How long a packet read may see no byte before the unit counts as silent:
// a second, or four times dt when that is longer, so that a unit sending
// fewer than one packet a second is still logged.
std::int64_t packet_silence_limit_ms(double dt);

// Everything after start-up; returns the exit status.
int run_acquisition(const run_options& options, log_file& log);

} // namespace imutap
