// The packets the per-packet benchmarks work through: the emulated unit's own
// stream, so the values have the spread of a real run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct packet_samples {
    char mode = 'a';
    std::uint32_t length = 0; // bytes per packet
    std::vector<std::uint8_t> bytes; // `count` packets, one after the other
    std::size_t count = 0;
};

// `count` consecutive packets of the emulated unit in this mode ('a', 'c' or 'r').
packet_samples make_packet_samples(char mode, std::size_t count);

inline const std::uint8_t* packet_at(const packet_samples& samples, std::size_t index)
{
    return samples.bytes.data() + index * samples.length;
}
