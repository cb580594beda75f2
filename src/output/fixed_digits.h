// Fixed notation without a general decimal conversion: the correctly
// rounded text that printf's "%.*f" writes, an exact tie rounded to an even
// last digit. One multiplication decides the rounding where it can; near a
// tie the value's binary digits are worked through exactly in integers.
#pragma once

namespace imutap {

// Largest precision put_fixed_digits takes.
constexpr int fixed_digits_max_precision = 9;

// Writes `value` with `precision` decimals (1 to fixed_digits_max_precision)
// at `at` and returns the position after the text; returns nullptr and
// writes nothing when the value is not finite or not below 2^64 in
// magnitude, or the precision is out of range. At most 20 digits, a sign,
// a point and the decimals.
char* put_fixed_digits(char* at, double value, int precision);

} // namespace imutap
