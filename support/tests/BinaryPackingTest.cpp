#include "support/BinaryPacking.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tandrel::support {
namespace {

using namespace std::string_literals;

TEST(BinaryPacking, CodesMostSignificantFirst) {
    EXPECT_EQ(CodeInt(0x1234), "\x12\x34");
    EXPECT_EQ(CodeInt(0), "\0\0"s);
    EXPECT_EQ(CodeLongInt(0x01020304u), "\x01\x02\x03\x04");
    EXPECT_EQ(CodeLongInt(0xFFFFFFFEu), "\xFF\xFF\xFF\xFE");
}

struct DecodeCase {
    const char* Name;
    std::string Value;
    int Index;
    std::uint16_t Int;
    std::uint32_t LongInt;
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, ReadsBigEndianAtOneBasedIndex) {
    const auto& c = GetParam();
    EXPECT_EQ(DecodeInt(c.Value, c.Index), c.Int);
    EXPECT_EQ(DecodeLongInt(c.Value, c.Index), c.LongInt);
}

INSTANTIATE_TEST_SUITE_P(
    BinaryPacking, DecodeTable,
    ::testing::Values(DecodeCase{"first", "\x12\x34\x56\x78\x9A", 1, 0x1234, 0x12345678u},
                      DecodeCase{"second", "\x12\x34\x56\x78\x9A", 2, 0x3456, 0x3456789Au},
                      DecodeCase{"past_end_counts_zero", "\x12\x34\x56", 3, 0x5600, 0x56000000u},
                      DecodeCase{"index_zero", "\x12\x34", 0, 0x0012, 0x00123400u},
                      DecodeCase{"far_outside", "\x12", 99, 0, 0}, DecodeCase{"empty", "", 1, 0, 0},
                      DecodeCase{"negative_index", "\x12\x34", -5, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BinaryPacking, PackingRoundTrips) {
    for (std::uint32_t v : {0u, 1u, 0x80u, 0xFFFFu, 0x12345678u, 0xFFFFFFFFu}) {
        EXPECT_EQ(DecodeLongInt(CodeLongInt(v), 1), v);
        EXPECT_EQ(DecodeInt(CodeInt(static_cast<std::uint16_t>(v)), 1), static_cast<std::uint16_t>(v));
    }
}

TEST(BinaryPacking, SwapBytesReversesOrder) {
    EXPECT_EQ(SwapBytes(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapBytes(SwapBytes(0xA1B2C3D4u)), 0xA1B2C3D4u);
}

TEST(BinaryPacking, StreamsReadUpToLenAndWriteAll) {
    std::stringstream s;
    WriteStrToStream(s, "ab\0cd"s);
    EXPECT_EQ(s.str(), "ab\0cd"s);
    EXPECT_EQ(ReadStrFromStream(s, 3), "ab\0"s);
    EXPECT_EQ(ReadStrFromStream(s, 10), "cd");
    EXPECT_EQ(ReadStrFromStream(s, 10), "");
}

}  // namespace
}  // namespace tandrel::support
