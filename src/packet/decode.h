// Conversion of an accepted packet's raw fields to engineering values.
#pragma once

#include <cstdint>

namespace imutap {

struct decoded_packet {
    double roll = 0.0; // degrees, angle mode only
    double pitch = 0.0;
    double yaw = 0.0;
    double gyro[3] = {}; // deg/s; volts of channels 1-3 in voltage mode
    double accel[3] = {}; // g; channels 4-6 in voltage mode
    double mag[3] = {}; // gauss; channels 7-9 in voltage mode
    double temperature = 0.0; // degrees Celsius
    std::uint16_t counter = 0; // the unit's own sample counter
};

// Full-scale range of each triad field: gyro x,y,z, accel x,y,z, mag x,y,z.
constexpr double sensor_ranges[9] = {100.0, 100.0, 100.0, 4.0, 4.0, 4.0, 1.0, 1.0, 1.0};

constexpr double angle_factor = 0.005493331705679495; // 180.0 / 32767.0
constexpr double range_multiplier = 1.5;
constexpr double count_factor = 3.051850947599719e-05; // 1.0 / 32767.0
constexpr double channel_factor = 0.001220703125; // 5 / 4096
constexpr double temperature_offset = 1.375;
constexpr double temperature_slope = 44.44;

// The raw fields, most significant byte first.
inline std::uint16_t raw_unsigned(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] * 256 + at[1]);
}
inline std::int16_t raw_signed(const std::uint8_t* at)
{
    const int value = at[0] * 256 + at[1];
    return static_cast<std::int16_t>(value >= 32768 ? value - 65536 : value);
}

// One value per conversion rule, each double operation in this order.
inline double angle_value(std::int16_t raw)
{
    return static_cast<double>(raw) * angle_factor;
}
inline double scaled_value(std::int16_t raw, double range)
{
    const double full_scale = range * range_multiplier;
    const double product = static_cast<double>(raw) * full_scale;
    return product * count_factor;
}
inline double channel_value(std::uint16_t raw)
{
    return static_cast<double>(raw) * channel_factor;
}
inline double temperature_value(std::uint16_t raw)
{
    const double volts = static_cast<double>(raw) * channel_factor;
    const double above = volts - temperature_offset;
    return above * temperature_slope;
}

// Defined for the modes with a packet layout on a packet that passed
// check_packet; reads only the data fields. Without angles in the layout
// they stay 0.
decoded_packet decode_packet(char mode, const std::uint8_t* bytes);

} // namespace imutap
