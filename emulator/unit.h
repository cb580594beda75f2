// What the emulated unit remembers between commands, and the packets it queues from it.
#pragma once

#include "emu_log.h"
#include "options.h"
#include "out_queue.h"
#include "still.h"

#include <cstdint>
#include <vector>

namespace imutap_emu {

// An answer to a mode letter that goes out at `due` (monotonic ns).
struct late_answer {
    std::int64_t due = 0;
    std::uint8_t byte = 0;
};

// What the emulated unit remembers. The sequence number, the stream counts and the
// fault budgets last for the whole run; mode and streaming go back to their power-on
// values when the unit is plugged in again.
struct unit_state {
    char mode = 'a';
    bool streaming = false;
    bool finished = false; // all -n packets sent: silent for good
    std::uint64_t seq = 0; // sequence number of the next packet built
    std::uint64_t stream_built = 0; // continuous-output packets built (index of the newest)
    std::uint64_t stream_sent = 0; // continuous-output packets written in full
    std::size_t next_event = 0; // first entry of options.events not yet happened
    std::int64_t silent_until = 0; // monotonic ns; 0: not in a silence
    std::int64_t pace_origin = 0; // when the current paced run began
    std::uint64_t pace_built = 0; // packets built since pace_origin
    std::int64_t ignore_left[256] = {};
    bool letter_after_stop = false; // a P came, and no mode letter since
    std::vector<late_answer> late_answers; // oldest first

    std::int64_t short_g_left = 0;
    still_state still; // the biases of a unit lying still (--still-gyro, ...)
};

// The first power-on: fault budgets and sequence number from the options.
void unit_start(const emu_options& options, unit_state& unit, std::int64_t now);

// Mode 'a', streaming only with --streaming; nothing else changes.
void unit_power_on(const emu_options& options, unit_state& unit, std::int64_t now);

bool unit_silent(const unit_state& unit, std::int64_t now);
void unit_start_streaming(unit_state& unit, std::int64_t now);

// Builds the next packet (sequence number u.seq) into the queue, applies faults,
// keeps the first keep_bytes bytes (all when larger). The caller checked for room.
void unit_queue_packet(unit_state& unit, out_queue& queue, item_kind kind,
                       std::uint64_t stream_index, std::uint8_t faults, std::size_t keep_bytes,
                       bool hold);

// Drops what the queue has not begun to write (scope as for queue_cut), and takes back
// the sequence numbers and stream indices of the packets dropped, so they are built
// again later.
cut_result unit_cut_output(unit_state& unit, out_queue& queue, cut_scope scope);

} // namespace imutap_emu
