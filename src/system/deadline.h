// The end of a wait, on the elapsed_ms() clock: the one way the logger's
// waits tell when their time is up and how much of it is left.
#pragma once

#include <cstdint>

namespace imutap {

struct deadline {
    std::int64_t end_ms = 0;
};

// The deadline `limit_ms` after `start_ms`.
inline deadline deadline_after(std::int64_t start_ms, std::int64_t limit_ms)
{
    return deadline{start_ms + limit_ms};
}

// True once `now_ms` has reached the deadline.
inline bool deadline_passed(deadline until, std::int64_t now_ms)
{
    return now_ms >= until.end_ms;
}

// Milliseconds from `now_ms` to the deadline; 0 once it has passed.
inline std::int64_t deadline_left_ms(deadline until, std::int64_t now_ms)
{
    return until.end_ms > now_ms ? until.end_ms - now_ms : 0;
}

} // namespace imutap
