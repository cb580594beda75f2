#include "output/line_batch.h"

#include "packet/packet.h"

namespace imutap {

static void make_line(log_writer& writer, log_file& log, std::uint32_t packets_read,
                      const std::uint8_t* packet, std::int64_t clock_ms)
{
    char line[log_line_capacity];
    const std::size_t length = make_log_line(line, writer, packets_read, packet, clock_ms);
    if (length != 0)
        log_put_line(log, line, length);
}

void make_batched_lines(line_batch& batch, log_writer& writer, log_file& log)
{
    for (std::size_t i = 0; i < batch.count; ++i) {
        const batched_packet& kept = batch.packets[i];
        make_line(writer, log, kept.packets_read, kept.bytes, kept.clock_ms);
    }
    batch.count = 0;
}

void batch_line(line_batch& batch, log_writer& writer, log_file& log, std::uint32_t packets_read,
                const std::uint8_t* packet, std::uint32_t length, std::int64_t clock_ms)
{
    if (length > line_batch_packet_bytes) {
        make_batched_lines(batch, writer, log);
        make_line(writer, log, packets_read, packet, clock_ms);
        return;
    }
    batched_packet& kept = batch.packets[batch.count];
    kept.packets_read = packets_read;
    kept.clock_ms = clock_ms;
    copy_packet_bytes(kept.bytes, packet, length);
    if (++batch.count == line_batch_size)
        make_batched_lines(batch, writer, log);
}

} // namespace imutap
