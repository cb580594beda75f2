// What the serving loop keeps between its waits: the pty, the output queue, the unit,
// the program run on it, and the unplug or hold in progress.
#pragma once

#include "exec_child.h"
#include "mono_clock.h"
#include "out_queue.h"
#include "pty_link.h"
#include "unit.h"

#include <cstdint>
#include <string>

namespace imutap_emu {

constexpr std::int64_t drain_check_ns = 5 * ns_per_ms;
constexpr std::int64_t drain_settle_ns =
    30 * ns_per_ms; // the slave's input must stay empty this long
constexpr std::int64_t unplug_wait_limit_ns = 1000 * ns_per_ms;

struct serve_state {
    pty_link link;
    out_queue queue;
    unit_state unit;
    child_proc child;
    bool unplug_pending = false; // silent, hanging up once the logger has read all
    std::uint32_t unplug_ms = 0;
    std::int64_t unplug_deadline = 0;
    std::int64_t unplug_drained_since = 0;
    bool unplugged = false;
    std::int64_t plug_in_at = 0;
    std::int64_t master_rest_until = 0;
    std::int64_t next_byte_at = 0; // --line-pace: when the line is free for the next byte
    bool hold_pending = false; // holding the logger's output once it has read all
    std::uint32_t hold_ms = 0;
    std::int64_t hold_deadline = 0;
    std::int64_t hold_drained_since = 0;
    std::int64_t release_at = 0; // when the logger's held output goes free; 0: not held
};

// "imutap-emu: <error>" on standard error.
void report(const std::string& error);
// Brings `wake` forward to `when` (monotonic ns); a negative `when` is no time, a
// negative `wake` none yet.
void earliest(std::int64_t& wake, std::int64_t when);

} // namespace imutap_emu
