#include "options.h"
#include "still.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace imutap_emu;

namespace {

emu_options parsed(std::vector<const char*> args, parse_outcome expected)
{
    args.insert(args.begin(), "imutap-emu");
    emu_options options;
    std::string error;
    EXPECT_EQ(parse_options(int(args.size()), args.data(), options, error), expected) << error;
    return options;
}

TEST(StillUnit, OptionsGiveTheNoiseOfEachSensor)
{
    emu_options options =
        parsed({"--still-gyro", "0.01:0.002", "--still-accel=2e-4"}, parse_outcome::run);
    EXPECT_TRUE(options.still.on);
    EXPECT_EQ(options.still.gyro_white, 0.01);
    EXPECT_EQ(options.still.gyro_walk, 0.002);
    EXPECT_EQ(options.still.accel_white, 2e-4);
    EXPECT_EQ(options.still.accel_walk, 0.0);
    EXPECT_FALSE(parsed({}, parse_outcome::run).still.on);
    for (const char* bad : {"", "x", "-1", "0.01:", "0.01:-2", "inf"})
        parsed({"--still-gyro", bad}, parse_outcome::error);
}

TEST(StillUnit, APacketBuiltAgainIsTheSameAndWhiteNoiseHasItsDensity)
{
    still_settings settings;
    settings.on = true;
    settings.gyro_white = 0.01; // deg/s/sqrt(Hz): 0.1 deg/s a sample at 100/s
    settings.accel_walk = 1e-4;
    still_state state = still_begin(settings, 100.0, 7);
    double sum = 0.0, squares = 0.0;
    const int samples = 20000;
    raw_sample at_500;
    for (int seq = 7; seq < 7 + samples; ++seq) {
        raw_sample s = still_sample_at(state, std::uint64_t(seq));
        if (seq == 500)
            at_500 = s;
        sum += s.gyro[1];
        squares += double(s.gyro[1]) * s.gyro[1];
    }
    const double counts = 0.1 * 32767.0 / 150.0;
    const double spread = std::sqrt(squares / samples - (sum / samples) * (sum / samples));
    EXPECT_NEAR(spread / counts, 1.0, 0.03);
    raw_sample again = still_sample_at(state, 500); // the unit went back: built again
    EXPECT_EQ(again.gyro[1], at_500.gyro[1]);
    EXPECT_EQ(again.accel[2], at_500.accel[2]);
    EXPECT_EQ(again.mag[2], at_500.mag[2]);
}

} // namespace
