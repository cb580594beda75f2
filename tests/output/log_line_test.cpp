// The log line the run makes for each accepted packet: its prefix (count,
// clock time or reconstructed time) and values, byte for byte.
#include "output/log_line.h"

#include "packets.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

using namespace imutap;

namespace {

// The values of the known packets (packets.h).
const std::string angle_values = "180.000000 -180.005493 -0.005493 0.004578 2.476577 -150.004578 "
                                 "6.000000 0.047060 0.015931 1.500000 -1.500046 0.000000 "
                                 "49.995000 65535\n";
const std::string scaled_values = "-0.004578 150.000000 1.176489 -6.000183 0.015931 0.000000 "
                                  "0.000046 -0.000046 1.500000 -0.021699 12345\n";
const std::string voltage_values = "79.998779 39.998779 0.313721 40.000000 0.106201 0.000000 "
                                   "0.001221 79.998779 39.998779 -0.021699 12345\n";

// One run's settings and state, and lines made at a given clock reading.
struct log_run {
    char mode = 'a';
    double dt = -1.0;
    double output_period = 0.0;
    bool dos_time = false;
    time_state state{};

    // The line for packets_read at the clock reading ms ("" when left out).
    std::string call(std::uint32_t packets_read, std::int64_t ms)
    {
        const std::uint8_t* packet = mode == 'a' ? known_angle_packet : known_sensor_packet;
        log_writer writer{mode, dt, dos_time, output_period, state};
        char line[log_line_capacity];
        const std::size_t length = make_log_line(line, writer, packets_read, packet, ms);
        state = writer.times;
        return std::string(line, length);
    }
};

const double not_a_number = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

} // namespace

TEST(LogLine, EachModeWithEachPrefix)
{
    struct row {
        char mode;
        std::string values;
    };
    for (const row& r :
         {row{'a', angle_values}, row{'c', scaled_values}, row{'r', voltage_values}}) {
        log_run counts, clock, reconstructed;
        counts.mode = clock.mode = reconstructed.mode = r.mode;
        clock.dos_time = true;
        reconstructed.dt = 0.5;
        EXPECT_EQ(counts.call(17, 5000), "17 " + r.values) << r.mode;
        EXPECT_EQ(clock.call(17, 5000), "17 5.000000 " + r.values) << r.mode;
        EXPECT_EQ(reconstructed.call(17, 5000), "17 13.500000 " + r.values) << r.mode;
    }
}

TEST(LogLine, CountOnlyWhenDtIsNegativeOrNotANumber)
{
    for (double dt : {-1.0, -0.001, -inf, not_a_number, -not_a_number}) {
        log_run run;
        run.dt = dt;
        run.output_period = 1000.0; // no effect without a reconstructed time
        EXPECT_EQ(run.call(1, 5000), "1 " + angle_values) << dt;
        EXPECT_EQ(run.call(1, 5001), "1 " + angle_values) << dt;
        // The unsigned count is written as a signed one.
        EXPECT_EQ(run.call(2147483647u, 0), "2147483647 " + angle_values);
        EXPECT_EQ(run.call(2147483648u, 0), "-2147483648 " + angle_values);
        EXPECT_EQ(run.call(4294967295u, 0), "-1 " + angle_values);
        EXPECT_TRUE(run.state.first_call);
        EXPECT_EQ(run.state.now, 0.0);
        EXPECT_EQ(run.state.base_time, 0.0);
        EXPECT_EQ(run.state.last_written, 0.0);
    }
}

TEST(LogLine, DosTimeShowsTheClockWhateverDtAndPeriod)
{
    for (double dt : {-1.0, 0.0, 0.25, not_a_number}) {
        log_run run;
        run.dt = dt;
        run.output_period = 100.0;
        run.dos_time = true;
        EXPECT_EQ(run.call(1, 12345), "1 12.345000 " + angle_values) << dt;
        EXPECT_EQ(run.call(2, 12345), "2 12.345000 " + angle_values) << dt;
        EXPECT_EQ(run.call(7, 0), "7 0.000000 " + angle_values) << dt;
        EXPECT_TRUE(run.state.first_call) << dt;
    }
}

TEST(LogLine, ClockIsMillisecondsTimesOneThousandth)
{
    log_run run;
    run.dos_time = true;
    run.call(1, 9);
    // 9 * 0.001 and 9 / 1000.0 differ in the last bit.
    EXPECT_EQ(run.state.now, 0.009000000000000001);
    EXPECT_NE(run.state.now, 0.009);
    // A 64-bit count: past 24.8 days, and so far on that the six decimals show
    // the multiplication (the division would give ...004999).
    EXPECT_EQ(run.call(2, 2147483648), "2 2147483.648000 " + angle_values);
    EXPECT_EQ(run.call(3, 3000000000), "3 3000000.000000 " + angle_values);
    EXPECT_EQ(run.call(4, 10000000000005), "4 10000000000.005001 " + angle_values);

    log_run reconstructed;
    reconstructed.dt = 0.0;
    reconstructed.call(1, 9);
    EXPECT_EQ(reconstructed.state.base_time, 0.009000000000000001);
}

TEST(LogLine, WorkedExampleWithDtAQuarterAndPeriodAHalf)
{
    log_run run;
    run.mode = 'r';
    run.dt = 0.25;
    run.output_period = 0.5;
    struct row {
        std::uint32_t packets_read;
        std::int64_t ms;
        const char* prefix; // nullptr: nothing written
    };
    const row rows[] = {
        {1, 10000, nullptr},        {2, 10250, "2 10.500000 "}, {3, 10500, nullptr},
        {4, 10750, "4 11.000000 "}, {5, 13000, nullptr},        {6, 13250, "6 13.250000 "},
        {7, 13500, nullptr},        {8, 13750, "8 13.750000 "},
    };
    for (const row& r : rows) {
        const std::string expected = r.prefix == nullptr ? "" : r.prefix + voltage_values;
        EXPECT_EQ(run.call(r.packets_read, r.ms), expected) << "packets read " << r.packets_read;
        if (r.packets_read == 1) {
            EXPECT_FALSE(run.state.first_call);
            EXPECT_EQ(run.state.base_time, 10.0);
            EXPECT_EQ(run.state.last_written, 10.0);
        }
        if (r.packets_read == 6) {
            EXPECT_EQ(run.state.count_base, 6u);
            EXPECT_EQ(run.state.base_time, 13.25);
            EXPECT_EQ(run.state.last_written, 13.25);
        }
    }
}

TEST(LogLine, ReconstructedTimeStartsAtClockPlusDtTimesCount)
{
    log_run run;
    run.dt = 0.5;
    EXPECT_EQ(run.call(3, 2000), "3 3.500000 " + angle_values);
    // Running ahead of the clock is never pulled back.
    EXPECT_EQ(run.call(4, 2000), "4 4.000000 " + angle_values);
    EXPECT_EQ(run.call(40, 2001), "40 22.000000 " + angle_values);
    // A period below zero lets every line through.
    log_run every;
    every.dt = 0.1;
    every.output_period = -1.0;
    EXPECT_EQ(every.call(1, 0), "1 0.100000 " + angle_values);
    EXPECT_EQ(every.call(1, 0), "1 0.100000 " + angle_values);
    // The first product below the period: the first call writes nothing.
    log_run late;
    late.dt = 0.25;
    late.output_period = 0.3;
    EXPECT_EQ(late.call(1, 1000), "");
    EXPECT_EQ(late.call(2, 1250), "2 1.500000 " + angle_values);
}

TEST(LogLine, ResynchronisesOnlyOnALagOfMoreThanFourDt)
{
    log_run run;
    run.dt = 0.25;
    EXPECT_EQ(run.call(1, 0), "1 0.250000 " + angle_values);
    // 0.5 + 4 * 0.25 is exactly the clock: kept.
    EXPECT_EQ(run.call(2, 1500), "2 0.500000 " + angle_values);
    EXPECT_EQ(run.state.count_base, 0u);
    // One millisecond more: set to the clock, counted from this packet.
    EXPECT_EQ(run.call(3, 1751), "3 1.751000 " + angle_values);
    EXPECT_EQ(run.state.count_base, 3u);
    EXPECT_EQ(run.call(4, 1751), "4 2.001000 " + angle_values);
}

TEST(LogLine, ZeroDt)
{
    // Period 0: every line carries the clock of its call.
    for (double dt : {0.0, -0.0}) {
        log_run run;
        run.dt = dt;
        EXPECT_EQ(run.call(1, 1000), "1 1.000000 " + angle_values);
        EXPECT_EQ(run.call(2, 1500), "2 1.500000 " + angle_values);
        EXPECT_EQ(run.call(3, 1500), "3 1.500000 " + angle_values);
        EXPECT_EQ(run.call(4, 2250), "4 2.250000 " + angle_values);
    }
    // A positive period: never a line, however far the clock moves.
    log_run run;
    run.dt = 0.0;
    run.output_period = 0.1;
    for (std::uint32_t n = 1; n <= 5; ++n)
        EXPECT_EQ(run.call(n, 1000 * n), "") << n;
}

TEST(LogLine, CountSinceResynchronisationIsTakenModuloTwoToThe32)
{
    log_run run;
    run.dt = 1.0;
    run.state.first_call = false;
    run.state.base_time = 100.0;
    run.state.last_written = 100.0;
    run.state.count_base = 4294967290u;
    // The count wrapped: 10 packets since the base, not minus 4294967286.
    EXPECT_EQ(run.call(4, 100000), "4 110.000000 " + angle_values);

    // An unsigned difference of 2^31 or more is not a negative one.
    log_run far;
    far.dt = 0.001;
    EXPECT_EQ(far.call(3000000000u, 0), "-1294967296 3000000.000000 " + angle_values);
}

TEST(LogLine, ExtremeDtGivesFullDigitsThenInfinity)
{
    char digits[400];
    log_run run;
    run.dt = 1e300;
    std::snprintf(digits, sizeof digits, "1 %f ", 1e300);
    const std::string line = run.call(1, 0);
    EXPECT_EQ(line, digits + angle_values);
    EXPECT_GT(line.size(), 300u + angle_values.size());

    log_run huge;
    huge.dt = DBL_MAX;
    std::snprintf(digits, sizeof digits, "1 %f ", DBL_MAX);
    EXPECT_EQ(huge.call(1, 0), digits + angle_values);
    EXPECT_EQ(huge.call(2, 0), "2 inf " + angle_values);
    // inf - inf is not a number: the line is left out.
    EXPECT_EQ(huge.call(3, 0), "");

    log_run infinite;
    infinite.dt = inf;
    EXPECT_EQ(infinite.call(1, 0), "1 inf " + angle_values);
}
