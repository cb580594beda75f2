#include "motion.h"
#include "packet_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>

using namespace imutap_emu;

namespace {

// The conversions the logger applies, for judging whether values are plausible.
double degrees(int raw)
{
    return raw * 180.0 / 32767.0;
}
double scaled(int raw, double range)
{
    return raw * range * 1.5 / 32767.0;
}
double volts(unsigned raw)
{
    return raw * 5.0 / 4096.0;
}
double celsius(unsigned raw)
{
    return (raw * 5.0 / 4096.0 - 1.375) * 44.44;
}

std::string printed(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

constexpr std::uint64_t span = 20000; // more than every period of the model

TEST(Motion, SameSequenceNumberGivesTheSameSample)
{
    for (std::uint64_t seq :
         {std::uint64_t(0), std::uint64_t(3), std::uint64_t(12345), std::uint64_t(1) << 40}) {
        std::uint8_t first[max_packet_length], second[max_packet_length];
        build_packet('a', sample_at(seq), 0, first);
        build_packet('a', sample_at(seq), 0, second);
        EXPECT_EQ(0, std::memcmp(first, second, sizeof first)) << seq;
    }
}

TEST(Motion, AnglesWobbleAndYawSweepsTheCircle)
{
    double lowest_yaw = 0, highest_yaw = 0, highest_roll = 0, highest_pitch = 0;
    for (std::uint64_t seq = 0; seq < span; ++seq) {
        raw_sample s = sample_at(seq);
        EXPECT_LE(std::fabs(degrees(s.roll)), 5.01);
        EXPECT_LE(std::fabs(degrees(s.pitch)), 3.01);
        lowest_yaw = std::min(lowest_yaw, degrees(s.yaw));
        highest_yaw = std::max(highest_yaw, degrees(s.yaw));
        highest_roll = std::max(highest_roll, degrees(s.roll));
        highest_pitch = std::max(highest_pitch, degrees(s.pitch));
    }
    EXPECT_LT(lowest_yaw, -179.0);
    EXPECT_GT(highest_yaw, 179.0);
    EXPECT_GT(highest_roll, 4.9);
    EXPECT_GT(highest_pitch, 2.9);
}

TEST(Motion, GyrosReadTheRatesOfTheAngles)
{
    // At 100 packets per second: compare each gyro with the angle change per second.
    for (std::uint64_t seq = 1; seq < span; seq += 37) {
        raw_sample before = sample_at(seq - 1), after = sample_at(seq + 1);
        if (int(after.yaw) - int(before.yaw) < 0)
            continue; // yaw wrapping through 180
        raw_sample now = sample_at(seq);
        double yaw_rate = degrees(after.yaw - before.yaw) * 50.0;
        EXPECT_NEAR(scaled(now.gyro[2], 100.0), yaw_rate, 0.2) << seq;
        double roll_rate = degrees(after.roll - before.roll) * 50.0;
        if (std::fabs(roll_rate) > 1.0) { // not at a turning point
            EXPECT_NEAR(scaled(now.gyro[0], 100.0), roll_rate, 0.3) << seq;
        }
    }
}

TEST(Motion, AccelerometersSeeOneGAndMagnetometersTheEarthField)
{
    for (std::uint64_t seq = 0; seq < span; seq += 11) {
        raw_sample s = sample_at(seq);
        double ax = scaled(s.accel[0], 4.0), ay = scaled(s.accel[1], 4.0),
               az = scaled(s.accel[2], 4.0);
        EXPECT_NEAR(std::sqrt(ax * ax + ay * ay + az * az), 1.0, 0.01) << seq;
        EXPECT_NEAR(ax, -std::sin(degrees(s.pitch) * std::numbers::pi / 180.0), 0.01) << seq;
        double mx = scaled(s.mag[0], 1.0), my = scaled(s.mag[1], 1.0), mz = scaled(s.mag[2], 1.0);
        double total = std::sqrt(mx * mx + my * my + mz * mz);
        EXPECT_GE(total, 0.2) << seq;
        EXPECT_LE(total, 0.5) << seq;
        EXPECT_NEAR(std::sqrt(mx * mx + my * my), 0.2, 0.01) << seq;
    }
}

TEST(Motion, TemperatureStaysNearTwentyFiveAndChannelsNearHalfScale)
{
    for (std::uint64_t seq = 0; seq < span; seq += 13) {
        raw_sample s = sample_at(seq);
        EXPECT_NEAR(celsius(s.temperature), 25.0, 0.5) << seq;
        if (is_tie_packet(seq))
            continue;
        for (std::uint16_t channel : s.channels) {
            EXPECT_GT(volts(channel), 2.0) << seq;
            EXPECT_LT(volts(channel), 3.0) << seq;
        }
    }
}

TEST(Motion, EverySeventhPacketCarriesRoundingTies)
{
    for (std::uint64_t seq = 0; seq < 70; ++seq) {
        raw_sample s = sample_at(seq);
        bool tie = seq % 7 == 3;
        EXPECT_EQ(is_tie_packet(seq), tie);
        EXPECT_EQ(s.channels[0] == tie_channels[0] && s.gyro[1] == -1, tie) << seq;
    }
    // Exact ties at the log file's six decimals, both ways of round-half-even...
    const char* six[] = {"0.039062", "2.539062", "2.460938", "2.617188", "2.382812"};
    for (int i = 0; i < 5; ++i) {
        double v = volts(tie_channels[i]);
        EXPECT_EQ(v * 1e7, std::floor(v * 1e7)) << "not exact at seven decimals: " << v;
        EXPECT_EQ(std::fmod(v * 1e7, 10.0), 5.0) << "not a tie: " << v;
        EXPECT_EQ(printed("%f", v), six[i]);
    }
    // ...and at the console's two decimals.
    const char* two[] = {"3.12", "1.88", "4.38", "0.62"};
    for (int i = 5; i < 9; ++i)
        EXPECT_EQ(printed("%.2f", volts(tie_channels[i])), two[i - 5]);
    EXPECT_EQ(printed("%7.2f", scaled(sample_at(3).gyro[1], 100.0)), "  -0.00");
}

} // namespace
