// Log lines made in batches. At a thousand packets a second every packet
// comes after a wake-up that has pushed the line-making code and its tables
// out of the processor's caches. Keeping each accepted packet, with its count
// and its pass's clock reading, and making the lines of many packets in one
// go fetches them once a batch instead of once a line. Each line comes out as
// it would have at once, made from its own pass's clock reading.
#pragma once

#include "output/log_file.h"
#include "output/log_line.h"

#include <cstddef>
#include <cstdint>

namespace imutap {

// Packets a batch holds: at 1,000 packets/s its lines are made every 64 ms,
// and at any rate before each write-out of the log.
constexpr std::size_t line_batch_size = 64;
// A kept packet's room: the longest packet of any mode.
constexpr std::size_t line_batch_packet_bytes = 32;

struct batched_packet {
    std::uint32_t packets_read = 0;
    std::int64_t clock_ms = 0;
    std::uint8_t bytes[line_batch_packet_bytes] = {};
};

struct line_batch {
    std::size_t count = 0;
    batched_packet packets[line_batch_size];
};

// Keeps an accepted packet until its line is made; a full batch has its
// lines made into the log's buffer. A packet too long to keep has its line
// made at once, after those kept before it.
void batch_line(line_batch& batch, log_writer& writer, log_file& log, std::uint32_t packets_read,
                const std::uint8_t* packet, std::uint32_t length, std::int64_t clock_ms);

// Makes the lines of every packet kept, in order, into the log's buffer.
void make_batched_lines(line_batch& batch, log_writer& writer, log_file& log);

} // namespace imutap
