// Strict parsing of the numbers in option values.
#pragma once

#include <cstdint>
#include <string_view>

namespace imutap_emu {

// Strict number parsing for option values: the whole text must be the number.

// Decimal digits only (no sign, no blanks), at most max.
bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& value);

// A finite decimal number such as 100, 2.5 or 1e3.
bool parse_real(std::string_view text, double& value);

// "A:B" with both parts unsigned; B is optional when b_optional is set
// (has_b tells whether it was given).
bool parse_pair(std::string_view text, std::uint64_t a_max, std::uint64_t b_max, bool b_optional,
                std::uint64_t& first, std::uint64_t& second, bool& has_b);

} // namespace imutap_emu
