#include "output/fixed_digits.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace imutap {

namespace {

constexpr std::uint32_t powers_of_ten[fixed_digits_max_precision + 1] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000,
};

constexpr char two_digits[] = "00010203040506070809"
                              "10111213141516171819"
                              "20212223242526272829"
                              "30313233343536373839"
                              "40414243444546474849"
                              "50515253545556575859"
                              "60616263646566676869"
                              "70717273747576777879"
                              "80818283848586878889"
                              "90919293949596979899";

// An unsigned 128-bit number as two halves.
struct wide_number {
    std::uint64_t high;
    std::uint64_t low;
};

// a × b, exactly.
wide_number multiply(std::uint64_t a, std::uint32_t b)
{
    const std::uint64_t low_product = (a & 0xFFFFFFFFu) * b;
    const std::uint64_t high_product = (a >> 32) * b;
    wide_number product;
    product.low = low_product + (high_product << 32);
    product.high = (high_product >> 32) + (product.low < low_product ? 1 : 0);
    return product;
}

// number >> shift for 0 <= shift < 128, when the result fits in 64 bits.
std::uint64_t shifted(wide_number number, int shift)
{
    if (shift == 0)
        return number.low;
    if (shift < 64)
        return (number.low >> shift) | (number.high << (64 - shift));
    return number.high >> (shift - 64);
}

// Whether any of the lowest `count` bits of number (0 <= count < 128) is set.
bool any_low_bits(wide_number number, int count)
{
    if (count == 0)
        return false;
    if (count < 64)
        return (number.low & ((std::uint64_t{1} << count) - 1)) != 0;
    if (number.low != 0)
        return true;
    return count > 64 && (number.high & ((std::uint64_t{1} << (count - 64)) - 1)) != 0;
}

void put_pair(char* at, std::uint32_t value)
{
    std::memcpy(at, two_digits + 2 * value, 2);
}

// Exactly `count` digits of `value` (below 10^count), leading zeros kept;
// the two precisions the logger uses are written straight out.
inline char* put_padded(char* at, std::uint32_t value, int count)
{
    if (count == 6) {
        put_pair(at, value / 10000);
        put_pair(at + 2, value / 100 % 100);
        put_pair(at + 4, value % 100);
        return at + 6;
    }
    if (count == 2) {
        put_pair(at, value);
        return at + 2;
    }
    char* end = at + count;
    for (char* digit = end; digit != at; value /= 10)
        *--digit = static_cast<char>('0' + value % 10);
    return end;
}

// The decimal digits of `value`, no leading zeros ("0" for zero); the
// whole parts of packet values have at most four.
inline char* put_whole(char* at, std::uint64_t value)
{
    if (value < 10) {
        *at = static_cast<char>('0' + value);
        return at + 1;
    }
    if (value < 100) {
        put_pair(at, static_cast<std::uint32_t>(value));
        return at + 2;
    }
    if (value < 1000) {
        *at = static_cast<char>('0' + value / 100);
        put_pair(at + 1, static_cast<std::uint32_t>(value % 100));
        return at + 3;
    }
    if (value < 10000) {
        put_pair(at, static_cast<std::uint32_t>(value / 100));
        put_pair(at + 2, static_cast<std::uint32_t>(value % 100));
        return at + 4;
    }
    int count = 5;
    for (std::uint64_t rest = value / 100000; rest != 0; rest /= 10)
        ++count;
    char* const end = at + count;
    for (char* digit = end; digit != at; value /= 10)
        *--digit = static_cast<char>('0' + value % 10);
    return end;
}

// The number split at the point, with the decimals rounded: the whole part
// and the decimals as integers.
struct split_number {
    std::uint64_t whole = 0;
    std::uint32_t decimals = 0;
};

// Exact, in integers, for any magnitude below 2^64 (`bits` of such a double).
split_number exact_split(std::uint64_t bits, int precision)
{
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    // magnitude = mantissa × 2^-scale
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int scale = 1074;
    if (biased_exponent != 0) {
        mantissa |= std::uint64_t{1} << 52;
        scale = 1075 - biased_exponent;
    }

    split_number split;
    const std::uint32_t unit = powers_of_ten[precision];
    if (scale <= 0) {
        split.whole = mantissa << -scale;
    } else if (scale < 128) {
        // The part below the point, times 10^precision, over 2^scale:
        // decimals are its whole part, rounded to nearest, a tie to even.
        std::uint64_t below_point = mantissa;
        if (scale < 53) {
            split.whole = mantissa >> scale;
            below_point = mantissa & ((std::uint64_t{1} << scale) - 1);
        }
        const wide_number scaled = multiply(below_point, unit);
        const std::uint64_t with_half = shifted(scaled, scale - 1);
        split.decimals = static_cast<std::uint32_t>(with_half >> 1);
        const bool half = (with_half & 1) != 0;
        if (half && (any_low_bits(scaled, scale - 1) || (split.decimals & 1) != 0)) {
            if (++split.decimals == unit) {
                split.decimals = 0;
                ++split.whole;
            }
        }
    }
    // Below 2^-75 everything rounds to zero: whole and decimals stay 0.
    return split;
}

constexpr double units[fixed_digits_max_precision + 1] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
};
// The part below the point times 10^precision is below 2^30, so its one
// rounding is off by at most 2^-24; a product this far from a half rounds
// the same way as the exact one.
constexpr double tie_margin = 1.0 / 65536.0;

// The same split from one multiplication in doubles, for a magnitude below
// 2^52; false (and the exact split is needed) when the product lies too
// near a tie to tell.
bool quick_split(double magnitude, int precision, split_number& split)
{
    const auto whole = static_cast<std::int64_t>(magnitude);
    // Both subtractions are exact: each takes from a number its whole part,
    // which is zero or at least half of it.
    const double below_point = magnitude - static_cast<double>(whole);
    const double scaled = below_point * units[precision];
    auto decimals = static_cast<std::uint32_t>(scaled);
    const double rest = scaled - static_cast<double>(decimals);
    if (std::fabs(rest - 0.5) < tie_margin)
        return false;
    if (rest > 0.5)
        ++decimals;
    split.whole = static_cast<std::uint64_t>(whole);
    split.decimals = decimals;
    // The product may have reached 10^precision itself.
    if (decimals == powers_of_ten[precision]) {
        split.decimals = 0;
        ++split.whole;
    }
    return true;
}

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;
// The bits of 2^52 and 2^64: the bits of positive doubles (infinity and
// not-a-number above all others) rise with their values.
constexpr std::uint64_t bits_of_two_to_52 = std::uint64_t{1075} << 52;
constexpr std::uint64_t bits_of_two_to_64 = std::uint64_t{1087} << 52;

inline char* put_split(char* at, bool negative, split_number split, int precision)
{
    if (negative)
        *at++ = '-';
    at = put_whole(at, split.whole);
    *at++ = '.';
    return put_padded(at, split.decimals, precision);
}

// The rare way, out of line, so that the common one needs no call.
[[gnu::noinline]] char* put_exactly(char* at, std::uint64_t bits, int precision)
{
    return put_split(at, (bits & sign_bit) != 0, exact_split(bits & ~sign_bit, precision),
                     precision);
}

} // namespace

char* put_fixed_digits(char* at, double value, int precision)
{
    if (precision < 1 || precision > fixed_digits_max_precision)
        return nullptr;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint64_t magnitude_bits = bits & ~sign_bit;
    if (magnitude_bits >= bits_of_two_to_64)
        return nullptr; // too large, infinite or not a number
    double magnitude;
    std::memcpy(&magnitude, &magnitude_bits, sizeof magnitude);
    split_number split;
    if (magnitude_bits < bits_of_two_to_52 && quick_split(magnitude, precision, split))
        return put_split(at, (bits & sign_bit) != 0, split, precision);
    return put_exactly(at, bits, precision);
}

} // namespace imutap
