// The number formatter must write exactly what printf writes for "%d",
// "%f", "%7.2f" and "%8.2f": every value a packet field can convert to, and
// the time column over the whole double range. The fast way behind it
// (put_fixed_digits) is held to printf on its own, at every precision.
#include "output/fixed_digits.h"
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

using namespace imutap;

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
    return std::string(bits) + " width " + std::to_string(width) + ": \"" + got +
           "\" should be \"" + theirs + "\"";
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

// put_fixed_digits against snprintf "%.*f" at every precision it takes;
// values outside its range must be refused. Fails with the first few
// differences.
void expect_digits_like_printf(const std::vector<double>& values, const char* what)
{
    int differences = 0;
    for (double v : values) {
        for (int precision = 1; precision <= fixed_digits_max_precision; ++precision) {
            char ours[64];
            char theirs[longest_number + 16];
            std::snprintf(theirs, sizeof theirs, "%.*f", precision, v);
            char* end = put_fixed_digits(ours, v, precision);
            const bool in_range = std::isfinite(v) && std::fabs(v) < 18446744073709551616.0;
            std::string got = end == nullptr ? "(refused)" : std::string(ours, end);
            if (!in_range && end == nullptr)
                continue;
            if (got == theirs && in_range)
                continue;
            if (++differences <= 5) {
                char bits[64];
                std::snprintf(bits, sizeof bits, "%a", v);
                ADD_FAILURE() << what << ": " << bits << " precision " << precision << ": \"" << got
                              << "\" should be \"" << (in_range ? theirs : "(refused)") << "\"";
            }
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
        const auto s = static_cast<std::int16_t>(raw >= 32768 ? static_cast<int>(raw) - 65536
                                                              : static_cast<int>(raw));
        angles.push_back(angle_value(s));
        gyros.push_back(scaled_value(s, 100.0));
        accels.push_back(scaled_value(s, 4.0));
        mags.push_back(scaled_value(s, 1.0));
        channels.push_back(channel_value(u));
        temperatures.push_back(temperature_value(u));
    }
    // put_fixed_digits writes all of them (none is left to to_chars), so
    // this covers it whole.
    for (const std::vector<double>* values :
         {&angles, &gyros, &accels, &mags, &channels, &temperatures}) {
        for (double v : *values) {
            char text[64];
            ASSERT_NE(put_fixed_digits(text, v, 6), nullptr) << v;
            ASSERT_NE(put_fixed_digits(text, v, 2), nullptr) << v;
        }
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
        0.0,
        -0.0,
        1e300,
        -1e300,
        DBL_MAX,
        -DBL_MAX,
        DBL_MIN,
        -DBL_MIN,
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        DBL_MIN / 3.0,
        inf,
        -inf,
        0.0000005,
        0.0000015,
        0.9999995,
        999999.9999995,
        2147483.648,
        4294967.296,
        9007199254740993.0,
        1e22,
        1e23,
        -1e-7,
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
    const std::int32_t values[] = {0,   1,        -1, 9, 10, 65535, 2147483647, -2147483647 - 1,
                                   -10, 123456789};
    for (std::int32_t v : values) {
        char ours[32];
        char theirs[32];
        const std::string got(ours, put_int(ours, v));
        std::snprintf(theirs, sizeof theirs, "%" PRId32, v);
        EXPECT_EQ(got, theirs);
    }
}

TEST(FixedDigits, EveryPrecisionLikePrintfAcrossItsRange)
{
    constexpr double two_to_64 = 18446744073709551616.0;
    std::vector<double> values = {
        0.0,
        -0.0,
        0.5,
        -0.5,
        1.0,
        9.5,
        99.995,
        0.05,
        0.0000005,
        0.00000049999999999999999,
        std::nextafter(two_to_64, 0.0),
        -std::nextafter(two_to_64, 0.0),
        two_to_64,
        -two_to_64,
        1e19,
        1e300,
        DBL_MAX,
        DBL_MIN,
        -DBL_MIN,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
    };
    // Every power of two where the exact split changes its way (the point
    // at bit 0, 53, 64 and 128 of the scaled fraction), where the quick one
    // ends (2^52), and their neighbours.
    for (int exponent = -140; exponent <= 66; ++exponent) {
        const double p = std::ldexp(1.0, exponent);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300), p * 1.5, p * 0.75}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    // Exact ties at each precision: odd multiples of 2^-j for small j, and
    // the decimal halves nearest to them.
    for (int j = 1; j <= 12; ++j) {
        for (int k = -4001; k <= 4001; k += 2) {
            values.push_back(std::ldexp(k, -j));
            values.push_back(std::ldexp(k, -j) + 123456789.0);
        }
    }
    for (int k = 0; k < 20000; ++k)
        values.push_back(static_cast<double>(k) / 2000.0 + 0.0005);
    // Random bits with an exponent inside the range, and beyond it.
    std::mt19937_64 random(7477);
    std::uniform_int_distribution<int> exponents(-90, 70);
    for (int i = 0; i < 100000; ++i) {
        std::uint64_t bits = random() & ((std::uint64_t{1} << 52) - 1);
        bits |= static_cast<std::uint64_t>(1023 + exponents(random)) << 52;
        bits |= (random() & 1) << 63;
        double v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    expect_digits_like_printf(values, "fixed digits");
}

TEST(FixedDigits, PrecisionsOutsideItsRangeAreRefused)
{
    char text[64];
    EXPECT_EQ(put_fixed_digits(text, 1.5, 0), nullptr);
    EXPECT_EQ(put_fixed_digits(text, 1.5, fixed_digits_max_precision + 1), nullptr);
    EXPECT_EQ(put_fixed_digits(text, 1.5, -1), nullptr);
}
