#include "packet/packet.h"

#include <cstring>

namespace imutap {

std::uint32_t packet_length_for(char mode)
{
    return packet_layout_of(mode).length;
}

// The sum of offsets 1 .. length-2 modulo 256; the header is not summed.
// Eight bytes at a time: their even and odd bytes added as four 16-bit
// lanes, which a packet of at most 255 bytes cannot overflow.
static std::uint8_t checksum_of(const std::uint8_t* bytes, std::uint32_t length)
{
    constexpr std::uint64_t low_bytes = 0x00FF00FF00FF00FFu;
    const std::uint8_t* at = bytes + 1;
    const std::uint8_t* const end = bytes + length - 1;
    std::uint64_t lanes = 0;
    for (; end - at >= 8; at += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, at, sizeof eight);
        lanes += (eight & low_bytes) + ((eight >> 8) & low_bytes);
    }
    // The four lanes summed into the top one.
    unsigned sum = static_cast<unsigned>((lanes * 0x0001000100010001u) >> 48);
    for (; at != end; ++at)
        sum += *at;
    return static_cast<std::uint8_t>(sum);
}

packet_verdict check_packet(char mode, const std::uint8_t* bytes, std::uint32_t length)
{
    const packet_layout& layout = packet_layout_of(mode);
    if (layout.kind == packet_kind::none)
        return packet_verdict::no_layout;
    if (length != layout.length)
        return packet_verdict::wrong_length;

    const bool header_good = bytes[0] == layout.header;
    const bool sum_good = checksum_of(bytes, length) == bytes[length - 1];
    if (header_good && sum_good)
        return packet_verdict::good;
    return !header_good && !sum_good ? packet_verdict::bad_header_and_sum
           : !header_good            ? packet_verdict::bad_header
                                     : packet_verdict::bad_sum;
}

} // namespace imutap
