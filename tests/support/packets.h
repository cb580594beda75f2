// The unit's packets as the tests build and check them, independently of the
// logger and of the emulated unit: header 0xFF, the 16-bit words most
// significant byte first, then the sum of the bytes between header and
// checksum modulo 256. The last word before the checksum is the counter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The sum of the bytes between header and checksum, modulo 256.
std::uint8_t packet_sum(const std::uint8_t* packet, std::size_t length);
bool checksum_matches(const std::uint8_t* packet, std::size_t length);
// The header and the checksum both right.
bool good_packet(const std::uint8_t* packet, std::size_t length);
unsigned counter_of(const std::uint8_t* packet, std::size_t length);
// The packet of these words, header and checksum added.
std::vector<std::uint8_t> packet_of(const std::vector<std::uint16_t>& words);
// A good packet of the mode ('a' angle mode, 30 bytes; 'c' scaled and 'r'
// voltage mode, 24), nonzero everywhere and 0xFF inside the data, so that a
// checksum over too few or too many bytes cannot match by accident.
std::vector<std::uint8_t> busy_packet(char mode);

// Angle mode: roll 0x7FFF, pitch 0x8000, yaw 0xFFFF, gyro 0x0001 0x021D
// 0x8000, accel 0x7FFF 0x0101 0x0057, mag 0x7FFF 0x8000 0x0000, temperature
// 0x0800, counter 0xFFFF.
extern const std::uint8_t known_angle_packet[30];
// Scaled and voltage mode, the same bytes: 0xFFFF 0x7FFF 0x0101 0x8000
// 0x0057 0x0000 0x0001 0xFFFF 0x7FFF, temperature 1126, counter 12345.
extern const std::uint8_t known_sensor_packet[24];
