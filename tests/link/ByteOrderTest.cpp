#include "link/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using namespace ByteOrder;

struct Row
{
    std::array<uint8_t, 4> bytes;
    uint16_t leu16;
    int16_t les16;
    uint32_t leu32;
    int32_t les32;
    uint16_t beu16;
    int16_t bes16;
    uint32_t beu32;
    int32_t bes32;
};

// Rows chosen so that a swapped byte, a lost sign or a sign extended into
// the wrong half each change some column.
const Row kRows[] = {
    {{0x01, 0x02, 0x03, 0x04}, 0x0201, 0x0201, 0x04030201, 0x04030201, 0x0102, 0x0102, 0x01020304, 0x01020304},
    {{0xFF, 0x7F, 0x00, 0x80}, 0x7FFF, 32767, 0x80007FFF, int32_t(0x80007FFF), 0xFF7F, -129, 0xFF7F0080,
     int32_t(0xFF7F0080)},
    {{0x00, 0x80, 0xFF, 0xFF}, 0x8000, -32768, 0xFFFF8000, -32768, 0x0080, 128, 0x0080FFFF, 0x0080FFFF},
    {{0xFE, 0xFF, 0xFF, 0xFF}, 0xFFFE, -2, 0xFFFFFFFE, -2, 0xFEFF, -257, 0xFEFFFFFF, -16777217},
};

TEST(ByteOrder, ReadsEachWidthAndSignednessInBothOrders)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(testing::PrintToString(r.bytes));
        const uint8_t* p = r.bytes.data();
        EXPECT_EQ(getleu16(p), r.leu16);
        EXPECT_EQ(getles16(p), r.les16);
        EXPECT_EQ(getleu32(p), r.leu32);
        EXPECT_EQ(getles32(p), r.les32);
        EXPECT_EQ(getbeu16(p), r.beu16);
        EXPECT_EQ(getbes16(p), r.bes16);
        EXPECT_EQ(getbeu32(p), r.beu32);
        EXPECT_EQ(getbes32(p), r.bes32);
    }
}

TEST(ByteOrder, PutsWhatTheGettersReadBackAndTouchesNoMore)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(testing::PrintToString(r.bytes));
        std::array<uint8_t, 6> out{};
        out.fill(0x5A);
        putle32(out.data() + 1, r.leu32);
        EXPECT_EQ((std::array<uint8_t, 4>{out[1], out[2], out[3], out[4]}), r.bytes);
        putbe32(out.data() + 1, r.beu32);
        EXPECT_EQ((std::array<uint8_t, 4>{out[1], out[2], out[3], out[4]}), r.bytes);
        putle16(out.data() + 1, r.leu16);
        EXPECT_EQ(out[1], r.bytes[0]);
        EXPECT_EQ(out[2], r.bytes[1]);
        putbe16(out.data() + 1, r.beu16);
        EXPECT_EQ(out[1], r.bytes[0]);
        EXPECT_EQ(out[2], r.bytes[1]);
        EXPECT_EQ(out[0], 0x5A);
        EXPECT_EQ(out[5], 0x5A);
    }
}

TEST(ByteOrder, SixtyFourBitsPutAndReadInTheirOrderAndTouchNoMore)
{
    // Distinct bytes, so a swapped half or a swapped byte inside one shows.
    const uint64_t v = 0x0102030405060708u;
    std::array<uint8_t, 10> out{};
    out.fill(0x5A);
    putle64(out.data() + 1, v);
    EXPECT_EQ((std::array<uint8_t, 10>{0x5A, 8, 7, 6, 5, 4, 3, 2, 1, 0x5A}), out);
    EXPECT_EQ(getleu64(out.data() + 1), v);
    putbe64(out.data() + 1, v);
    EXPECT_EQ((std::array<uint8_t, 10>{0x5A, 1, 2, 3, 4, 5, 6, 7, 8, 0x5A}), out);
    putle64(out.data() + 1, 0xFFFFFFFF00000001u);
    EXPECT_EQ(getleu64(out.data() + 1), 0xFFFFFFFF00000001u) << "the high half must not take the low half's sign";
}

TEST(ByteOrder, AWordStoredInPlaceLiesInMemoryLittleEndian)
{
    const uint32_t word = toLe32(0x04030201u);
    uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    EXPECT_EQ(getleu32(bytes), 0x04030201u);
    EXPECT_EQ(toLe32(word), 0x04030201u);
}

} // namespace
