#include "output/log_line.h"

#include "output/format.h"
#include "packet/decode.h"
#include "packet/layout.h"

namespace imutap {

static double clock_seconds(std::int64_t clock_ms)
{
    return static_cast<double>(clock_ms) * 0.001;
}

static char* put_value(char* at, double value)
{
    at = put_fixed(at, value, 6);
    *at++ = ' ';
    return at;
}

char* put_log_values(char* at, char mode, const std::uint8_t* packet)
{
    const decoded_packet values = decode_packet(mode, packet);
    if (packet_layout_of(mode).angles) {
        at = put_value(at, values.roll);
        at = put_value(at, values.pitch);
        at = put_value(at, values.yaw);
    }
    for (double v : values.gyro)
        at = put_value(at, v);
    for (double v : values.accel)
        at = put_value(at, v);
    for (double v : values.mag)
        at = put_value(at, v);
    at = put_value(at, values.temperature);
    at = put_int(at, values.counter);
    *at++ = '\n';
    return at;
}

// The count is an unsigned 32-bit value written with "%d", as a signed one:
// existing logs and the scripts that read them show it so past 2^31.
static char* put_count(char* at, std::uint32_t packets_read)
{
    at = put_int(at, static_cast<std::int32_t>(packets_read));
    *at++ = ' ';
    return at;
}

// The reconstructed time for this call, or false when the output period
// leaves the line out.
static bool reconstructed_time(double dt, std::uint32_t packets_read, double output_period,
                               time_state& state, std::int64_t clock_ms, double& line_time)
{
    state.now = clock_seconds(clock_ms);
    if (state.first_call) {
        state.base_time = state.now;
        state.last_written = state.now;
        state.first_call = false;
    }
    const std::uint32_t since_base = packets_read - state.count_base;
    line_time = state.base_time + dt * static_cast<double>(since_base);
    if (!(line_time - state.last_written >= output_period))
        return false;
    state.last_written = line_time;
    // Pull a time that lags the clock by more than four dt back to the clock.
    if (!(line_time + 4.0 * dt >= state.now)) {
        state.count_base = packets_read;
        state.base_time = state.now;
        line_time = state.now;
        state.last_written = state.now;
    }
    return true;
}

std::size_t make_log_line(char* line, log_writer& writer, std::uint32_t packets_read,
                          const std::uint8_t* packet, std::int64_t clock_ms)
{
    char* at = put_count(line, packets_read);
    if (writer.dos_time) {
        writer.times.now = clock_seconds(clock_ms);
        at = put_value(at, writer.times.now);
    } else if (writer.dt >= 0.0) {
        double line_time = 0.0;
        if (!reconstructed_time(writer.dt, packets_read, writer.output_period, writer.times,
                                clock_ms, line_time))
            return 0;
        at = put_value(at, line_time);
    }
    at = put_log_values(at, writer.mode, packet);
    return static_cast<std::size_t>(at - line);
}

} // namespace imutap
