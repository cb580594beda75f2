// The console display line: exact text, and a fixed length so that each
// line covers the one before it.
#include "output/display.h"

#include "packets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace imutap;

namespace {

std::string shown(char mode, const std::uint8_t* packet)
{
    testing::internal::CaptureStdout();
    show_packet(mode, packet);
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(DisplayLine, KnownPacketOfEachMode)
{
    EXPECT_EQ(shown('a', known_angle_packet),
              " 180.00 -180.01   -0.01    0.00    2.48 -150.00    6.00    0.05    0.02 "
              "   1.50   -1.50    0.00    49.99 \r");
    EXPECT_EQ(
        shown('c', known_sensor_packet),
        "  -0.00  150.00    1.18   -6.00    0.02    0.00    0.00   -0.00    1.50    -0.02 \r");
    EXPECT_EQ(
        shown('r', known_sensor_packet),
        "  80.00   40.00    0.31   40.00    0.11    0.00    0.00   80.00   40.00    -0.02 \r");
}

TEST(DisplayLine, SameLengthWhateverTheValues)
{
    // Every field at the same raw value, through the extremes and a sweep.
    std::vector<std::uint16_t> raws = {0x0000, 0x0001, 0x7FFF, 0x8000, 0x8001, 0xFFFF};
    for (std::uint32_t raw = 0; raw < 65536; raw += 251)
        raws.push_back(static_cast<std::uint16_t>(raw));
    for (auto [mode, length, shown_length] :
         {std::tuple{'a', 30u, 105u}, {'c', 24u, 81u}, {'r', 24u, 81u}}) {
        for (std::uint16_t raw : raws) {
            std::uint8_t packet[30] = {0xFF};
            for (std::uint32_t at = 1; at + 1 < length; at += 2) {
                packet[at] = static_cast<std::uint8_t>(raw >> 8);
                packet[at + 1] = static_cast<std::uint8_t>(raw & 0xFF);
            }
            char line[display_line_capacity];
            const std::size_t used = format_display_line(line, mode, packet);
            ASSERT_EQ(used, shown_length + 1)
                << mode << ' ' << raw << ": " << std::string(line, used);
            EXPECT_EQ(line[used - 1], '\r');
            EXPECT_EQ(std::string(line, used - 1).find_first_of("\r\n"), std::string::npos);
        }
    }
}
