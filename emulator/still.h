// A unit lying still and level (--still-gyro, --still-accel, --still-drift): white noise and
// bias random walks.
#pragma once

#include "packet_builder.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace imutap_emu {

// A unit lying still and level, for noise analysis: the gyros read their bias plus
// white noise, the accelerometers 1 g down plus bias and white noise; each bias walks
// at random (a bias random walk). Densities are per square root of a hertz at the
// sample interval: the -r rate, or 100 packets/s with -r 0.
struct still_settings {
    bool on = false;
    double gyro_white = 0.0; // deg/s/sqrt(Hz)
    double gyro_walk = 0.0; // deg/s^2/sqrt(Hz): the bias moves this much in a second's root
    double accel_white = 0.0; // g/sqrt(Hz)
    double accel_walk = 0.0; // g/s/sqrt(Hz)
    double drift = 0.0; // degC per hour the temperature rises; the biases follow it
};

// Where the biases have walked to, for the packets built so far.
struct still_state {
    still_settings settings;
    double interval = 0.01; // seconds per sample
    std::uint64_t origin = 0; // sequence number the walks start at
    std::uint64_t next = 0; // sequence number the biases are for
    double gyro_bias[3] = {};
    double accel_bias[3] = {};
};

// "WHITE:WALK" (or "WHITE" alone), both finite and not below zero.
bool parse_still_pair(std::string_view text, double& white, double& walk);

still_state still_begin(const still_settings& settings, double rate, std::uint64_t origin);

// The sample of packet seq, the same for every run; seq may go back (packets built
// again), which starts the walks anew from the origin.
raw_sample still_sample_at(still_state& state, std::uint64_t seq);

} // namespace imutap_emu
