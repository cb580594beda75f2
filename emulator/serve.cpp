#include "serve.h"

#include "commands.h"
#include "exec_child.h"
#include "line_rate.h"
#include "mono_clock.h"
#include "out_queue.h"
#include "pty_link.h"
#include "stream.h"
#include "unit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int64_t hangup_rest_ns = 20 * ns_per_ms;  // after a hang-up on the master
constexpr int64_t drain_check_ns = 5 * ns_per_ms;
constexpr int64_t drain_settle_ns = 30 * ns_per_ms;  // the slave's input must stay empty this long
constexpr int64_t unplug_wait_limit_ns = 1000 * ns_per_ms;
constexpr size_t command_read_size = 256;

struct serve_state {
    pty_link link;
    out_queue queue;
    unit_state unit;
    child_proc child;
    bool unplug_pending = false;  // silent, hanging up once the logger has read all
    uint32_t unplug_ms = 0;
    int64_t unplug_deadline = 0;
    int64_t unplug_drained_since = 0;
    bool unplugged = false;
    int64_t plug_in_at = 0;
    int64_t master_rest_until = 0;
    int64_t next_byte_at = 0;  // --line-pace: when the line is free for the next byte
    bool hold_pending = false;  // holding the logger's output once it has read all
    uint32_t hold_ms = 0;
    int64_t hold_deadline = 0;
    int64_t hold_drained_since = 0;
    int64_t release_at = 0;  // when the logger's held output goes free; 0: not held
};

void report(const std::string& error)
{
    std::fprintf(stderr, "imutap-emu: %s\n", error.c_str());
}

void earliest(int64_t& wake, int64_t when)
{
    if (when >= 0 && (wake < 0 || when < wake))
        wake = when;
}

bool plug_in(const emu_options& o, serve_state& s)
{
    std::string error;
    if (open_unit_pty(s.link, o.line, error) && point_link(o.link_path, s.link.slave_path, error))
        return true;
    report(error);
    close_unit_pty(s.link);
    return false;
}

void print_ready_line(const emu_options& o, const pty_link& link)
{
    if (o.quiet)
        return;
    if (o.rate == 0)
        std::printf("imutap-emu: unit on %s (%s), mode a, unpaced\n", o.link_path.c_str(), link.slave_path);
    else
        std::printf("imutap-emu: unit on %s (%s), mode a, %g packets/s\n", o.link_path.c_str(), link.slave_path,
                    o.rate);
    std::fflush(stdout);
}

// Whether the logger has read all the unit sent: the slave's input queue has stayed
// empty for drain_settle_ns (bytes just written may still be on their way into it).
// `since` keeps when it was first seen empty.
bool logger_has_read_all(const serve_state& s, int64_t now, int64_t& since)
{
    if (!pty_open(s.link) || slave_input_waiting(s.link) != 0) {
        since = 0;
        return false;
    }
    if (since == 0)
        since = now;
    return now - since >= drain_settle_ns;
}

// The unit falls silent at once; the hang-up waits for the logger to read what was
// sent, since a hang-up throws unread input away.
void ask_unplug(serve_state& s, uint32_t ms, int64_t now)
{
    s.unplug_pending = true;
    s.unplug_ms = ms;
    s.unplug_deadline = now + unplug_wait_limit_ns;
    s.unplug_drained_since = 0;
    s.unit.silent_until = s.unplug_deadline;
}

// As a real device node disappears, the link goes before the pty is hung up: a
// logger that sees the hang-up finds no link to reopen, and while unplugged the
// link never points at a freed pty that another program may be given.
void unplug_when_read(const emu_options& o, serve_state& s, int64_t now, int64_t& wake)
{
    if (!s.unplug_pending)
        return;
    if (now < s.unplug_deadline && !logger_has_read_all(s, now, s.unplug_drained_since)) {
        earliest(wake, now + drain_check_ns);
        return;
    }
    s.unplug_pending = false;
    remove_link(o.link_path, s.link.slave_path);
    close_unit_pty(s.link);
    queue_clear(s.queue);
    s.unit.streaming = false;
    s.unit.silent_until = 0;
    s.unplugged = true;
    s.plug_in_at = now + int64_t(s.unplug_ms) * ns_per_ms;
}

// Holds the logger's output once it has read what was sent (bytes still on their
// way into the slave would meet the flow control), and lets it go once its time is up.
void hold_when_read(serve_state& s, const emu_log& log, int64_t now, int64_t& wake)
{
    if (s.hold_pending) {
        if (now < s.hold_deadline && !logger_has_read_all(s, now, s.hold_drained_since)) {
            earliest(wake, now + drain_check_ns);
            return;
        }
        s.hold_pending = false;
        if (hold_output(s.link)) {
            s.release_at = now + int64_t(s.hold_ms) * ns_per_ms;
            s.unit.silent_until = s.release_at;  // the stream would carry XON bytes
            note(log, now, "XOFF sent: the logger's output is held");
        }
    }
    if (s.release_at == 0)
        return;
    if (now < s.release_at) {
        earliest(wake, s.release_at);
        return;
    }
    s.release_at = 0;
    release_output(s.link);
    note(log, now, "XON sent: the logger's output goes on");
}

// Plugs the unit in again once its time is up; false if the new pty failed.
bool replug_if_due(const emu_options& o, serve_state& s, const emu_log& log, int64_t now)
{
    if (!s.unplugged || now < s.plug_in_at)
        return true;
    if (!plug_in(o, s))
        return false;
    s.unplugged = false;
    unit_power_on(o, s.unit, now);
    note(log, now, "plugged in again on %s", s.link.slave_path);
    return true;
}

// With --keys: writes them when due; says when to look again.
void service_keys(const emu_options& o, serve_state& s, int64_t now, int64_t& wake)
{
    child_proc& child = s.child;
    if (child.keys_fd < 0)
        return;
    if (o.keys_delay_ms >= 0) {
        int64_t due = child.started + o.keys_delay_ms * ns_per_ms;
        if (now >= due)
            send_keys(o, child);
        else
            earliest(wake, due);
        return;
    }
    if (!s.unit.finished)
        return;  // account_written sets it, in this same loop
    if (queue_pending(s.queue) == 0 && logger_has_read_all(s, now, child.drained_since)) {
        send_keys(o, child);
        return;
    }
    earliest(wake, now + drain_check_ns);
}

void read_commands(const emu_options& o, serve_state& s, const emu_log& log, int64_t now)
{
    size_t room = std::min({command_read_size, queue_room_bytes(s.queue) / command_reply_room,
                            queue_room_items(s.queue)});
    if (room == 0)
        return;
    uint8_t bytes[command_read_size];
    ssize_t got = read(s.link.master, bytes, room);
    if (got > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            log_command_byte(log, now, bytes[i]);
            handle_command(bytes[i], o, s.unit, s.queue, log, now);
        }
    } else if (got == 0 || errno == EIO) {
        // Nobody holds the slave (the emulator's own descriptor should prevent that):
        // look again later instead of spinning on the hang-up.
        s.master_rest_until = now + hangup_rest_ns;
    }
}

// With --line-pace, one byte at a time, each one byte time after the one before at the
// rate the logger set on the tty. A byte sent late (the emulator woke late) keeps the
// schedule when less than one byte time behind; after a pause the schedule starts at
// the byte, so nothing is sent in a burst to catch up.
void write_output(const emu_options& o, serve_state& s, const emu_log& log, int64_t now)
{
    for (;;) {
        size_t writable = queue_writable(s.queue);
        if (writable == 0 || unit_silent(s.unit, now) || !pty_open(s.link))
            return;
        const int64_t byte_time = o.line_pace ? byte_time_ns(line_rate(s.link.slave)) : 0;
        if (byte_time > 0) {
            if (now < s.next_byte_at)
                return;
            writable = 1;
        }
        ssize_t written = write(s.link.master, queue_front(s.queue), writable);
        if (written <= 0) {
            if (written < 0 && errno == EIO)
                s.master_rest_until = now + hangup_rest_ns;
            return;
        }
        if (byte_time > 0)
            s.next_byte_at = (now - s.next_byte_at < byte_time ? s.next_byte_at : now) + byte_time;
        written_effect effect = account_written(o, s.unit, s.queue, size_t(written), log, now);
        if (effect.unplug)
            ask_unplug(s, effect.unplug_ms, now);
        if (effect.hold) {
            s.hold_pending = true;
            s.hold_ms = effect.hold_ms;
            s.hold_deadline = now + unplug_wait_limit_ns;
            s.hold_drained_since = 0;
        }
    }
}

// One wait for the master, the close reports, the timers and the signals.
void wait_and_serve(const emu_options& o, serve_state& s, const emu_log& log, const signal_masks& masks,
                    int64_t now, int64_t wake)
{
    pollfd fds[2] = {};
    pollfd& master = fds[0];
    pollfd& closes = fds[1];
    master.fd = -1;  // poll() skips negative descriptors
    closes.fd = s.link.close_watch;
    closes.events = POLLIN;
    if (pty_open(s.link) && now >= s.master_rest_until) {
        master.fd = s.link.master;
        if (queue_has_room(s.queue, command_reply_room, 1))
            master.events |= POLLIN;
        if (!unit_silent(s.unit, now) && queue_writable(s.queue) > 0 && now >= s.next_byte_at)
            master.events |= POLLOUT;
    } else if (pty_open(s.link)) {
        earliest(wake, s.master_rest_until);
    }
    timespec timeout{};
    if (wake >= 0) {
        int64_t wait = std::max<int64_t>(0, wake - now);
        timeout.tv_sec = wait / 1'000'000'000;
        timeout.tv_nsec = wait % 1'000'000'000;
    }
    if (ppoll(fds, 2, wake >= 0 ? &timeout : nullptr, &masks.wait_mask) <= 0)
        return;
    now = mono_now_ns();
    if ((closes.revents & POLLIN) && release_exclusive_after_close(s.link))
        note(log, now, "slave closed with exclusive mode on: exclusive mode ended");
    if (master.revents & POLLIN)
        read_commands(o, s, log, now);
    else if (master.revents & (POLLHUP | POLLERR))
        s.master_rest_until = now + hangup_rest_ns;
    if (master.revents & POLLOUT)
        write_output(o, s, log, now);
}

int serve(const emu_options& o, serve_state& s, const emu_log& log, const signal_masks& masks)
{
    int status = 0;
    for (;;) {
        int64_t now = mono_now_ns();
        if (int number = take_stop_signal()) {
            if (s.child.pid <= 0) {
                note(log, now, "stopped by signal %d", number);
                return 0;
            }
            signal_child(s.child, number);
        }
        if (!o.command.empty() && child_ended(s.child, status))
            return status;
        if (!replug_if_due(o, s, log, now))
            return setup_failed_status;
        int64_t wake = -1;
        unplug_when_read(o, s, now, wake);
        hold_when_read(s, log, now, wake);
        end_silence_if_over(s.unit, log, now);
        if (pty_open(s.link))
            refill_stream(o, s.unit, s.queue, now);

        earliest(wake, stream_due_time(o, s.unit, s.queue, now));
        if (s.next_byte_at > now && queue_writable(s.queue) > 0)
            earliest(wake, s.next_byte_at);
        if (s.unplugged)
            earliest(wake, s.plug_in_at);
        service_keys(o, s, now, wake);
        wait_and_serve(o, s, log, masks, now, wake);
    }
}

} // namespace

int serve_unit(const emu_options& o, const emu_log& log, const signal_masks& masks)
{
    serve_state s;
    if (!plug_in(o, s))
        return setup_failed_status;
    print_ready_line(o, s.link);
    queue_init(s.queue, queue_byte_capacity, queue_item_capacity);
    int64_t now = mono_now_ns();
    unit_start(o, s.unit, now);

    int status = setup_failed_status;
    std::string error;
    if (o.command.empty() || start_child(o, masks, now, s.child, error))
        status = serve(o, s, log, masks);
    else
        report(error);

    if (s.child.pid > 0) {  // the unit could not go on while the command ran
        signal_child(s.child, SIGTERM);
        int ignored = 0;
        while (!child_ended(s.child, ignored)) {
            ppoll(nullptr, 0, nullptr, &masks.wait_mask);
            if (int number = take_stop_signal())
                signal_child(s.child, number);
        }
    }
    remove_link(o.link_path, s.link.slave_path);
    close_unit_pty(s.link);
    return status;
}
