// The unit's state: power-on, silence, streaming, and queuing and cutting its packets.
#include "unit.h"

#include "motion.h"
#include "packet_builder.h"

#include <algorithm>

namespace imutap_emu {

void unit_start(const emu_options& options, unit_state& unit, std::int64_t now)
{
    unit = unit_state{};
    unit.seq = options.start_seq;
    unit.finished =
        options.has_count && options.count == 0; // "-n 0": silent for good from the start
    std::copy(std::begin(options.ignore_times), std::end(options.ignore_times),
              std::begin(unit.ignore_left));
    unit.short_g_left = options.has_short_g ? options.short_g_times : 0;
    unit.still = still_begin(options.still, options.rate, options.start_seq);
    unit_power_on(options, unit, now);
}

void unit_power_on(const emu_options& options, unit_state& unit, std::int64_t now)
{
    unit.mode = 'a';
    unit.streaming = false;
    unit.silent_until = 0;
    unit.letter_after_stop = false;
    unit.late_answers.clear();
    if (options.streaming_at_power_on && !unit.finished)
        unit_start_streaming(unit, now);
}

bool unit_silent(const unit_state& unit, std::int64_t now)
{
    return unit.silent_until != 0 && now < unit.silent_until;
}

void unit_start_streaming(unit_state& unit, std::int64_t now)
{
    unit.streaming = true;
    unit.pace_origin = now;
    unit.pace_built = 0;
}

void unit_queue_packet(unit_state& unit, out_queue& queue, item_kind kind,
                       std::uint64_t stream_index, std::uint8_t faults, std::size_t keep_bytes,
                       bool hold)
{
    std::uint8_t* at = queue_reserve(queue, max_packet_length);
    const raw_sample sample =
        unit.still.settings.on ? still_sample_at(unit.still, unit.seq) : sample_at(unit.seq);
    std::size_t length =
        build_packet(unit.mode, sample, static_cast<std::uint16_t>(unit.seq & 0xFFFF), at);
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
    item.seq = unit.seq;
    item.stream_index = stream_index;
    queue_commit(queue, std::min(length, keep_bytes), item);
    ++unit.seq;
}

cut_result unit_cut_output(unit_state& unit, out_queue& queue, cut_scope scope)
{
    cut_result cut = queue_cut(queue, scope);
    if (cut.has_packet)
        unit.seq = cut.first_seq;
    if (cut.stream_packets != 0) {
        unit.stream_built = cut.first_stream_index - 1;
        unit.pace_built -= std::min(unit.pace_built, cut.stream_packets);
    }
    return cut;
}

} // namespace imutap_emu
