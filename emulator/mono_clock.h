// The emulator's clock: nanoseconds on the monotonic clock.
#pragma once

#include <cstdint>

namespace imutap_emu {

// Nanoseconds on the monotonic clock (no jumps when the system time is set).
std::int64_t mono_now_ns();

constexpr std::int64_t ns_per_ms = 1'000'000;

} // namespace imutap_emu
