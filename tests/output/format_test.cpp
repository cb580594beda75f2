// The number formatter must write exactly what printf writes for "%d",
// "%f", "%7.2f" and "%8.2f": every value a packet field can convert to, and
// the time column over the whole double range.
#include "output/format.h"
#include "packet/decode.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// Compares the formatter with snprintf for one value; returns an empty
// string when they agree, else a description of the difference.
std::string compare(double value, int width)
{
    char ours[longest_number + 16];
    char theirs[longest_number + 16];
    char* end = width == 0 ? put_fixed(ours, value, 6) : put_fixed_width(ours, value, width, 2);
    const std::string got(ours, end);
    if (width == 0)
        std::snprintf(theirs, sizeof theirs, "%f", value);
    else
        std::snprintf(theirs, sizeof theirs, "%*.2f", width, value);
    if (got == theirs)
        return {};
    char bits[64];
    std::snprintf(bits, sizeof bits, "%a", value);
    return std::string(bits) + " width " + std::to_string(width) + ": \"" + got + "\" should be \"" + theirs + "\"";
}

// Runs every value through "%f", "%7.2f" and "%8.2f"; fails with the first
// few differences.
void expect_printf_bytes(const std::vector<double>& values, const char* what)
{
    int differences = 0;
    for (double v : values) {
        for (int width : {0, 7, 8}) {
            const std::string difference = compare(v, width);
            if (!difference.empty() && ++differences <= 5)
                ADD_FAILURE() << what << ": " << difference;
        }
    }
    EXPECT_EQ(differences, 0) << what;
}

} // namespace

TEST(NumberFormat, EveryConvertedFieldValueIsWrittenLikePrintf)
{
    std::vector<double> angles, gyros, accels, mags, channels, temperatures;
    for (std::uint32_t raw = 0; raw < 65536; ++raw) {
        const auto u = static_cast<std::uint16_t>(raw);
        const auto s = static_cast<std::int16_t>(raw >= 32768 ? static_cast<int>(raw) - 65536 : static_cast<int>(raw));
        angles.push_back(angle_value(s));
        gyros.push_back(scaled_value(s, 100.0));
        accels.push_back(scaled_value(s, 4.0));
        mags.push_back(scaled_value(s, 1.0));
        channels.push_back(channel_value(u));
        temperatures.push_back(temperature_value(u));
    }
    expect_printf_bytes(angles, "angle");
    expect_printf_bytes(gyros, "gyro");
    expect_printf_bytes(accels, "accel");
    expect_printf_bytes(mags, "mag");
    expect_printf_bytes(channels, "voltage channel");
    expect_printf_bytes(temperatures, "temperature");
}

TEST(NumberFormat, TimeColumnOverTheWholeDoubleRange)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {
        0.0, -0.0, 1e300, -1e300, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN,
        std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
        DBL_MIN / 3.0, inf, -inf, 0.0000005, 0.0000015, 0.9999995, 999999.9999995,
        2147483.648, 4294967.296, 9007199254740993.0, 1e22, 1e23, -1e-7,
    };
    // Exact ties at the sixth and at the second decimal: printf rounds them
    // to even.
    for (int k = -300; k <= 300; ++k) {
        values.push_back(std::ldexp(k, -7));
        values.push_back(std::ldexp(k, -3));
    }
    std::mt19937_64 random(20240611);
    // Any bit pattern: every exponent is equally likely.
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isnan(v))
            values.push_back(v);
    }
    // Clock-like times: seconds since start with millisecond steps and beyond.
    std::uniform_real_distribution<double> seconds(0.0, 1e7);
    for (int i = 0; i < 20000; ++i)
        values.push_back(seconds(random));
    for (std::int64_t ms = 0; ms < 20000; ms += 7)
        values.push_back(static_cast<double>(ms) * 0.001);
    expect_printf_bytes(values, "time");
}

TEST(NumberFormat, IntegersAreWrittenLikePrintf)
{
    const std::int32_t values[] = {0, 1, -1, 9, 10, 65535, 2147483647, -2147483647 - 1, -10, 123456789};
    for (std::int32_t v : values) {
        char ours[32];
        char theirs[32];
        const std::string got(ours, put_int(ours, v));
        std::snprintf(theirs, sizeof theirs, "%" PRId32, v);
        EXPECT_EQ(got, theirs);
    }
}
