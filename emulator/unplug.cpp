// Unplugging the unit and holding the logger's output: waiting until the logger has
// read what was sent, then hanging up, plugging in again, sending XOFF and XON.
#include "unplug.h"

#include "emu_log.h"
#include "mono_clock.h"
#include "out_queue.h"
#include "pty_link.h"
#include "unit.h"

#include <string>

namespace imutap_emu {

bool plug_in(const emu_options& options, serve_state& state)
{
    std::string error;
    if (open_unit_pty(state.link, options.line, error) &&
        point_link(options.link_path, state.link.slave_path, error))
        return true;
    report(error);
    close_unit_pty(state.link);
    return false;
}

// Whether the logger has read all the unit sent: the slave's input queue has stayed
// empty for drain_settle_ns (bytes just written may still be on their way into it).
// `since` keeps when it was first seen empty.
bool logger_has_read_all(const serve_state& state, std::int64_t now, std::int64_t& since)
{
    if (!pty_open(state.link) || slave_input_waiting(state.link) != 0) {
        since = 0;
        return false;
    }
    if (since == 0)
        since = now;
    return now - since >= drain_settle_ns;
}

// The unit falls silent at once; the hang-up waits for the logger to read what was
// sent, since a hang-up throws unread input away.
void ask_unplug(serve_state& state, std::uint32_t ms, std::int64_t now)
{
    state.unplug_pending = true;
    state.unplug_ms = ms;
    state.unplug_deadline = now + unplug_wait_limit_ns;
    state.unplug_drained_since = 0;
    state.unit.silent_until = state.unplug_deadline;
}

// As a real device node disappears, the link goes before the pty is hung up: a
// logger that sees the hang-up finds no link to reopen, and while unplugged the
// link never points at a freed pty that another program may be given.
void unplug_when_read(const emu_options& options, serve_state& state, std::int64_t now,
                      std::int64_t& wake)
{
    if (!state.unplug_pending)
        return;
    if (now < state.unplug_deadline &&
        !logger_has_read_all(state, now, state.unplug_drained_since)) {
        earliest(wake, now + drain_check_ns);
        return;
    }
    state.unplug_pending = false;
    remove_link(options.link_path, state.link.slave_path);
    close_unit_pty(state.link);
    queue_clear(state.queue);
    state.unit.streaming = false;
    state.unit.silent_until = 0;
    state.unplugged = true;
    state.plug_in_at = now + static_cast<std::int64_t>(state.unplug_ms) * ns_per_ms;
}

// Holds the logger's output once it has read what was sent (bytes still on their
// way into the slave would meet the flow control), and lets it go once its time is up.
void hold_when_read(serve_state& state, const emu_log& log, std::int64_t now, std::int64_t& wake)
{
    if (state.hold_pending) {
        if (now < state.hold_deadline &&
            !logger_has_read_all(state, now, state.hold_drained_since)) {
            earliest(wake, now + drain_check_ns);
            return;
        }
        state.hold_pending = false;
        if (hold_output(state.link)) {
            state.release_at = now + static_cast<std::int64_t>(state.hold_ms) * ns_per_ms;
            state.unit.silent_until = state.release_at; // the stream would carry XON bytes
            note(log, now, "XOFF sent: the logger's output is held");
        }
    }
    if (state.release_at == 0)
        return;
    if (now < state.release_at) {
        earliest(wake, state.release_at);
        return;
    }
    state.release_at = 0;
    release_output(state.link);
    note(log, now, "XON sent: the logger's output goes on");
}

// Plugs the unit in again once its time is up; false if the new pty failed.
bool replug_if_due(const emu_options& options, serve_state& state, const emu_log& log,
                   std::int64_t now)
{
    if (!state.unplugged || now < state.plug_in_at)
        return true;
    if (!plug_in(options, state))
        return false;
    state.unplugged = false;
    unit_power_on(options, state.unit, now);
    note(log, now, "plugged in again on %s", state.link.slave_path);
    return true;
}

} // namespace imutap_emu
