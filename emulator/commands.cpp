#include "commands.h"

#include "packet_builder.h"

namespace imutap_emu {

namespace {

constexpr std::uint8_t stop_command = 'P';
constexpr std::uint8_t get_command = 'G';
constexpr std::uint8_t continuous_command = 'C';

// Why the unit lets this byte pass unanswered, or nullptr.
const char* reason_to_ignore(std::uint8_t byte, unit_state& unit, std::int64_t now)
{
    if (unit.finished)
        return "all packets sent, unit silent for good";
    if (unit_silent(unit, now))
        return "unit silent";
    std::int64_t& left = unit.ignore_left[byte];
    if (left == 0)
        return nullptr;
    if (left > 0)
        --left;
    return "--ignore";
}

void answer_get(const emu_options& options, unit_state& unit, out_queue& queue, const emu_log& log,
                std::int64_t now)
{
    std::size_t length = packet_length(unit.mode);
    std::size_t keep = length;
    if (unit.short_g_left != 0) {
        keep = options.short_g_bytes;
        if (unit.short_g_left > 0)
            --unit.short_g_left;
    }
    std::uint64_t seq = unit.seq;
    unit_queue_packet(unit, queue, item_kind::g_packet, 0, 0, keep, false);
    if (keep < length)
        note(log, now, "G: first %zu bytes of a %zu-byte packet (counter %u, --short-g)", keep,
             length, unsigned(seq & 0xFFFF));
    else
        note(log, now, "G: one %zu-byte packet (counter %u)", length, unsigned(seq & 0xFFFF));
}

void select_mode(std::uint8_t byte, unit_state& unit, out_queue& queue, const emu_log& log,
                 std::int64_t now)
{
    unit.mode = char(byte);
    std::uint8_t reply = std::uint8_t(byte - 32);
    *queue_reserve(queue, 1) = reply;
    queue_commit(queue, 1, queue_item{});
    note(log, now, "%s: mode %s, answered %s", byte_name(byte).c_str(), byte_name(byte).c_str(),
         byte_name(reply).c_str());
}

} // namespace

void handle_command(std::uint8_t byte, const emu_options& options, unit_state& unit,
                    out_queue& queue, const emu_log& log, std::int64_t now)
{
    if (const char* reason = reason_to_ignore(byte, unit, now)) {
        note(log, now, "%s: not answered (%s)", byte_name(byte).c_str(), reason);
        return;
    }
    cut_result cut = unit_cut_output(
        unit, queue, byte == stop_command ? cut_scope::unsent : cut_scope::unsent_stream);
    switch (byte) {
    case stop_command:
        unit.streaming = false;
        note(log, now, "P: output stopped (%zu queued bytes dropped)", cut.bytes);
        break;
    case get_command: answer_get(options, unit, queue, log, now); break;
    case continuous_command:
        if (!unit.streaming)
            unit_start_streaming(unit, now);
        note(log, now, "C: continuous output");
        break;
    default: select_mode(byte, unit, queue, log, now); break;
    }
}

} // namespace imutap_emu
