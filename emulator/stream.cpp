// Continuous output: pacing, events at their packets, and the accounting after writes.
#include "stream.h"

#include "index_list.h"
#include "mono_clock.h"
#include "packet_builder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace imutap_emu {

namespace {

constexpr std::int64_t max_catch_up_ns = 1'000'000'000;
constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

bool may_stream(const unit_state& unit, std::int64_t now)
{
    return unit.streaming && !unit.finished && !unit_silent(unit, now);
}

// How many more stream packets may be built before the -n limit or the next event.
std::uint64_t packets_allowed(const emu_options& options, const unit_state& unit)
{
    std::uint64_t allowed =
        options.has_count ? options.count - std::min(options.count, unit.stream_built) : unlimited;
    if (unit.next_event < options.events.size()) {
        std::uint64_t packet = options.events[unit.next_event].packet;
        allowed = std::min(allowed, packet > unit.stream_built ? packet - unit.stream_built : 0);
    }
    return allowed;
}

bool is_hold_packet(const emu_options& options, const unit_state& unit, std::uint64_t index)
{
    return (options.has_count && index == options.count) ||
           (unit.next_event < options.events.size() &&
            options.events[unit.next_event].packet == index);
}

std::uint8_t faults_for(const emu_options& options, std::uint64_t index)
{
    std::uint8_t faults = 0;
    if (index_listed(options.bad_checksum, index))
        faults |= fault_checksum;
    if (index_listed(options.bad_header, index))
        faults |= fault_header;
    if (index_listed(options.drop_byte, index))
        faults |= fault_dropped_byte;
    return faults;
}

void build_stream_packets(const emu_options& options, unit_state& unit, out_queue& queue,
                          std::uint64_t count)
{
    for (std::uint64_t i = 0; i < count && queue_has_room(queue, max_packet_length, 1); ++i) {
        std::uint64_t index = unit.stream_built + 1;
        unit_queue_packet(unit, queue, item_kind::stream_packet, index, faults_for(options, index),
                          max_packet_length, is_hold_packet(options, unit, index));
        unit.stream_built = index;
        ++unit.pace_built;
    }
}

std::int64_t due_time_of(const emu_options& options, const unit_state& unit, std::uint64_t index)
{
    return unit.pace_origin +
           static_cast<std::int64_t>(std::ceil(static_cast<double>(index) * 1e9 / options.rate));
}

// Packets of the current paced run due by now.
std::uint64_t packets_due(const emu_options& options, const unit_state& unit, std::int64_t now)
{
    return static_cast<std::uint64_t>(static_cast<double>(now - unit.pace_origin) * options.rate /
                                      1e9) +
           1;
}

void note_faults(const queue_item& item, const emu_log& log, std::int64_t now)
{
    unsigned counter = static_cast<unsigned>(item.seq & 0xFFFF);
    unsigned long long index = item.stream_index;
    if (item.faults & fault_checksum)
        note(log, now, "stream packet %llu (counter %u) sent with a wrong checksum", index,
             counter);
    if (item.faults & fault_header)
        note(log, now, "stream packet %llu (counter %u) sent with header byte 0x00", index,
             counter);
    if (item.faults & fault_dropped_byte)
        note(log, now, "stream packet %llu (counter %u) sent without data byte %zu", index, counter,
             dropped_byte_offset);
}

// Events due after stream packet `index` went out.
void run_events(const emu_options& options, unit_state& unit, std::uint64_t index,
                written_effect& effect, const emu_log& log, std::int64_t now)
{
    while (unit.next_event < options.events.size() &&
           options.events[unit.next_event].packet <= index) {
        const unit_event& event = options.events[unit.next_event++];
        if (event.kind == event_kind::silence) {
            unit.silent_until = now + static_cast<std::int64_t>(event.ms) * ns_per_ms;
            note(log, now, "after stream packet %llu: silent for %u ms",
                 static_cast<unsigned long long>(index), static_cast<unsigned>(event.ms));
        } else if (event.kind == event_kind::hold) {
            unit.silent_until = now + static_cast<std::int64_t>(event.ms) * ns_per_ms;
            effect.hold = true;
            effect.hold_ms = event.ms;
            note(log, now, "after stream packet %llu: silent, the logger's output held for %u ms",
                 static_cast<unsigned long long>(index), static_cast<unsigned>(event.ms));
        } else {
            effect.unplug = true;
            effect.unplug_ms = event.ms;
            note(log, now,
                 "after stream packet %llu: silent, then unplugged for %u ms once it is read",
                 static_cast<unsigned long long>(index), static_cast<unsigned>(event.ms));
        }
    }
}

} // namespace

void refill_stream(const emu_options& options, unit_state& unit, out_queue& queue, std::int64_t now)
{
    if (!may_stream(unit, now))
        return;
    std::uint64_t allowed = packets_allowed(options, unit);
    if (allowed == 0)
        return;
    if (options.rate == 0) {
        if (queue_pending(queue) >= unpaced_chunk / 2)
            return;
        std::uint64_t fit = (unpaced_chunk - queue_pending(queue)) / packet_length(unit.mode) + 1;
        build_stream_packets(options, unit, queue, std::min(allowed, fit));
        return;
    }
    if (queue_pending(queue) != 0)
        return;
    std::uint64_t due = packets_due(options, unit, now);
    if (due <= unit.pace_built)
        return;
    if (now - due_time_of(options, unit, unit.pace_built) > max_catch_up_ns) {
        unit.pace_origin = now;
        unit.pace_built = 0;
        due = 1;
    }
    build_stream_packets(options, unit, queue, std::min(allowed, due - unit.pace_built));
}

std::int64_t stream_due_time(const emu_options& options, const unit_state& unit,
                             const out_queue& queue, std::int64_t now)
{
    if (unit.silent_until != 0 && now < unit.silent_until)
        return unit.silent_until;
    if (!may_stream(unit, now) || options.rate == 0 || queue_pending(queue) != 0 ||
        packets_allowed(options, unit) == 0)
        return -1;
    return std::max(now, due_time_of(options, unit, unit.pace_built));
}

written_effect account_written(const emu_options& options, unit_state& unit, out_queue& queue,
                               std::size_t written, const emu_log& log, std::int64_t now)
{
    written_effect effect;
    queue_consume(queue, written);
    queue_item item;
    while (queue_pop_done(queue, item)) {
        if (item.kind != item_kind::stream_packet)
            continue;
        unit.stream_sent = item.stream_index;
        if (item.faults != 0)
            note_faults(item, log, now);
        if (options.has_count && unit.stream_sent >= options.count) {
            unit.finished = true;
            unit.streaming = false;
            queue_clear(queue);
            note(log, now, "all %llu packets sent: silent for good",
                 static_cast<unsigned long long>(options.count));
            return effect;
        }
        run_events(options, unit, unit.stream_sent, effect, log, now);
        if (effect.unplug)
            return effect;
    }
    return effect;
}

void end_silence_if_over(unit_state& unit, const emu_log& log, std::int64_t now)
{
    if (unit.silent_until == 0 || now < unit.silent_until)
        return;
    unit.silent_until = 0;
    unit.pace_origin = now;
    unit.pace_built = 0;
    note(log, now, "silence over");
}

} // namespace imutap_emu
