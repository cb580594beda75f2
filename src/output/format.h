// Number formatting into fixed storage, writing exactly the bytes that the
// printf conversions "%d", "%f", "%7.2f" and "%8.2f" write (C locale).
#pragma once

#include "output/fixed_digits.h"

#include <cstddef>
#include <cstdint>

namespace imutap {

// Longest text any conversion here writes: "%f" of -1.8e308 has 309 digits,
// a sign, a point and six decimals.
constexpr std::size_t longest_number = 320;

// Each writes at `at`, which must have room for longest_number characters
// (or the width, if larger), and returns the position after the text.
char* put_int(char* at, std::int32_t value); // "%d"
char* put_fixed_width(char* at, double value, int width, int precision); // "%*.*f"

// "%.*f" of what put_fixed_digits leaves out: 2^64 and more, infinities
// and not-a-number.
char* put_fixed_by_to_chars(char* at, double value, int precision);

// "%.*f". Every value a packet gives, and any time column below 2^64
// seconds, is written by put_fixed_digits.
inline char* put_fixed(char* at, double value, int precision)
{
    if (char* end = put_fixed_digits(at, value, precision))
        return end;
    return put_fixed_by_to_chars(at, value, precision);
}

} // namespace imutap
