// Lists of packet numbers such as "5,7,10-12", as the fault options take them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace imutap_emu {

// A set of 1-based packet numbers written as "5,7,10-12".
struct index_range {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// Appends the ranges of text to list; on a syntax error returns false and says why.
bool parse_index_list(std::string_view text, std::vector<index_range>& list, std::string& error);

bool index_listed(const std::vector<index_range>& list, std::uint64_t index);

} // namespace imutap_emu
