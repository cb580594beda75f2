#include "packet_builder.h"

#include "packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

using namespace imutap_emu;

namespace {

raw_sample known_sample()
{
    raw_sample s;
    s.roll = 0x0102;
    s.pitch = -2;
    s.yaw = 0x7FFF;
    s.gyro[0] = 1;
    s.gyro[1] = 2;
    s.gyro[2] = 3;
    s.accel[0] = 4;
    s.accel[1] = 5;
    s.accel[2] = -6;
    s.mag[0] = -1;
    s.mag[1] = -32768;
    s.mag[2] = 0x1234;
    s.temperature = 0x0640;
    const std::uint16_t channels[9] = {0x0001, 0x0800, 0x0FFF, 0x1000, 0x8000,
                                       0xFFFF, 0x00FF, 0x0100, 0x1234};
    for (int i = 0; i < 9; ++i)
        s.channels[i] = channels[i];
    return s;
}

constexpr std::uint16_t known_counter = 0xABCD;

std::vector<std::uint8_t> build(char mode, const raw_sample& sample = known_sample(),
                                std::uint16_t counter = known_counter)
{
    std::array<std::uint8_t, max_packet_length + 2> out{};
    out.fill(0xEE);
    std::size_t length = build_packet(mode, sample, counter, out.data());
    EXPECT_EQ(out[length], 0xEE) << "wrote past the packet";
    return {out.begin(), out.begin() + long(length)};
}

// Expected bytes worked out by hand: header, big-endian fields, sum of offsets 1..len-2.
const std::vector<std::uint8_t> angle_packet = {
    0xFF, 0x01, 0x02, 0xFF, 0xFE, 0x7F, 0xFF, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04,
    0x00, 0x05, 0xFF, 0xFA, 0xFF, 0xFF, 0x80, 0x00, 0x12, 0x34, 0x06, 0x40, 0xAB, 0xCD, 0x08};
const std::vector<std::uint8_t> scaled_packet = {0xFF, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00,
                                                 0x04, 0x00, 0x05, 0xFF, 0xFA, 0xFF, 0xFF, 0x80,
                                                 0x00, 0x12, 0x34, 0x06, 0x40, 0xAB, 0xCD, 0x8A};
const std::vector<std::uint8_t> voltage_packet = {0xFF, 0x00, 0x01, 0x08, 0x00, 0x0F, 0xFF, 0x10,
                                                  0x00, 0x80, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x01,
                                                  0x00, 0x12, 0x34, 0x06, 0x40, 0xAB, 0xCD, 0xA9};

TEST(PacketLayout, AngleModeIsThirtyBytesWithAnglesTriadsTemperatureCounter)
{
    EXPECT_EQ(packet_length('a'), 30u);
    EXPECT_EQ(build('a'), angle_packet);
}

TEST(PacketLayout, ScaledModeIsTwentyFourBytesWithoutAngles)
{
    EXPECT_EQ(packet_length('c'), 24u);
    EXPECT_EQ(build('c'), scaled_packet);
}

TEST(PacketLayout, VoltageModeCarriesTheNineChannelsUnsigned)
{
    EXPECT_EQ(packet_length('r'), 24u);
    EXPECT_EQ(build('r'), voltage_packet);
}

TEST(PacketLayout, LettersWithoutLayoutGetTheScaledLayout)
{
    EXPECT_EQ(packet_length('f'), 24u);
    EXPECT_EQ(build('f'), scaled_packet);
    EXPECT_EQ(build('A'), scaled_packet);
}

TEST(PacketLayout, CounterIsTheLastFieldBigEndian)
{
    std::vector<std::uint8_t> p = build('a', known_sample(), 0x0100);
    EXPECT_EQ(p[27], 0x01);
    EXPECT_EQ(p[28], 0x00);
    p = build('r', known_sample(), 0xFFFF);
    EXPECT_EQ(p[21], 0xFF);
    EXPECT_EQ(p[22], 0xFF);
    EXPECT_TRUE(checksum_matches(p.data(), p.size()));
}

TEST(PacketChecksum, SkipsTheHeaderAndWrapsModulo256)
{
    std::vector<std::uint8_t> p(30, 0xFF);
    EXPECT_EQ(packet_checksum(p.data(), p.size()), 0xE4); // 28 * 0xFF mod 256
    p[0] = 0x00;
    EXPECT_EQ(packet_checksum(p.data(), p.size()), 0xE4);
    std::vector<std::uint8_t> zeros(24, 0);
    zeros[23] = 0x77; // the checksum byte itself is not summed
    EXPECT_EQ(packet_checksum(zeros.data(), zeros.size()), 0x00);
}

TEST(PacketFaults, BadHeaderKeepsTheChecksumRight)
{
    std::vector<std::uint8_t> p = build('a');
    spoil_header(p.data());
    EXPECT_EQ(p[0], 0x00);
    EXPECT_TRUE(checksum_matches(p.data(), p.size()));
    EXPECT_TRUE(std::equal(p.begin() + 1, p.end(), angle_packet.begin() + 1));
}

TEST(PacketFaults, BadChecksumChangesOnlyTheChecksum)
{
    for (char mode : {'a', 'c', 'r'}) {
        std::vector<std::uint8_t> p = build(mode);
        std::vector<std::uint8_t> good = p;
        spoil_checksum(p.data(), p.size());
        EXPECT_FALSE(checksum_matches(p.data(), p.size())) << mode;
        EXPECT_TRUE(std::equal(p.begin(), p.end() - 1, good.begin())) << mode;
    }
    std::vector<std::uint8_t> wraps(24, 0);
    wraps[23] = 0xFF;
    spoil_checksum(wraps.data(), wraps.size());
    EXPECT_NE(wraps[23], 0xFF);
}

TEST(PacketFaults, DroppedByteLeavesOutOffsetThree)
{
    std::vector<std::uint8_t> p = build('a');
    std::size_t length = drop_data_byte(p.data(), p.size());
    ASSERT_EQ(length, 29u);
    std::vector<std::uint8_t> expected = angle_packet;
    expected.erase(expected.begin() + 3);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), p.begin()));
}

} // namespace
