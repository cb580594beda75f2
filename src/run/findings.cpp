#include "run/findings.h"

#include "output/console.h"
#include "output/messages.h"
#include "system/file_platform.h"

#include <cstdarg>
#include <cstdio>

namespace imutap {

// `lead`, then every byte as "%x " (lower-case hex, no leading zeros), then a
// line end; built whole first so it reaches the console as one message.
static void print_dump(const char* lead, const std::uint8_t* bytes, std::uint32_t length)
{
    char text[64 + packet_buffer_size * 3 + 2];
    std::size_t used = static_cast<std::size_t>(std::snprintf(text, 64, "%s", lead));
    for (std::uint32_t i = 0; i < length && i < packet_buffer_size; ++i)
        used += static_cast<std::size_t>(std::snprintf(
            text + used, sizeof text - used, packet_dump_byte, static_cast<unsigned>(bytes[i])));
    text[used++] = '\n';
    console_message(text, used);
}

void say_packet_verdict(packet_verdict verdict, char mode, const std::uint8_t* bytes,
                        std::uint32_t length)
{
    const packet_layout& layout = packet_layout_of(mode);
    const int expected = static_cast<int>(layout.length);
    switch (verdict) {
    case packet_verdict::good: return;
    case packet_verdict::no_layout: console_say(packet_no_layout, mode); return;
    case packet_verdict::wrong_length:
        if (layout.kind == packet_kind::scaled)
            console_say(packet_wrong_length_scaled, static_cast<int>(length), expected);
        else
            console_say(packet_wrong_length, static_cast<int>(length), expected);
        return;
    case packet_verdict::bad_header_and_sum:
        print_dump(packet_bad_header_and_sum, bytes, length);
        return;
    case packet_verdict::bad_header: print_dump(packet_bad_header, bytes, length); return;
    case packet_verdict::bad_sum: print_dump(packet_bad_sum, bytes, length); return;
    }
}

bool check_and_say_packet(char mode, const std::uint8_t* bytes, std::uint32_t length)
{
    const packet_verdict verdict = check_packet(mode, bytes, length);
    say_packet_verdict(verdict, mode, bytes, length);
    return verdict == packet_verdict::good;
}

void say_log_note(const log_file& log, const log_note& note)
{
    char reason[256];
    switch (note.what) {
    case log_news::write_failed:
        error_text(note.error, reason, sizeof reason);
        console_note(log_write_failed, reason);
        return;
    case log_news::write_blocked: console_note(log_write_blocked, note.number); return;
    case log_news::written_again:
        console_note(log_written_again, static_cast<unsigned long long>(note.number));
        return;
    case log_news::deleted: console_note(log_file_deleted, log.name); return;
    case log_news::cannot_empty:
        error_text(note.error, reason, sizeof reason);
        console_note(log_file_cannot_create, log.name, reason);
        return;
    }
}

void say_port_failure(const port_failure& failure)
{
    const char* text = nullptr;
    switch (failure.step) {
    case port_step::none: return;
    case port_step::open: text = port_cannot_open; break;
    case port_step::queues: text = port_queues_failed; break;
    case port_step::get_line: text = port_get_line_failed; break;
    case port_step::set_line: text = port_set_line_failed; break;
    case port_step::get_timing: text = port_get_timing_failed; break;
    case port_step::set_timing: text = port_set_timing_failed; break;
    }
    std::printf(text, failure.error);
}

void say_once(unit_note& last_said, unit_note what, const char* format, ...)
{
    if (last_said == what)
        return;
    last_said = what;
    va_list values;
    va_start(values, format);
    console_note_list(format, values);
    va_end(values);
}

static void say_unit_trouble(void* context, unit_note what)
{
    unit_said& said = *static_cast<unit_said*>(context);
    if (what == unit_note::keeps_sending)
        say_once(said.last_said, what, unit_keeps_sending);
    else if (what == unit_note::no_acknowledgement)
        say_once(said.last_said, what, unit_no_acknowledgement, said.mode);
}

unit_trouble_hook say_troubles_once(unit_said& said)
{
    return unit_trouble_hook{say_unit_trouble, &said};
}

void say_exchange_answer(const device_result& result, char mode)
{
    if (result.answered)
        static_cast<void>(check_and_say_packet(mode, result.answer, result.packet_length));
}

} // namespace imutap
