// The unit's packet layout in each mode it has one for: the one table the
// logger asks about a mode's packets, instead of comparing mode letters.
#pragma once

#include <cstdint>

namespace imutap {

enum class packet_kind {
    none, // a mode letter without a layout: its packets are never accepted
    angle,
    scaled,
    voltage,
};

struct packet_layout {
    char mode; // the letter the unit is put into this mode with
    packet_kind kind;
    std::uint32_t length; // bytes per packet, header and checksum included
    std::uint8_t header; // the first byte of every packet
    bool angles; // roll, pitch and yaw come before the three triads
    bool voltages; // the triads are channel voltages, not values scaled by their range
};

// Every packet starts with this byte and ends with an 8-bit additive checksum
// of the bytes between the header and the checksum.
constexpr std::uint8_t packet_header = 0xFF;

// Angle mode: roll, pitch, yaw, gyro, accel, mag, temperature and counter;
// scaled and voltage mode: the same without the angles.
inline constexpr packet_layout packet_layouts[] = {
    {'a', packet_kind::angle, 30, packet_header, true, false},
    {'c', packet_kind::scaled, 24, packet_header, false, false},
    {'r', packet_kind::voltage, 24, packet_header, false, true},
};

// What a letter without a layout has: no length, no angles, no voltages.
inline constexpr packet_layout no_packet_layout = {'\0', packet_kind::none, 0, packet_header, false,
                                                   false};

// The layout of the mode the letter selects; no_packet_layout for a letter
// that has none.
inline const packet_layout& packet_layout_of(char mode)
{
    for (const packet_layout& layout : packet_layouts)
        if (layout.mode == mode)
            return layout;
    return no_packet_layout;
}

} // namespace imutap
