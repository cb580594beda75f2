#include "packets.h"

std::uint8_t packet_sum(const std::uint8_t* packet, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < length; ++i)
        sum += packet[i];
    return static_cast<std::uint8_t>(sum);
}

bool checksum_matches(const std::uint8_t* packet, std::size_t length)
{
    return packet_sum(packet, length) == packet[length - 1];
}

bool good_packet(const std::uint8_t* packet, std::size_t length)
{
    return packet[0] == 0xFF && checksum_matches(packet, length);
}

unsigned counter_of(const std::uint8_t* packet, std::size_t length)
{
    return unsigned(packet[length - 3]) << 8 | packet[length - 2];
}

std::vector<std::uint8_t> packet_of(const std::vector<std::uint16_t>& words)
{
    std::vector<std::uint8_t> bytes{0xFF};
    for (std::uint16_t word : words) {
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    bytes.push_back(0);
    bytes.back() = packet_sum(bytes.data(), bytes.size());
    return bytes;
}

std::vector<std::uint8_t> busy_packet(char mode)
{
    std::vector<std::uint16_t> words(mode == 'a' ? 14 : 11);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(0x11FF + 0x0203 * i);
    return packet_of(words);
}

const std::uint8_t known_angle_packet[30] = {
    0xFF, 0x7F, 0xFF, 0x80, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x02, 0x1D, 0x80, 0x00, 0x7F, 0xFF,
    0x01, 0x01, 0x00, 0x57, 0x7F, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x08, 0x00, 0xFF, 0xFF, 0x77};
const std::uint8_t known_sensor_packet[24] = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x01, 0x80,
                                              0x00, 0x00, 0x57, 0x00, 0x00, 0x00, 0x01, 0xFF,
                                              0xFF, 0x7F, 0xFF, 0x04, 0x66, 0x30, 0x39, 0xA5};
