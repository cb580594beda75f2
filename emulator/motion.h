// What the unit measures: a fixed motion, one sample per packet sequence number.
#pragma once

#include "packet_builder.h"

#include <cstdint>

namespace imutap_emu {

// The unit's sensors as a function of the packet sequence number alone, in integer
// arithmetic, so every run (and every machine) gives the same bytes. Rates are those
// of a unit sampled at 100 packets per second:
//   yaw sweeps the full circle at about 9.9 deg/s, roll wobbles +-5 deg (period 400
//   packets), pitch +-3 deg (period 640); the gyros read the matching rates; the
//   accelerometers see 1 g tilted by roll and pitch; the magnetometers a 0.2 gauss
//   horizontal field turning with yaw and 0.4 gauss down; the temperature stays within
//   0.5 degC of 25 degC; each sensor has a few counts of noise.
// Every seventh packet (sequence number mod 7 == 3) carries fixed values for checking
// rounding: gyro y is -1 (-0.004578 deg/s, "-0.00" at two decimals), and the voltage
// channels hold the tie values of tie_channels.
raw_sample sample_at(std::uint64_t seq);

bool is_tie_packet(std::uint64_t seq);

// Voltage channel raw values whose volts (raw * 5 / 4096) are exact decimal ties:
// at six decimals 0.0390625, 2.5390625, 2.4609375, 2.6171875, 2.3828125;
// at two decimals 3.125, 1.875, 4.375, 0.625.
constexpr std::uint16_t tie_channels[9] = {32, 2080, 2016, 2144, 1952, 2560, 1536, 3584, 512};

} // namespace imutap_emu
