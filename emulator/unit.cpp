#include "unit.h"

#include "motion.h"
#include "packet_builder.h"

#include <algorithm>

void unit_start(const emu_options& o, unit_state& u, int64_t now)
{
    u = unit_state{};
    u.seq = o.start_seq;
    u.finished = o.has_count && o.count == 0;  // "-n 0": silent for good from the start
    std::copy(std::begin(o.ignore_times), std::end(o.ignore_times), std::begin(u.ignore_left));
    u.short_g_left = o.has_short_g ? o.short_g_times : 0;
    unit_power_on(o, u, now);
}

void unit_power_on(const emu_options& o, unit_state& u, int64_t now)
{
    u.mode = 'a';
    u.streaming = false;
    u.silent_until = 0;
    if (o.streaming_at_power_on && !u.finished)
        unit_start_streaming(u, now);
}

bool unit_silent(const unit_state& u, int64_t now)
{
    return u.silent_until != 0 && now < u.silent_until;
}

void unit_start_streaming(unit_state& u, int64_t now)
{
    u.streaming = true;
    u.pace_origin = now;
    u.pace_built = 0;
}

void unit_queue_packet(unit_state& u, out_queue& q, item_kind kind, uint64_t stream_index,
                       uint8_t faults, size_t keep_bytes, bool hold)
{
    uint8_t* at = queue_reserve(q, max_packet_length);
    size_t length = build_packet(u.mode, sample_at(u.seq), uint16_t(u.seq & 0xFFFF), at);
    if (faults & fault_header)
        spoil_header(at);
    if (faults & fault_checksum)
        spoil_checksum(at, length);
    if (faults & fault_dropped_byte)
        length = drop_data_byte(at, length);
    queue_item item;
    item.kind = kind;
    item.faults = faults;
    item.hold = hold;
    item.seq = u.seq;
    item.stream_index = stream_index;
    queue_commit(q, std::min(length, keep_bytes), item);
    ++u.seq;
}

cut_result unit_cut_output(unit_state& u, out_queue& q, cut_scope scope)
{
    cut_result cut = queue_cut(q, scope);
    if (cut.has_packet)
        u.seq = cut.first_seq;
    if (cut.stream_packets != 0) {
        u.stream_built = cut.first_stream_index - 1;
        u.pace_built -= std::min(u.pace_built, cut.stream_packets);
    }
    return cut;
}
