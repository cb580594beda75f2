// Continuous output: preparing the stream's packets on time, and accounting for what
// went out.
#pragma once

#include "emu_log.h"
#include "options.h"
#include "out_queue.h"
#include "unit.h"

#include <cstddef>
#include <cstdint>

namespace imutap_emu {

// Continuous output. Unpaced (-r 0), packets are prepared in chunks of about
// unpaced_chunk bytes whenever less than half a chunk waits. Paced, packet k of a run
// is due at its start + k / rate, and the due packets are prepared once the queue has
// gone out; after a stall of more than a second (nobody reading) the schedule starts
// afresh instead of bursting to catch up. Preparation stops at the -n limit and at the
// packet of the next --silence, --replug or --hold-output, which holds the writer until
// accounted for.

constexpr std::size_t unpaced_chunk = 64 * 1024;
constexpr std::size_t queue_byte_capacity = 2 * unpaced_chunk + 4096;
constexpr std::size_t queue_item_capacity = 8192;

void refill_stream(const emu_options& options, unit_state& unit, out_queue& queue,
                   std::int64_t now);

// When refill_stream next has work, or -1 when only a command or the writer can
// give it some.
std::int64_t stream_due_time(const emu_options& options, const unit_state& unit,
                             const out_queue& queue, std::int64_t now);

// What the serving loop must do after a write.
struct written_effect {
    bool unplug = false;
    std::uint32_t unplug_ms = 0;
    bool hold = false; // hold the logger's output for hold_ms
    std::uint32_t hold_ms = 0;
};

// Accounts for `written` more bytes gone out: stream packets sent, faults noted,
// the -n limit, silences and replugs.
written_effect account_written(const emu_options& options, unit_state& unit, out_queue& queue,
                               std::size_t written, const emu_log& log, std::int64_t now);

// Ends a silence whose time is up; the paced schedule starts afresh.
void end_silence_if_over(unit_state& unit, const emu_log& log, std::int64_t now);

} // namespace imutap_emu
