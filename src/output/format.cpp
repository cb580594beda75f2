#include "output/format.h"

#include <charconv>
#include <cstring>

namespace imutap {

char* put_int(char* at, std::int32_t value)
{
    return std::to_chars(at, at + longest_number, value).ptr;
}

// to_chars with a precision is specified to give printf's text for the same
// conversion: correctly rounded, "inf", "-inf" and "nan" alike.
char* put_fixed_by_to_chars(char* at, double value, int precision)
{
    return std::to_chars(at, at + longest_number, value, std::chars_format::fixed, precision).ptr;
}

char* put_fixed_width(char* at, double value, int width, int precision)
{
    char* end = put_fixed(at, value, precision);
    const std::ptrdiff_t used = end - at;
    if (used >= width)
        return end;
    const std::ptrdiff_t pad = width - used;
    std::memmove(at + pad, at, static_cast<std::size_t>(used));
    std::memset(at, ' ', static_cast<std::size_t>(pad));
    return at + width;
}

} // namespace imutap
