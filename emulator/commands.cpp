// The unit's answers to the logger's commands, and the late answers of --answer-late.
#include "commands.h"

#include "mono_clock.h"
#include "packet_builder.h"

namespace imutap_emu {

namespace {

constexpr std::uint8_t stop_command = 'P';
constexpr std::uint8_t get_command = 'G';
constexpr std::uint8_t continuous_command = 'C';

// Why the unit lets this byte pass unanswered, or nullptr.
bool is_mode_letter(std::uint8_t byte)
{
    return byte != stop_command && byte != get_command && byte != continuous_command;
}

const char* reason_to_ignore(std::uint8_t byte, const emu_options& options, unit_state& unit,
                             std::int64_t now)
{
    if (unit.finished)
        return "all packets sent, unit silent for good";
    if (unit_silent(unit, now))
        return "unit silent";
    if (is_mode_letter(byte) && unit.letter_after_stop) {
        unit.letter_after_stop = false;
        if (options.ignore_letter_after_stop)
            return "--ignore-after-p";
    }
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
             length, static_cast<unsigned>(seq & 0xFFFF));
    else
        note(log, now, "G: one %zu-byte packet (counter %u)", length,
             static_cast<unsigned>(seq & 0xFFFF));
}

void queue_answer(out_queue& queue, std::uint8_t reply)
{
    *queue_reserve(queue, 1) = reply;
    queue_commit(queue, 1, queue_item{});
}

void select_mode(std::uint8_t byte, const emu_options& options, unit_state& unit, out_queue& queue,
                 const emu_log& log, std::int64_t now)
{
    unit.mode = static_cast<char>(byte);
    const auto reply = static_cast<std::uint8_t>(byte - 32);
    if (options.answer_late_ms > 0) {
        unit.late_answers.push_back(
            late_answer{now + std::int64_t{options.answer_late_ms} * ns_per_ms, reply});
        note(log, now, "%s: mode %s, answer %s in %u ms", byte_name(byte).c_str(),
             byte_name(byte).c_str(), byte_name(reply).c_str(), options.answer_late_ms);
        return;
    }
    queue_answer(queue, reply);
    note(log, now, "%s: mode %s, answered %s", byte_name(byte).c_str(), byte_name(byte).c_str(),
         byte_name(reply).c_str());
}

} // namespace

void handle_command(std::uint8_t byte, const emu_options& options, unit_state& unit,
                    out_queue& queue, const emu_log& log, std::int64_t now)
{
    if (const char* reason = reason_to_ignore(byte, options, unit, now)) {
        note(log, now, "%s: not answered (%s)", byte_name(byte).c_str(), reason);
        return;
    }
    cut_result cut = unit_cut_output(
        unit, queue, byte == stop_command ? cut_scope::unsent : cut_scope::unsent_stream);
    switch (byte) {
    case stop_command:
        unit.streaming = false;
        unit.letter_after_stop = true;
        note(log, now, "P: output stopped (%zu queued bytes dropped)", cut.bytes);
        break;
    case get_command: answer_get(options, unit, queue, log, now); break;
    case continuous_command:
        if (!unit.streaming)
            unit_start_streaming(unit, now);
        note(log, now, "C: continuous output");
        break;
    default: select_mode(byte, options, unit, queue, log, now); break;
    }
}

std::int64_t queue_late_answers(unit_state& unit, out_queue& queue, std::int64_t now)
{
    std::size_t sent = 0;
    for (const late_answer& answer : unit.late_answers) {
        if (answer.due > now || !queue_has_room(queue, 1, 1))
            break;
        queue_answer(queue, answer.byte);
        ++sent;
    }
    unit.late_answers.erase(unit.late_answers.begin(),
                            unit.late_answers.begin() + static_cast<std::ptrdiff_t>(sent));
    if (unit.late_answers.empty())
        return -1;
    const std::int64_t due = unit.late_answers.front().due;
    return due > now ? due : now + ns_per_ms; // waits for room in the queue
}

} // namespace imutap_emu
