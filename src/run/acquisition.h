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

// Everything after start-up; returns the exit status.
int run_acquisition(const run_options& options, log_file& log);

} // namespace imutap
