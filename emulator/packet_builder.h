#pragma once

#include <cstddef>
#include <cstdint>

// Raw 16-bit field values of one sample, before they are laid out in a packet.
struct raw_sample {
    int16_t roll = 0;
    int16_t pitch = 0;
    int16_t yaw = 0;
    int16_t gyro[3] = {};
    int16_t accel[3] = {};
    int16_t mag[3] = {};
    uint16_t temperature = 0;
    uint16_t channels[9] = {};  // voltage mode, channels 1 to 9
};

constexpr size_t max_packet_length = 30;
constexpr uint8_t header_byte = 0xFF;
constexpr size_t dropped_byte_offset = 3;

// 30 for angle mode 'a', 24 for every other mode letter.
size_t packet_length(char mode);

// Sum of offsets 1 to length-2, modulo 256.
uint8_t packet_checksum(const uint8_t* packet, size_t length);

// Lays out sample and counter in the layout of mode (the scaled layout for letters
// without a layout of their own); returns the packet length.
size_t build_packet(char mode, const raw_sample& sample, uint16_t counter, uint8_t* out);

// Faults: header 0x00 (checksum still right); a checksum one too high; data byte 3 left
// out (returns the new length).
void spoil_header(uint8_t* packet);
void spoil_checksum(uint8_t* packet, size_t length);
size_t drop_data_byte(uint8_t* packet, size_t length);
