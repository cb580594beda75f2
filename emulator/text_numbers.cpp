// Strict parsing of unsigned, real and paired numbers.
#include "text_numbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace imutap_emu {

bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty())
        return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (result > (max - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool parse_real(std::string_view text, double& value)
{
    if (text.empty() || text.front() == ' ' || text.front() == '\t')
        return false;
    std::string copy(text);
    char* end = nullptr;
    double result = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(result))
        return false;
    value = result;
    return true;
}

bool parse_pair(std::string_view text, std::uint64_t a_max, std::uint64_t b_max, bool b_optional,
                std::uint64_t& first, std::uint64_t& second, bool& has_b)
{
    std::size_t colon = text.find(':');
    has_b = colon != std::string_view::npos;
    if (!has_b)
        return b_optional && parse_unsigned(text, a_max, first);
    return parse_unsigned(text.substr(0, colon), a_max, first) &&
           parse_unsigned(text.substr(colon + 1), b_max, second);
}

} // namespace imutap_emu
