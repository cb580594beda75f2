// Parsing and looking up lists of packet numbers.
#include "index_list.h"

#include "text_numbers.h"

#include <limits>

namespace imutap_emu {

namespace {

constexpr std::uint64_t max_index = std::numeric_limits<std::uint32_t>::max();

bool parse_range(std::string_view item, index_range& range)
{
    std::size_t dash = item.find('-');
    if (dash == std::string_view::npos) {
        if (!parse_unsigned(item, max_index, range.first))
            return false;
        range.last = range.first;
    } else if (!parse_unsigned(item.substr(0, dash), max_index, range.first) ||
               !parse_unsigned(item.substr(dash + 1), max_index, range.last)) {
        return false;
    }
    return range.first >= 1 && range.first <= range.last;
}

} // namespace

bool parse_index_list(std::string_view text, std::vector<index_range>& list, std::string& error)
{
    for (;;) {
        std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        index_range range;
        if (!parse_range(item, range)) {
            error = "bad packet number or range '" + std::string(item) +
                    "' (want numbers from 1 up, like 5,7,10-12)";
            return false;
        }
        list.push_back(range);
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

bool index_listed(const std::vector<index_range>& list, std::uint64_t index)
{
    for (const index_range& range : list)
        if (index >= range.first && index <= range.last)
            return true;
    return false;
}

} // namespace imutap_emu
