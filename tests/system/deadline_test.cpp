// deadline: when a wait's time is up and how much of it is left.
#include "system/deadline.h"

#include <gtest/gtest.h>

using namespace imutap;

TEST(deadline, passes_at_its_end_and_counts_down_to_it)
{
    struct row {
        std::int64_t start_ms;
        std::int64_t limit_ms;
        std::int64_t now_ms;
        bool passed;
        std::int64_t left_ms;
    };
    const row rows[] = {
        {0, 1000, 0, false, 1000}, // just begun
        {0, 1000, 999, false, 1}, // the last millisecond
        {0, 1000, 1000, true, 0}, // reached
        {0, 1000, 5000, true, 0}, // long past: nothing left, never negative
        {250, 5, 254, false, 1}, // begun later
        {250, 5, 255, true, 0},       {100, 0, 100, true, 0}, // no time at all
        {100, 1000, 50, false, 1050}, // a clock read before the start
        {-1, 2, 0, false, 1}, // program start lies inside
    };
    for (const row& r : rows) {
        const deadline until = deadline_after(r.start_ms, r.limit_ms);
        EXPECT_EQ(deadline_passed(until, r.now_ms), r.passed)
            << r.start_ms << " + " << r.limit_ms << " at " << r.now_ms;
        EXPECT_EQ(deadline_left_ms(until, r.now_ms), r.left_ms)
            << r.start_ms << " + " << r.limit_ms << " at " << r.now_ms;
    }
}
