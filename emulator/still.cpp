// The still unit's samples: normal noise that depends only on the sequence number,
// and the walking biases.
#include "still.h"

#include "text_numbers.h"

#include <cmath>

namespace imutap_emu {

namespace {

constexpr double gyro_counts = 32767.0 / 150.0; // raw per deg/s
constexpr double accel_counts = 32767.0 / 6.0; // raw per g
constexpr std::int16_t field_north = 4369; // 0.2 gauss
constexpr std::int16_t field_down = 8738; // 0.4 gauss
constexpr double temperature_raw_25c = 1587.0;
constexpr double temperature_raw_per_degc = 4096.0 / 5.0 / 44.44;
constexpr double gyro_per_degc = 0.01; // deg/s of bias per degC of drift
constexpr double accel_per_degc = 1e-4; // g of bias per degC of drift
constexpr double two_pi = 6.283185307179586;

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// A standard normal number for (seq, stream), the same on every machine that has
// IEEE doubles and the same libm.
double normal(std::uint64_t seq, unsigned stream)
{
    std::uint64_t bits = mix(seq * 16 + stream);
    std::uint64_t more = mix(bits ^ 0xD1B54A32D192ED03ULL);
    double u1 = (static_cast<double>(bits >> 11) + 0.5) / 9007199254740992.0;
    double u2 = static_cast<double>(more >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(two_pi * u2);
}

void walk_one_step(still_state& state)
{
    const double step = std::sqrt(state.interval);
    for (unsigned axis = 0; axis < 3; ++axis) {
        state.gyro_bias[axis] += state.settings.gyro_walk * step * normal(state.next, axis);
        state.accel_bias[axis] += state.settings.accel_walk * step * normal(state.next, 3 + axis);
    }
    ++state.next;
}

std::int16_t clamp_raw(double value)
{
    double rounded = std::nearbyint(value);
    return static_cast<std::int16_t>(rounded < -32768.0  ? -32768.0
                                     : rounded > 32767.0 ? 32767.0
                                                         : rounded);
}

} // namespace

bool parse_still_pair(std::string_view text, double& white, double& walk)
{
    std::size_t colon = text.find(':');
    walk = 0.0;
    if (!parse_real(text.substr(0, colon), white) || white < 0.0)
        return false;
    if (colon == std::string_view::npos)
        return true;
    return parse_real(text.substr(colon + 1), walk) && walk >= 0.0;
}

still_state still_begin(const still_settings& settings, double rate, std::uint64_t origin)
{
    still_state state;
    state.settings = settings;
    state.interval = rate > 0.0 ? 1.0 / rate : 0.01;
    state.origin = origin;
    state.next = origin;
    return state;
}

raw_sample still_sample_at(still_state& state, std::uint64_t seq)
{
    if (seq < state.next) {
        still_state fresh = still_begin(state.settings, 1.0 / state.interval, state.origin);
        state = fresh;
    }
    while (state.next < seq)
        walk_one_step(state);
    const double per_sample = 1.0 / std::sqrt(state.interval);
    const double hours = static_cast<double>(seq - state.origin) * state.interval / 3600.0;
    const double warmer = state.settings.drift * hours;
    raw_sample s;
    for (unsigned axis = 0; axis < 3; ++axis) {
        double rate = state.gyro_bias[axis] + gyro_per_degc * warmer +
                      state.settings.gyro_white * per_sample * normal(seq, 6 + axis);
        double accel = state.accel_bias[axis] + accel_per_degc * warmer +
                       state.settings.accel_white * per_sample * normal(seq, 9 + axis);
        s.gyro[axis] = clamp_raw(rate * gyro_counts);
        s.accel[axis] = clamp_raw((axis == 2 ? 1.0 + accel : accel) * accel_counts);
    }
    s.mag[0] = field_north;
    s.mag[2] = field_down;
    s.temperature = static_cast<std::uint16_t>(
        std::lround(temperature_raw_25c + warmer * temperature_raw_per_degc));
    const std::int16_t* sensors[9] = {&s.gyro[0],  &s.gyro[1], &s.gyro[2], &s.accel[0], &s.accel[1],
                                      &s.accel[2], &s.mag[0],  &s.mag[1],  &s.mag[2]};
    for (int i = 0; i < 9; ++i)
        s.channels[i] = static_cast<std::uint16_t>(2048 + *sensors[i] / 32);
    return s;
}

} // namespace imutap_emu
