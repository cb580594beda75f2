#include "packet/packet.h"

#include "output/console.h"
#include "output/messages.h"

#include <cstdio>
#include <cstring>

namespace imutap {

std::uint32_t packet_length_for(char mode)
{
    switch (mode) {
    case 'a': return 30;
    case 'c': return 24;
    case 'r': return 24;
    default: return 0;
    }
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

bool check_packet(char mode, const std::uint8_t* bytes, std::uint32_t length)
{
    const std::uint32_t expected = packet_length_for(mode);
    if (expected == 0) {
        console_say(packet_no_layout, mode);
        return false;
    }
    if (length != expected) {
        if (mode == 'c')
            console_say(packet_wrong_length_scaled, static_cast<int>(length),
                        static_cast<int>(expected));
        else
            console_say(packet_wrong_length, static_cast<int>(length), static_cast<int>(expected));
        return false;
    }

    const bool header_good = bytes[0] == packet_header;
    const bool sum_good = checksum_of(bytes, length) == bytes[length - 1];
    if (header_good && sum_good)
        return true;
    print_dump(!header_good && !sum_good ? packet_bad_header_and_sum
               : !header_good            ? packet_bad_header
                                         : packet_bad_sum,
               bytes, length);
    return false;
}

} // namespace imutap
