// The serving loop: waiting in ppoll for the logger, the clock and signals; reading
// commands, writing the queue, and typing the keys; unplug.cpp carries out unplugs
// and holds.
#include "serve.h"

#include "commands.h"
#include "exec_child.h"
#include "line_rate.h"
#include "mono_clock.h"
#include "out_queue.h"
#include "pty_link.h"
#include "serve_state.h"
#include "stream.h"
#include "unit.h"
#include "unplug.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace imutap_emu {

void report(const std::string& error)
{
    std::fprintf(stderr, "imutap-emu: %s\n", error.c_str());
}

void earliest(std::int64_t& wake, std::int64_t when)
{
    if (when >= 0 && (wake < 0 || when < wake))
        wake = when;
}

namespace {

constexpr std::int64_t hangup_rest_ns = 20 * ns_per_ms; // after a hang-up on the master
constexpr std::size_t command_read_size = 256;

void print_ready_line(const emu_options& options, const pty_link& link)
{
    if (options.quiet)
        return;
    if (options.rate == 0)
        std::printf("imutap-emu: unit on %s (%s), mode a, unpaced\n", options.link_path.c_str(),
                    link.slave_path);
    else
        std::printf("imutap-emu: unit on %s (%s), mode a, %g packets/s\n",
                    options.link_path.c_str(), link.slave_path, options.rate);
    std::fflush(stdout);
}

// With --keys: writes them when due; says when to look again.
void service_keys(const emu_options& options, serve_state& state, std::int64_t now,
                  std::int64_t& wake)
{
    child_proc& child = state.child;
    if (child.keys_fd < 0)
        return;
    if (options.keys_delay_ms >= 0) {
        std::int64_t due = child.started + options.keys_delay_ms * ns_per_ms;
        if (now >= due)
            give_keys_to_child(options, child);
        else
            earliest(wake, due);
        return;
    }
    if (!state.unit.finished)
        return; // account_written sets it, in this same loop
    if (queue_pending(state.queue) == 0 && logger_has_read_all(state, now, child.drained_since)) {
        give_keys_to_child(options, child);
        return;
    }
    earliest(wake, now + drain_check_ns);
}

void read_commands(const emu_options& options, serve_state& state, const emu_log& log,
                   std::int64_t now)
{
    std::size_t room =
        std::min({command_read_size, queue_room_bytes(state.queue) / command_reply_room,
                  queue_room_items(state.queue)});
    if (room == 0)
        return;
    std::uint8_t bytes[command_read_size];
    ssize_t got = read(state.link.master, bytes, room);
    if (got > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            log_command_byte(log, now, bytes[i]);
            handle_command(bytes[i], options, state.unit, state.queue, log, now);
        }
    } else if (got == 0 || errno == EIO) {
        // Nobody holds the slave (the emulator's own descriptor should prevent that):
        // look again later instead of spinning on the hang-up.
        state.master_rest_until = now + hangup_rest_ns;
    }
}

// With --line-pace, one byte at a time, each one byte time after the one before at the
// rate the logger set on the tty. A byte sent late (the emulator woke late) keeps the
// schedule when less than one byte time behind; after a pause the schedule starts at
// the byte, so nothing is sent in a burst to catch up.
void write_output(const emu_options& options, serve_state& state, const emu_log& log,
                  std::int64_t now)
{
    for (;;) {
        std::size_t writable = queue_writable(state.queue);
        if (writable == 0 || unit_silent(state.unit, now) || !pty_open(state.link))
            return;
        const std::int64_t byte_time =
            options.line_pace ? byte_time_ns(line_rate(state.link.slave)) : 0;
        if (byte_time > 0) {
            if (now < state.next_byte_at)
                return;
            writable = 1;
        }
        ssize_t written = write(state.link.master, queue_front(state.queue), writable);
        if (written <= 0) {
            if (written < 0 && errno == EIO)
                state.master_rest_until = now + hangup_rest_ns;
            return;
        }
        if (byte_time > 0)
            state.next_byte_at =
                (now - state.next_byte_at < byte_time ? state.next_byte_at : now) + byte_time;
        written_effect effect = account_written(options, state.unit, state.queue,
                                                static_cast<std::size_t>(written), log, now);
        if (effect.unplug)
            ask_unplug(state, effect.unplug_ms, now);
        if (effect.hold) {
            state.hold_pending = true;
            state.hold_ms = effect.hold_ms;
            state.hold_deadline = now + unplug_wait_limit_ns;
            state.hold_drained_since = 0;
        }
    }
}

// One wait for the master, the close reports, the timers and the signals.
void wait_and_serve(const emu_options& options, serve_state& state, const emu_log& log,
                    const signal_masks& masks, std::int64_t now, std::int64_t wake)
{
    pollfd fds[2] = {};
    pollfd& master = fds[0];
    pollfd& closes = fds[1];
    master.fd = -1; // poll() skips negative descriptors
    closes.fd = state.link.close_watch;
    closes.events = POLLIN;
    if (pty_open(state.link) && now >= state.master_rest_until) {
        master.fd = state.link.master;
        if (queue_has_room(state.queue, command_reply_room, 1))
            master.events |= POLLIN;
        if (!unit_silent(state.unit, now) && queue_writable(state.queue) > 0 &&
            now >= state.next_byte_at)
            master.events |= POLLOUT;
    } else if (pty_open(state.link)) {
        earliest(wake, state.master_rest_until);
    }
    timespec timeout{};
    if (wake >= 0) {
        std::int64_t wait = std::max<std::int64_t>(0, wake - now);
        timeout.tv_sec = wait / 1'000'000'000;
        timeout.tv_nsec = wait % 1'000'000'000;
    }
    if (ppoll(fds, 2, wake >= 0 ? &timeout : nullptr, &masks.wait_mask) <= 0)
        return;
    now = mono_now_ns();
    if ((closes.revents & POLLIN) && release_exclusive_after_close(state.link))
        note(log, now, "slave closed with exclusive mode on: exclusive mode ended");
    if (master.revents & POLLIN)
        read_commands(options, state, log, now);
    else if (master.revents & (POLLHUP | POLLERR))
        state.master_rest_until = now + hangup_rest_ns;
    if (master.revents & POLLOUT)
        write_output(options, state, log, now);
}

int serve(const emu_options& options, serve_state& state, const emu_log& log,
          const signal_masks& masks)
{
    int status = 0;
    for (;;) {
        std::int64_t now = mono_now_ns();
        if (int number = take_stop_signal()) {
            if (state.child.pid <= 0) {
                note(log, now, "stopped by signal %d", number);
                return 0;
            }
            signal_child(state.child, number);
        }
        if (!options.command.empty() && child_ended(state.child, status))
            return status;
        if (!replug_if_due(options, state, log, now))
            return setup_failed_status;
        std::int64_t wake = -1;
        unplug_when_read(options, state, now, wake);
        hold_when_read(state, log, now, wake);
        end_silence_if_over(state.unit, log, now);
        if (pty_open(state.link)) {
            earliest(wake, queue_late_answers(state.unit, state.queue, now));
            refill_stream(options, state.unit, state.queue, now);
        }

        earliest(wake, stream_due_time(options, state.unit, state.queue, now));
        if (state.next_byte_at > now && queue_writable(state.queue) > 0)
            earliest(wake, state.next_byte_at);
        if (state.unplugged)
            earliest(wake, state.plug_in_at);
        service_keys(options, state, now, wake);
        wait_and_serve(options, state, log, masks, now, wake);
    }
}

} // namespace

int serve_unit(const emu_options& options, const emu_log& log, const signal_masks& masks)
{
    serve_state state;
    if (!plug_in(options, state))
        return setup_failed_status;
    print_ready_line(options, state.link);
    queue_init(state.queue, queue_byte_capacity, queue_item_capacity);
    std::int64_t now = mono_now_ns();
    unit_start(options, state.unit, now);

    int status = setup_failed_status;
    std::string error;
    if (options.command.empty() || start_child(options, masks, now, state.child, error))
        status = serve(options, state, log, masks);
    else
        report(error);

    if (state.child.pid > 0) { // the unit could not go on while the command ran
        signal_child(state.child, SIGTERM);
        int ignored = 0;
        while (!child_ended(state.child, ignored)) {
            ppoll(nullptr, 0, nullptr, &masks.wait_mask);
            if (int number = take_stop_signal())
                signal_child(state.child, number);
        }
    }
    remove_link(options.link_path, state.link.slave_path);
    close_unit_pty(state.link);
    return status;
}

} // namespace imutap_emu
