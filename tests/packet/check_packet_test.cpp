// check_packet: which packets the logger accepts and what it prints about
// the others.
#include "packet/packet.h"
#include "run/findings.h"

#include "guarded_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace imutap;

namespace {

struct verdict {
    bool accepted;
    std::string printed;
};

verdict check(char mode, const std::uint8_t* bytes, std::uint32_t length)
{
    testing::internal::CaptureStdout();
    const bool accepted = check_and_say_packet(mode, bytes, length);
    return {accepted, testing::internal::GetCapturedStdout()};
}

verdict check(char mode, guarded_bytes& packet)
{
    return check(mode, packet.data(), static_cast<std::uint32_t>(packet.size()));
}

} // namespace

TEST(CheckPacket, WellFormedPacketOfEachModeIsAcceptedSilently)
{
    for (char mode : {'a', 'c', 'r'}) {
        guarded_bytes packet(busy_packet(mode));
        const verdict v = check(mode, packet);
        EXPECT_TRUE(v.accepted) << mode;
        EXPECT_EQ(v.printed, "") << mode;
    }
    // 0xFF is ordinary data anywhere after the header, the checksum included.
    guarded_bytes ff_checksum(packet_of({0xFFFF, 0x0001, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(ff_checksum[23], 0xFF);
    EXPECT_TRUE(check('c', ff_checksum).accepted);
    EXPECT_TRUE(check('r', ff_checksum).accepted);
}

TEST(CheckPacket, LetterWithoutLayoutIsRefusedBeforeAnyByteIsRead)
{
    guarded_bytes nothing(0);
    for (int c = -128; c < 128; ++c) {
        const char mode = static_cast<char>(c);
        if (mode == 'a' || mode == 'c' || mode == 'r')
            continue;
        for (std::uint32_t length : {0u, 24u, 30u}) {
            const verdict v = check(mode, nothing.fence(), length);
            EXPECT_FALSE(v.accepted) << c;
            EXPECT_EQ(v.printed, std::string("\nunrecognized packet type: ") + mode) << c;
        }
    }
}

TEST(CheckPacket, WrongLengthPrintsOnlyTheSizeMessage)
{
    struct row {
        char mode;
        std::uint32_t length;
        const char* printed;
    };
    const row rows[] = {
        {'a', 0, "packet size incorrect: 0 should be 30 for AHRS\n"},
        {'a', 1, "packet size incorrect: 1 should be 30 for AHRS\n"},
        {'a', 24, "packet size incorrect: 24 should be 30 for AHRS\n"},
        {'a', 29, "packet size incorrect: 29 should be 30 for AHRS\n"},
        {'a', 31, "packet size incorrect: 31 should be 30 for AHRS\n"},
        {'a', 255, "packet size incorrect: 255 should be 30 for AHRS\n"},
        // Scaled mode's message has two blanks before the expected length.
        {'c', 30, "packet size incorrect: 30 should be  24 for AHRS\n"},
        {'c', 0, "packet size incorrect: 0 should be  24 for AHRS\n"},
        {'c', 23, "packet size incorrect: 23 should be  24 for AHRS\n"},
        {'r', 30, "packet size incorrect: 30 should be 24 for AHRS\n"},
        {'r', 25, "packet size incorrect: 25 should be 24 for AHRS\n"},
    };
    guarded_bytes nothing(0);
    for (const row& r : rows) {
        const verdict v = check(r.mode, nothing.fence(), r.length);
        EXPECT_FALSE(v.accepted) << r.mode << ' ' << r.length;
        EXPECT_EQ(v.printed, r.printed);
    }
}

TEST(CheckPacket, HeaderAndChecksumOutcomes)
{
    // Offsets 1-20 hold 1..20, then 0xFF 0x00; the checksum is 465 % 256 = 0xD1.
    std::vector<std::uint8_t> good{0xFF};
    for (std::uint8_t i = 1; i <= 20; ++i)
        good.push_back(i);
    good.insert(good.end(), {0xFF, 0x00, 0xD1});
    const std::string data_dump = "1 2 3 4 5 6 7 8 9 a b c d e f 10 11 12 13 14 ff 0 ";

    struct row {
        std::uint8_t header;
        std::uint8_t checksum;
        bool accepted;
        std::string printed;
    };
    const row rows[] = {
        {0xFF, 0xD1, true, ""},
        {0xFE, 0xD1, false, "\nunrecognized header byte: fe " + data_dump + "d1 \n"},
        {0xFF, 0xD2, false, "\nbad checksum:ff " + data_dump + "d2 \n"},
        {0x00, 0xD0, false, "\nunrecognized header byte: \nbad checksum:0 " + data_dump + "d0 \n"},
    };
    for (char mode : {'c', 'r'}) {
        for (const row& r : rows) {
            std::vector<std::uint8_t> bytes = good;
            bytes.front() = r.header;
            bytes.back() = r.checksum;
            guarded_bytes packet(bytes);
            const verdict v = check(mode, packet);
            EXPECT_EQ(v.accepted, r.accepted) << mode << ' ' << int{r.header};
            EXPECT_EQ(v.printed, r.printed);
        }
    }

    // All zero: the checksum (0) matches, only the header is wrong.
    guarded_bytes zeros(std::vector<std::uint8_t>(24, 0));
    std::string expected = "\nunrecognized header byte: ";
    for (int i = 0; i < 24; ++i)
        expected += "0 ";
    const verdict v = check('c', zeros);
    EXPECT_FALSE(v.accepted);
    EXPECT_EQ(v.printed, expected + "\n");
}

TEST(CheckPacket, ChecksumWrapsModulo256)
{
    // 28 bytes of 0xFF sum to 7140 = 0x1BE4; 22 of them to 5610 = 0x15EA.
    for (auto [mode, length, right] :
         {std::tuple{'a', 30u, 0xE4}, {'c', 24u, 0xEA}, {'r', 24u, 0xEA}}) {
        std::vector<std::uint8_t> bytes(length, 0xFF);
        for (int checksum = 0; checksum < 256; ++checksum) {
            bytes.back() = static_cast<std::uint8_t>(checksum);
            guarded_bytes packet(bytes);
            const verdict v = check(mode, packet);
            EXPECT_EQ(v.accepted, checksum == right) << mode << ' ' << checksum;
        }
    }
}

TEST(CheckPacket, ChecksumCoversExactlyTheBytesBetweenHeaderAndChecksum)
{
    for (char mode : {'a', 'c', 'r'}) {
        const std::vector<std::uint8_t> good = busy_packet(mode);
        // Any summed byte changed alone breaks the checksum.
        for (std::size_t offset = 1; offset + 1 < good.size(); ++offset) {
            std::vector<std::uint8_t> bytes = good;
            bytes[offset] = static_cast<std::uint8_t>(bytes[offset] + 1);
            guarded_bytes packet(bytes);
            const verdict v = check(mode, packet);
            EXPECT_FALSE(v.accepted) << mode << " offset " << offset;
            EXPECT_EQ(v.printed.rfind("\nbad checksum:", 0), 0u) << mode << " offset " << offset;
        }
        // The header is not summed: a wrong one leaves the checksum matching.
        std::vector<std::uint8_t> bytes = good;
        bytes[0] = 0x7F;
        guarded_bytes packet(bytes);
        const verdict v = check(mode, packet);
        EXPECT_FALSE(v.accepted);
        EXPECT_EQ(v.printed.rfind("\nunrecognized header byte: 7f ", 0), 0u) << v.printed;
        EXPECT_EQ(v.printed.find("checksum"), std::string::npos) << v.printed;
    }
}
