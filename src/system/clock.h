// The process's clock and sleeps; console_posix.cpp and console_win32.cpp
// provide them with the rest of the process's own operations.
#pragma once

#include <cstdint>

namespace imutap {

// Suspends the thread; a stop signal ends the wait early.
void sleep_ms(std::uint32_t milliseconds);
// Milliseconds elapsed since program start, from a monotonic clock.
std::int64_t elapsed_ms();

} // namespace imutap
