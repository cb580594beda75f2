// decode_packet: raw fields to engineering values, compared bit for bit.
#include "packet/decode.h"

#include "guarded_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace imutap;

namespace {

// Decodes the packet made of these words. The checksum byte is left out of
// the guarded storage: decoding reads the data fields only.
decoded_packet decode_words(char mode, const std::vector<std::uint16_t>& words)
{
    std::vector<std::uint8_t> bytes = packet_of(words);
    bytes.pop_back();
    guarded_bytes packet(bytes);
    return decode_packet(mode, packet.data());
}

// The nine triad fields in packet order.
std::vector<double> triads(const decoded_packet& decoded)
{
    return {decoded.gyro[0],  decoded.gyro[1], decoded.gyro[2], decoded.accel[0], decoded.accel[1],
            decoded.accel[2], decoded.mag[0],  decoded.mag[1],  decoded.mag[2]};
}

struct raw_and_value {
    std::uint16_t raw;
    double value;
};

} // namespace

TEST(DecodePacket, AnglesAreSignedAndScaledBy180Over32767)
{
    const raw_and_value examples[] = {
        {0x7FFF, 180.0},
        {0x8000, -180.00549333170568},
        {0xFFFF, -0.005493331705679495},
        {0x0000, 0.0},
        // Raw times the constant: raw * 180 / 32767 gives a different last bit.
        {0x02DB, 4.01562547685171},
    };
    for (const raw_and_value& e : examples) {
        for (int which = 0; which < 3; ++which) {
            std::vector<std::uint16_t> words(14, 0);
            words[static_cast<std::size_t>(which)] = e.raw;
            const decoded_packet decoded = decode_words('a', words);
            const double angles[3] = {decoded.roll, decoded.pitch, decoded.yaw};
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(angles[k], k == which ? e.value : 0.0)
                    << std::hex << e.raw << " in angle " << which;
            for (double v : triads(decoded))
                EXPECT_EQ(v, 0.0);
        }
    }
}

TEST(DecodePacket, TriadsOfAngleAndScaledModeUseTheirRanges)
{
    // Per range: 100 for the gyros, 4 for the accelerometers, 1 for the
    // magnetometers. 541, 87 and 257 tell a division by 32767, or the count
    // factor applied before the range, from the specified order.
    const std::vector<raw_and_value> per_range[3] = {
        {{0x7FFF, 150.0},
         {0x8000, -150.0045777764214},
         {0x0001, 0.004577776421399579},
         {0xFFFF, -0.004577776421399579},
         {541, 2.476577043977172},
         {257, 1.1764885402996919}},
        {{0x7FFF, 6.0},
         {0x8000, -6.000183111056856},
         {87, 0.015930661946470533},
         {257, 0.04705954161198767}},
        {{0x7FFF, 1.5},
         {0x8000, -1.500045777764214},
         {87, 0.003982665486617633},
         {257, 0.011764885402996918}},
    };
    for (char mode : {'a', 'c'}) {
        const std::size_t first = mode == 'a' ? 3 : 0;
        for (std::size_t field = 0; field < 9; ++field) {
            for (const raw_and_value& e : per_range[field / 3]) {
                std::vector<std::uint16_t> words(mode == 'a' ? 14 : 11, 0);
                words[first + field] = e.raw;
                const std::vector<double> got = triads(decode_words(mode, words));
                for (std::size_t k = 0; k < 9; ++k)
                    EXPECT_EQ(got[k], k == field ? e.value : 0.0)
                        << mode << " field " << field << " raw " << e.raw << " read at " << k;
            }
        }
    }
}

TEST(DecodePacket, VoltageChannelsAreUnsigned)
{
    const raw_and_value examples[] = {{0xFFFF, 79.998779296875},
                                      {0x1000, 5.0},
                                      {0x0000, 0.0},
                                      {0x8000, 40.0},
                                      {0x0001, 0.001220703125}};
    for (std::size_t channel = 0; channel < 9; ++channel) {
        for (const raw_and_value& e : examples) {
            std::vector<std::uint16_t> words(11, 0);
            words[channel] = e.raw;
            const std::vector<double> got = triads(decode_words('r', words));
            for (std::size_t k = 0; k < 9; ++k)
                EXPECT_EQ(got[k], k == channel ? e.value : 0.0) << "channel " << channel + 1;
        }
    }
    // The same bytes read as a scaled-mode gyro are a small negative rate.
    std::vector<std::uint16_t> words(11, 0);
    words[0] = 0xFFFF;
    EXPECT_EQ(decode_words('c', words).gyro[0], -0.004577776421399579);
    EXPECT_EQ(decode_words('r', words).gyro[0], 79.998779296875);
}

TEST(DecodePacket, TemperatureAndCounterAreUnsignedInEveryMode)
{
    const raw_and_value temperatures[] = {
        {0x0000, -61.105},
        {0x0800, 49.995},
        {1126, -0.02169921875},
        {1127, 0.032548828125},
        {0xFFFF, 3494.040751953125},
        // Distributing the slope over the offset changes the last bit here.
        {96, -55.897187499999994},
    };
    for (char mode : {'a', 'c', 'r'}) {
        const std::size_t at = mode == 'a' ? 12 : 9;
        for (const raw_and_value& e : temperatures) {
            std::vector<std::uint16_t> words(at + 2, 0);
            words[at] = e.raw;
            words[at + 1] = 0xFFFF;
            const decoded_packet decoded = decode_words(mode, words);
            EXPECT_EQ(decoded.temperature, e.value) << mode << ' ' << e.raw;
            EXPECT_EQ(decoded.counter, 65535) << mode;
        }
        std::vector<std::uint16_t> words(at + 2, 0);
        words[at + 1] = 0x1234;
        EXPECT_EQ(decode_words(mode, words).counter, 0x1234) << mode;
    }
}
