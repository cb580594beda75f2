// The line speed the logger set on the pty, and the time one byte takes at it.
#pragma once

#include <cstdint>

namespace imutap_emu {

// The line speed in bits per second that the logger set on the tty `fd` (any rate,
// also one without a B constant); 0 when it cannot be read or is 0 (hang-up).
std::uint32_t line_rate(int fd);

// The time one byte takes on a line of `bits_per_second`: ten bits (start bit, eight
// data bits, stop bit), in nanoseconds; 0 for a rate of 0.
std::int64_t byte_time_ns(std::uint32_t bits_per_second);

} // namespace imutap_emu
