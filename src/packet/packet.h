// The check applied to every packet, and the room a packet takes.
#pragma once

#include "packet/layout.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imutap {

// Size of the one packet buffer the run reuses; a packet is at most 255 bytes.
constexpr std::size_t packet_buffer_size = 256;

// Copies `count` bytes of a packet. The 16 to 32 bytes of a whole packet are
// copied inline, as two overlapping halves: after every wake-up a call into
// the C library's copy costs more than the copy itself.
inline void copy_packet_bytes(std::uint8_t* to, const std::uint8_t* from, std::size_t count)
{
    if (count >= 16 && count <= 32) {
        std::memcpy(to, from, 16);
        std::memcpy(to + count - 16, from + count - 16, 16);
        return;
    }
    std::memcpy(to, from, count);
}

// Bytes per packet for a mode letter (its layout's length), 0 for a letter
// that has no layout.
std::uint32_t packet_length_for(char mode);

// What check_packet finds in a packet.
enum class packet_verdict {
    good,
    no_layout, // the mode letter has no packet layout
    wrong_length, // not the mode's packet length
    bad_header,
    bad_sum,
    bad_header_and_sum,
};

// Judges one received packet for the mode the unit was put into; says
// nothing (the run layer says what is wrong). Reads only bytes
// 0 .. length-1, and only when the length is the mode's packet length.
packet_verdict check_packet(char mode, const std::uint8_t* bytes, std::uint32_t length);

} // namespace imutap
