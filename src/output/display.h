// The console line that shows the latest values and overwrites itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imutap {

// 105 characters and "\r" in angle mode, 81 and "\r" in the other two.
constexpr std::size_t display_line_capacity = 128;

// Formats the display line of an accepted packet (mode 'a', 'c' or 'r');
// returns its length, the final "\r" included.
std::size_t format_display_line(char* line, char mode, const std::uint8_t* packet);

// Writes the display line to the console, unless the console cannot take it
// now.
void show_packet(char mode, const std::uint8_t* packet);

} // namespace imutap
