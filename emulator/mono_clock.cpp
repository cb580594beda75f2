// The monotonic clock through clock_gettime.
#include "mono_clock.h"

#include <ctime>

namespace imutap_emu {

std::int64_t mono_now_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace imutap_emu
