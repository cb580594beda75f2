#include "run/acquisition.h"

#include "output/console.h"
#include "output/display.h"
#include "output/line_batch.h"
#include "output/log_file.h"
#include "output/log_line.h"
#include "output/messages.h"
#include "packet/packet.h"
#include "run/findings.h"
#include "run/unit_recovery.h"
#include "serial/device.h"
#include "serial/port.h"
#include "system/console_platform.h"
#include "system/deadline.h"

#include <cstdio>

namespace imutap {

namespace {

constexpr std::uint32_t reopen_interval_ms = 1000;
// A key that has waited this long inside a pass is taken there, so that `q`
// ends even a long pass (a large decimation) within about a second.
constexpr std::int64_t key_wait_in_pass_ms = 500;

struct run_context {
    const run_options& options;
    log_file& log;
    port_choice choice;
    std::int64_t silent_limit_ms;
    serial_port port{};
    run_state state{};
    log_writer writer{};
    line_batch lines{};
    unit_said unit{};
    bool key_taken = false; // this pass's one key has been read
    std::uint8_t packet[256] = {};
};

// True when the run is to end now: 'q' was the key taken, or a stop signal
// came.
bool run_ends(const run_context& run)
{
    return run.state.last_key == 'q' || stop_requested();
}

// The one look at the keyboard: a waiting key is taken as this pass's key.
// True when the run is to end now.
bool take_key(run_context& run)
{
    if (key_waiting()) {
        run.state.last_key = key_read();
        run.key_taken = true;
    }
    return run_ends(run);
}

// A moment inside a pass where the run waits for the unit: what the console
// holds goes out, and a waiting key is taken. True when the run is to end
// now.
bool look_at_keyboard(run_context& run)
{
    log_look(run.log);
    console_catch_up();
    return take_key(run);
}

// Makes the lines of the packets kept for them, and hands everything the
// log holds to the system.
void write_out_log(run_context& run)
{
    make_batched_lines(run.lines, run.writer, run.log);
    log_write_out(run.log);
}

// Waits for a lost port to come back, trying to open it about once a second.
bool recover_port(run_context& run)
{
    write_out_log(run);
    if (run.port.open)
        close_port(run.port);
    console_note(port_lost);
    for (;;) {
        if (look_at_keyboard(run))
            return false;
        sleep_ms(reopen_interval_ms);
        if (stop_requested())
            return false;
        port_failure unsaid;
        if (open_port(run.choice, run.port, unsaid)) {
            console_note(port_back);
            run.unit.last_said = unit_note::none;
            return true;
        }
    }
}

// What ends the port's waits early: a stop signal or `q`, asked often; and
// the exchange's look at the keyboard once a round.
bool port_wait_ended(void* context)
{
    return run_ends(*static_cast<const run_context*>(context));
}

bool exchange_interrupted(void* context)
{
    return look_at_keyboard(*static_cast<run_context*>(context));
}

// init_device again and again until the unit streams. False when the run
// is to end.
bool bring_up_unit(run_context& run)
{
    const unit_trouble_hook told = say_troubles_once(run.unit);
    for (;;) {
        const device_result result =
            init_device(run.port, run.options.mode, run.choice.baud_rate, told);
        say_exchange_answer(result, run.options.mode);
        switch (result.status) {
        case serial_status::ok: run.state.packet_length = result.packet_length; return true;
        case serial_status::interrupted: return false;
        case serial_status::lost:
            if (!recover_port(run))
                return false;
            break;
        case serial_status::silent:
            if (look_at_keyboard(run))
                return false;
            break;
        }
    }
}

// Reads one packet into the buffer, bringing the unit or the port back as
// often as needed. False when the run is to end.
bool read_one_packet(run_context& run)
{
    for (;;) {
        switch (read_packet(run.port, run.state.packet_length, run.packet, run.silent_limit_ms)) {
        case serial_status::ok: return true;
        case serial_status::interrupted: return false;
        case serial_status::silent: {
            // The lines read so far go out before the unit is waited for.
            write_out_log(run);
            say_once(run.unit.last_said, unit_note::silent, unit_silent,
                     static_cast<double>(run.silent_limit_ms) / 1000.0);
            if (look_at_keyboard(run) || !bring_up_unit(run))
                return false;
            break;
        }
        case serial_status::lost:
            if (!recover_port(run) || !bring_up_unit(run))
                return false;
            break;
        }
    }
}

// Reads, checks and counts one packet, and shows every tenth. False when
// the run is to end.
bool take_packet(run_context& run)
{
    if (!read_one_packet(run))
        return false;
    run_state& state = run.state;
    const char mode = run.options.mode;
    if (!check_and_say_packet(mode, run.packet, state.packet_length)) {
        if (reinitialise_on_bad(state.consecutive_bad, packet_length_for(mode) != 0) &&
            !bring_up_unit(run))
            return false;
        state.last_bad = true;
        if (state.consecutive_bad < INT32_MAX)
            ++state.consecutive_bad;
    } else {
        state.last_bad = false;
        state.consecutive_bad = 0;
        run.unit.last_said = unit_note::none;
    }
    ++state.packets_read;
    if (state.packets_read % 10 == 0 && !state.last_bad)
        show_packet(mode, run.packet);
    return true;
}

// A key seen waiting inside a pass, and when it is taken there.
struct key_in_pass {
    bool seen = false;
    deadline taken_at{};
};

// Inside a pass, after a packet that is not the pass's last: notes when a
// key is first seen waiting, and takes it once it has waited
// key_wait_in_pass_ms. True when the run is to end now.
bool look_inside_pass(run_context& run, key_in_pass& key)
{
    if (run.key_taken)
        return false;
    if (!key.seen) {
        if (key_waiting()) {
            key.seen = true;
            key.taken_at = deadline_after(elapsed_ms(), key_wait_in_pass_ms);
        }
        return false;
    }
    return deadline_passed(key.taken_at, elapsed_ms()) && look_at_keyboard(run);
}

// Passes until 'q' or a stop signal. A `q` taken inside a pass ends the run
// without that pass's line.
void acquire(run_context& run)
{
    const run_options& options = run.options;
    for (;;) {
        run.key_taken = false;
        key_in_pass key;
        for (std::int32_t i = 0; i < options.decimation; ++i) {
            if (!take_packet(run))
                return;
            if (i + 1 < options.decimation && look_inside_pass(run, key))
                return;
        }
        const std::int64_t now_ms = elapsed_ms();
        if (!run.state.last_bad)
            batch_line(run.lines, run.writer, run.log, run.state.packets_read, run.packet,
                       run.state.packet_length, now_ms);
        if (log_write_due(run.log, now_ms))
            write_out_log(run);
        log_look(run.log);
        // A pass takes one key at most.
        if (run.key_taken ? run_ends(run) : take_key(run))
            return;
    }
}

} // namespace

int run_acquisition(const run_options& options, log_file& log)
{
    run_context run{options,
                    log,
                    {options.port_digit, options.port_path, options.baud_rate},
                    packet_silence_limit_ms(options.dt)};
    run.writer = log_writer{.mode = options.mode,
                            .dt = options.dt,
                            .dos_time = options.dos_time,
                            .output_period = options.output_period};
    run.unit.mode = options.mode;
    run.port.handle.stop = interruption{port_wait_ended, exchange_interrupted, &run};
    port_failure failure;
    const bool opened = open_port(run.choice, run.port, failure);
    if (!opened)
        say_port_failure(failure);
    if (!opened || !log_empty(log)) {
        if (run.port.open)
            close_port(run.port);
        log_close(log);
        console_end();
        return 1;
    }
    keyboard_begin();
    if (bring_up_unit(run))
        acquire(run);

    // Nothing is sent to the unit at the end: it is left streaming.
    if (run.port.open && !close_port(run.port)) {
        const int code = last_error();
        std::fprintf(stderr, port_cannot_close, code);
    }
    keyboard_end();
    make_batched_lines(run.lines, run.writer, log);
    const bool closed = log_close(log);
    // What the console could not take yet goes out now, waiting for it if
    // need be: nothing is acquired any more, and the log is safe.
    console_drain();
    if (!closed)
        std::printf(log_cannot_close);
    if (log.lines_lost != 0 || log.deleted)
        std::printf(log_lines_lost, static_cast<unsigned long long>(log.lines_lost));
    console_end();
    return closed && log.lines_lost == 0 && !log.deleted ? 0 : 1;
}

} // namespace imutap
