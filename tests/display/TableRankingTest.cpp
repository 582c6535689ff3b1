#include "display/TableRanking.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RankCase
{
    const char* legend;
    std::vector<std::pair<int, int8_t>> entries; // table index, byte
    std::vector<std::pair<int, int>> top;        // expected (level, channel), rest at the floor
};

} // namespace

TEST(TableRanking, byteReading)
{
    EXPECT_EQ(TableRanking::levelOf(-1), -1);
    EXPECT_EQ(TableRanking::levelOf(-128), -128);
    EXPECT_EQ(TableRanking::levelOf(0), -256);
    EXPECT_EQ(TableRanking::levelOf(127), -129);
}

TEST(TableRanking, cases)
{
    const std::vector<RankCase> cases = {
        {"all zero", {}, {}},
        {"one channel", {{41, -70}}, {{-70, 42}}},
        {"equal levels: lower channel first", {{9, -60}, {4, -60}}, {{-60, 5}, {-60, 10}}},
        {"descending", {{0, -100}, {1, -50}, {2, -80}}, {{-50, 2}, {-80, 3}, {-100, 1}}},
        {"floor and below never enter", {{0, -120}, {1, -121}, {2, 5}, {3, -119}}, {{-119, 4}}},
        {"last table entry", {{3071, -40}}, {{-40, 3072}}},
    };
    for (const RankCase& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<int8_t> table(3072, 0);
        for (auto [index, byte] : c.entries)
            table[size_t(index)] = byte;
        const auto ranked = TableRanking::rank(table.data(), int(table.size()));
        for (int k = 0; k < TableRanking::kSlots; ++k) {
            const auto expected = k < int(c.top.size()) ? c.top[size_t(k)] : std::pair{-120, 0};
            EXPECT_EQ(ranked[k].level, expected.first) << "slot " << k;
            EXPECT_EQ(ranked[k].channel, expected.second) << "slot " << k;
        }
    }
}

TEST(TableRanking, keepsTheTenStrongest)
{
    std::vector<int8_t> table(3072, 0);
    // 30 channels from -100 up to -42 dBm, strongest at the highest index,
    // plus duplicates of the strongest further down the table.
    for (int i = 0; i < 30; ++i)
        table[size_t(100 * i)] = int8_t(-100 + 2 * i);
    table[5] = -42;
    const auto ranked = TableRanking::rank(table.data(), int(table.size()));
    EXPECT_EQ(ranked[0].level, -42);
    EXPECT_EQ(ranked[0].channel, 6);
    EXPECT_EQ(ranked[1].level, -42);
    EXPECT_EQ(ranked[1].channel, 2901);
    for (int k = 2; k < 10; ++k) {
        EXPECT_EQ(ranked[k].level, -42 - 2 * (k - 1));
        EXPECT_EQ(ranked[k].channel, 100 * (29 - (k - 1)) + 1);
    }
}
