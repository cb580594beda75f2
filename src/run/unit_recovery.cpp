#include "run/unit_recovery.h"

#include "serial/port.h"

#include <cmath>

namespace imutap {

std::int64_t packet_silence_limit_ms(double dt)
{
    // Beyond any real unit; keeps the conversion in range.
    constexpr double longest_ms = 1e12;
    if (!(dt > 0.0))
        return silent_unit_ms;
    const double limit = std::ceil(4000.0 * dt);
    if (limit <= static_cast<double>(silent_unit_ms))
        return silent_unit_ms;
    return static_cast<std::int64_t>(limit < longest_ms ? limit : longest_ms);
}

bool reinitialise_on_bad(std::int32_t consecutive_bad, bool mode_has_layout)
{
    if (consecutive_bad == 5)
        return true;
    return mode_has_layout && consecutive_bad > 5 && (consecutive_bad - 5) % 100 == 0;
}

} // namespace imutap
