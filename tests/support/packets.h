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
