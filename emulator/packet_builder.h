// The unit's packets: the fields laid out per mode, the checksum, and the faults a packet
// can carry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imutap_emu {

// Raw 16-bit field values of one sample, before they are laid out in a packet.
struct raw_sample {
    std::int16_t roll = 0;
    std::int16_t pitch = 0;
    std::int16_t yaw = 0;
    std::int16_t gyro[3] = {};
    std::int16_t accel[3] = {};
    std::int16_t mag[3] = {};
    std::uint16_t temperature = 0;
    std::uint16_t channels[9] = {}; // voltage mode, channels 1 to 9
};

constexpr std::size_t max_packet_length = 30;
constexpr std::uint8_t header_byte = 0xFF;
constexpr std::size_t dropped_byte_offset = 3;

// 30 for angle mode 'a', 24 for every other mode letter.
std::size_t packet_length(char mode);

// Sum of offsets 1 to length-2, modulo 256.
std::uint8_t packet_checksum(const std::uint8_t* packet, std::size_t length);

// Lays out sample and counter in the layout of mode (the scaled layout for letters
// without a layout of their own); returns the packet length.
std::size_t build_packet(char mode, const raw_sample& sample, std::uint16_t counter,
                         std::uint8_t* out);

// Faults: header 0x00 (checksum still right); a checksum one too high; data byte 3 left
// out (returns the new length).
void spoil_header(std::uint8_t* packet);
void spoil_checksum(std::uint8_t* packet, std::size_t length);
std::size_t drop_data_byte(std::uint8_t* packet, std::size_t length);

} // namespace imutap_emu
