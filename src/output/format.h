// Number formatting into fixed storage, writing exactly the bytes that the
// printf conversions "%d", "%f", "%7.2f" and "%8.2f" write (C locale).
#pragma once

#include <cstddef>
#include <cstdint>

// Longest text any conversion here writes: "%f" of -1.8e308 has 309 digits,
// a sign, a point and six decimals.
constexpr std::size_t longest_number = 320;

// Each writes at `at`, which must have room for longest_number characters
// (or the width, if larger), and returns the position after the text.
char* put_int(char* at, std::int32_t value);                        // "%d"
char* put_fixed(char* at, double value, int precision);             // "%.*f"
char* put_fixed_width(char* at, double value, int width, int precision); // "%*.*f"
