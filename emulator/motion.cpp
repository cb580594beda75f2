// The motion in integer arithmetic: sine table, triangles, noise and the tie packets.
#include "motion.h"

namespace imutap_emu {

namespace {

// sin(i * 90 deg / 64) * 32767, i = 0..64: a quarter turn in 64 steps.
constexpr std::int32_t quarter_sine[65] = {
    0,     804,   1608,  2410,  3212,  4011,  4808,  5602,  6393,  7179,  7962,  8739,  9512,
    10278, 11039, 11793, 12539, 13279, 14010, 14732, 15446, 16151, 16846, 17530, 18204, 18868,
    19519, 20159, 20787, 21403, 22005, 22594, 23170, 23731, 24279, 24811, 25329, 25832, 26319,
    26790, 27245, 27683, 28105, 28510, 28898, 29268, 29621, 29956, 30273, 30571, 30852, 31113,
    31356, 31580, 31785, 31971, 32137, 32285, 32412, 32521, 32609, 32678, 32728, 32757, 32767,
};

constexpr std::int32_t one_g = 5461; // accel raw for 1 g (range 4 g * 1.5)
constexpr std::int32_t field_horizontal = 4369; // mag raw for 0.2 gauss (range 1 gauss * 1.5)
constexpr std::int32_t field_down = 8738; // 0.4 gauss
constexpr std::int32_t temperature_25c = 1587; // (25 / 44.44 + 1.375) * 4096 / 5
constexpr std::int32_t channel_middle = 2048; // 2.5 V

constexpr std::uint32_t roll_period = 400;
constexpr std::int32_t roll_amplitude = 910; // 5 deg
constexpr std::int32_t roll_rate = 1092; // gyro raw for 5 deg/s
constexpr std::uint32_t pitch_period = 640;
constexpr std::int32_t pitch_amplitude = 546; // 3 deg
constexpr std::int32_t pitch_rate = 410; // 1.875 deg/s
constexpr std::uint32_t yaw_step = 18; // angle raw per packet
constexpr std::int32_t yaw_rate = 2160; // 9.89 deg/s
constexpr std::uint32_t temperature_period = 6000;
constexpr std::int32_t temperature_swing = 8;

// sin of step `step` of 256 to the full turn.
std::int32_t sine_step(std::uint32_t step)
{
    step &= 255;
    if (step <= 64)
        return quarter_sine[step];
    if (step <= 128)
        return quarter_sine[128 - step];
    if (step <= 192)
        return -quarter_sine[step - 128];
    return -quarter_sine[256 - step];
}

// sin of a turn fraction (65536 = full turn) times 32767, interpolated.
std::int32_t sine_of_turn(std::uint16_t turn)
{
    std::uint32_t step = turn >> 8;
    std::int32_t fraction = turn & 0xFF;
    std::int32_t low = sine_step(step);
    std::int32_t high = sine_step(step + 1);
    return low + (high - low) * fraction / 256;
}

// Triangle wave through 0, rising first; period a multiple of 4.
std::int32_t triangle(std::uint64_t seq, std::uint32_t period, std::int32_t amplitude)
{
    std::int64_t quarter = period / 4;
    std::int64_t phase = static_cast<std::int64_t>(seq % period);
    std::int64_t value = phase < quarter       ? phase
                         : phase < 3 * quarter ? 2 * quarter - phase
                                               : phase - 4 * quarter;
    return static_cast<std::int32_t>(value * amplitude / quarter);
}

// +1 while triangle() rises, -1 while it falls.
std::int32_t triangle_slope(std::uint64_t seq, std::uint32_t period)
{
    std::uint64_t phase = seq % period;
    return phase < period / 4 || phase >= 3 * (period / 4) ? 1 : -1;
}

// Repeatable noise for one packet: seven bits per sensor channel (nine of them).
std::uint64_t noise_bits(std::uint64_t seq)
{
    std::uint64_t x = seq * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 32;
    return x;
}

// A few counts of noise, -3..3, for sensor channel 0..8.
std::int32_t noise(std::uint64_t bits, unsigned channel)
{
    std::int32_t chunk = static_cast<std::int32_t>((bits >> (7 * channel)) & 0x7F);
    return ((chunk * 7) >> 7) - 3;
}

// sin of a small angle given as angle raw, times one g (sin x ~ x; 355/113 ~ pi).
std::int32_t tilt_component(std::int32_t angle_raw)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(one_g) * angle_raw * 355 /
                                     (113LL * 32767));
}

std::int16_t clamp16(std::int32_t value)
{
    return static_cast<std::int16_t>(value < -32768 ? -32768 : value > 32767 ? 32767 : value);
}

std::uint16_t channel_of(std::int32_t sensor_raw)
{
    return static_cast<std::uint16_t>(channel_middle + sensor_raw / 32);
}

} // namespace

bool is_tie_packet(std::uint64_t seq)
{
    return seq % 7 == 3;
}

raw_sample sample_at(std::uint64_t seq)
{
    raw_sample s;
    std::uint64_t bits = noise_bits(seq);
    std::int32_t roll = triangle(seq, roll_period, roll_amplitude);
    std::int32_t pitch = triangle(seq + pitch_period / 4, pitch_period, pitch_amplitude);
    s.roll = static_cast<std::int16_t>(roll);
    s.pitch = static_cast<std::int16_t>(pitch);
    s.yaw = static_cast<std::int16_t>(static_cast<std::uint16_t>(seq * yaw_step));

    s.gyro[0] = clamp16(triangle_slope(seq, roll_period) * roll_rate + noise(bits, 0));
    s.gyro[1] =
        clamp16(triangle_slope(seq + pitch_period / 4, pitch_period) * pitch_rate + noise(bits, 1));
    s.gyro[2] = clamp16(yaw_rate + noise(bits, 2));

    std::int32_t ax = -tilt_component(pitch);
    std::int32_t ay = tilt_component(roll);
    s.accel[0] = clamp16(ax + noise(bits, 3));
    s.accel[1] = clamp16(ay + noise(bits, 4));
    s.accel[2] = clamp16(one_g - (ax * ax + ay * ay) / (2 * one_g) + noise(bits, 5));

    std::uint16_t heading = static_cast<std::uint16_t>(static_cast<std::int32_t>(s.yaw) * 2);
    std::int32_t sin_yaw = sine_of_turn(heading);
    std::int32_t cos_yaw = sine_of_turn(static_cast<std::uint16_t>(heading + 16384));
    s.mag[0] = clamp16(field_horizontal * cos_yaw / 32767 + noise(bits, 6));
    s.mag[1] = clamp16(-field_horizontal * sin_yaw / 32767 + noise(bits, 7));
    s.mag[2] = clamp16(field_down + noise(bits, 8));

    s.temperature = static_cast<std::uint16_t>(
        temperature_25c + triangle(seq, temperature_period, temperature_swing));

    const std::int16_t* sensors[9] = {&s.gyro[0],  &s.gyro[1], &s.gyro[2], &s.accel[0], &s.accel[1],
                                      &s.accel[2], &s.mag[0],  &s.mag[1],  &s.mag[2]};
    for (int i = 0; i < 9; ++i)
        s.channels[i] = channel_of(*sensors[i]);

    if (is_tie_packet(seq)) {
        s.gyro[1] = -1;
        for (int i = 0; i < 9; ++i)
            s.channels[i] = tie_channels[i];
    }
    return s;
}

} // namespace imutap_emu
