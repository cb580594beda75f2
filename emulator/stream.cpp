#include "stream.h"

#include "index_list.h"
#include "mono_clock.h"
#include "packet_builder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int64_t max_catch_up_ns = 1'000'000'000;
constexpr uint64_t unlimited = std::numeric_limits<uint64_t>::max();

bool may_stream(const unit_state& u, int64_t now)
{
    return u.streaming && !u.finished && !unit_silent(u, now);
}

// How many more stream packets may be built before the -n limit or the next event.
uint64_t packets_allowed(const emu_options& o, const unit_state& u)
{
    uint64_t allowed = o.has_count ? o.count - std::min(o.count, u.stream_built) : unlimited;
    if (u.next_event < o.events.size()) {
        uint64_t packet = o.events[u.next_event].packet;
        allowed = std::min(allowed, packet > u.stream_built ? packet - u.stream_built : 0);
    }
    return allowed;
}

bool is_hold_packet(const emu_options& o, const unit_state& u, uint64_t index)
{
    return (o.has_count && index == o.count)
        || (u.next_event < o.events.size() && o.events[u.next_event].packet == index);
}

uint8_t faults_for(const emu_options& o, uint64_t index)
{
    uint8_t faults = 0;
    if (index_listed(o.bad_checksum, index))
        faults |= fault_checksum;
    if (index_listed(o.bad_header, index))
        faults |= fault_header;
    if (index_listed(o.drop_byte, index))
        faults |= fault_dropped_byte;
    return faults;
}

void build_stream_packets(const emu_options& o, unit_state& u, out_queue& q, uint64_t count)
{
    for (uint64_t i = 0; i < count && queue_has_room(q, max_packet_length, 1); ++i) {
        uint64_t index = u.stream_built + 1;
        unit_queue_packet(u, q, item_kind::stream_packet, index, faults_for(o, index), max_packet_length,
                          is_hold_packet(o, u, index));
        u.stream_built = index;
        ++u.pace_built;
    }
}

int64_t due_time_of(const emu_options& o, const unit_state& u, uint64_t k)
{
    return u.pace_origin + int64_t(std::ceil(double(k) * 1e9 / o.rate));
}

// Packets of the current paced run due by now.
uint64_t packets_due(const emu_options& o, const unit_state& u, int64_t now)
{
    return uint64_t(double(now - u.pace_origin) * o.rate / 1e9) + 1;
}

void note_faults(const queue_item& item, const emu_log& log, int64_t now)
{
    unsigned counter = unsigned(item.seq & 0xFFFF);
    unsigned long long index = item.stream_index;
    if (item.faults & fault_checksum)
        note(log, now, "stream packet %llu (counter %u) sent with a wrong checksum", index, counter);
    if (item.faults & fault_header)
        note(log, now, "stream packet %llu (counter %u) sent with header byte 0x00", index, counter);
    if (item.faults & fault_dropped_byte)
        note(log, now, "stream packet %llu (counter %u) sent without data byte %zu", index, counter,
             dropped_byte_offset);
}

// Events due after stream packet `index` went out.
void run_events(const emu_options& o, unit_state& u, uint64_t index, written_effect& effect,
                const emu_log& log, int64_t now)
{
    while (u.next_event < o.events.size() && o.events[u.next_event].packet <= index) {
        const unit_event& event = o.events[u.next_event++];
        if (event.kind == event_kind::silence) {
            u.silent_until = now + int64_t(event.ms) * ns_per_ms;
            note(log, now, "after stream packet %llu: silent for %u ms", static_cast<unsigned long long>(index),
                 unsigned(event.ms));
        } else if (event.kind == event_kind::hold) {
            u.silent_until = now + int64_t(event.ms) * ns_per_ms;
            effect.hold = true;
            effect.hold_ms = event.ms;
            note(log, now, "after stream packet %llu: silent, the logger's output held for %u ms",
                 static_cast<unsigned long long>(index), unsigned(event.ms));
        } else {
            effect.unplug = true;
            effect.unplug_ms = event.ms;
            note(log, now, "after stream packet %llu: silent, then unplugged for %u ms once it is read", static_cast<unsigned long long>(index),
                 unsigned(event.ms));
        }
    }
}

} // namespace

void refill_stream(const emu_options& o, unit_state& u, out_queue& q, int64_t now)
{
    if (!may_stream(u, now))
        return;
    uint64_t allowed = packets_allowed(o, u);
    if (allowed == 0)
        return;
    if (o.rate == 0) {
        if (queue_pending(q) >= unpaced_chunk / 2)
            return;
        uint64_t fit = (unpaced_chunk - queue_pending(q)) / packet_length(u.mode) + 1;
        build_stream_packets(o, u, q, std::min(allowed, fit));
        return;
    }
    if (queue_pending(q) != 0)
        return;
    uint64_t due = packets_due(o, u, now);
    if (due <= u.pace_built)
        return;
    if (now - due_time_of(o, u, u.pace_built) > max_catch_up_ns) {
        u.pace_origin = now;
        u.pace_built = 0;
        due = 1;
    }
    build_stream_packets(o, u, q, std::min(allowed, due - u.pace_built));
}

int64_t stream_due_time(const emu_options& o, const unit_state& u, const out_queue& q, int64_t now)
{
    if (u.silent_until != 0 && now < u.silent_until)
        return u.silent_until;
    if (!may_stream(u, now) || o.rate == 0 || queue_pending(q) != 0 || packets_allowed(o, u) == 0)
        return -1;
    return std::max(now, due_time_of(o, u, u.pace_built));
}

written_effect account_written(const emu_options& o, unit_state& u, out_queue& q, size_t written,
                               const emu_log& log, int64_t now)
{
    written_effect effect;
    queue_consume(q, written);
    queue_item item;
    while (queue_pop_done(q, item)) {
        if (item.kind != item_kind::stream_packet)
            continue;
        u.stream_sent = item.stream_index;
        if (item.faults != 0)
            note_faults(item, log, now);
        if (o.has_count && u.stream_sent >= o.count) {
            u.finished = true;
            u.streaming = false;
            queue_clear(q);
            note(log, now, "all %llu packets sent: silent for good", static_cast<unsigned long long>(o.count));
            return effect;
        }
        run_events(o, u, u.stream_sent, effect, log, now);
        if (effect.unplug)
            return effect;
    }
    return effect;
}

void end_silence_if_over(unit_state& u, const emu_log& log, int64_t now)
{
    if (u.silent_until == 0 || now < u.silent_until)
        return;
    u.silent_until = 0;
    u.pace_origin = now;
    u.pace_built = 0;
    note(log, now, "silence over");
}
