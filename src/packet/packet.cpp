#include "packet/packet.h"

#include <cstdio>

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
static std::uint8_t checksum_of(const std::uint8_t* bytes, std::uint32_t length)
{
    unsigned sum = 0;
    for (std::uint32_t i = 1; i + 1 < length; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

// Every byte as "%x " (lower-case hex, no leading zeros), then a line end;
// built whole first so it reaches an unbuffered console in one write.
static void print_dump(const std::uint8_t* bytes, std::uint32_t length)
{
    char text[packet_buffer_size * 3 + 2];
    std::size_t used = 0;
    for (std::uint32_t i = 0; i < length && i < packet_buffer_size; ++i)
        used += static_cast<std::size_t>(std::snprintf(text + used, sizeof text - used, "%x ",
                                                       static_cast<unsigned>(bytes[i])));
    text[used++] = '\n';
    std::fwrite(text, 1, used, stdout);
}

bool check_packet(char mode, const std::uint8_t* bytes, std::uint32_t length)
{
    const std::uint32_t expected = packet_length_for(mode);
    if (expected == 0) {
        std::printf("\nunrecognized packet type: %c", mode);
        return false;
    }
    if (length != expected) {
        // Scaled mode's message has two blanks before the expected length.
        if (mode == 'c')
            std::printf("packet size incorrect: %d should be  %d for AHRS\n",
                        static_cast<int>(length), static_cast<int>(expected));
        else
            std::printf("packet size incorrect: %d should be %d for AHRS\n",
                        static_cast<int>(length), static_cast<int>(expected));
        return false;
    }

    const bool header_good = bytes[0] == packet_header;
    if (!header_good)
        std::printf("\nunrecognized header byte: ");

    if (checksum_of(bytes, length) != bytes[length - 1]) {
        std::printf("\nbad checksum:");
    } else if (header_good) {
        return true;
    }
    print_dump(bytes, length);
    return false;
}
