#include "coverage/PackedRtree.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace {

constexpr size_t kNodeBytes = 4 + 51 * PackedRtree::kCellBytes; // SQLite's for 2 dimensions on 4 KiB pages

uint64_t read(const std::vector<uint8_t>& d, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | d[at + size_t(i)];
    return v;
}

// Walks the tree from the root as SQLite would: every entry once, at the
// leaves, inside every box above it, with the rowid and parent tables in step.
TEST(PackedRtree, HoldsEveryEntryOnceUnderBoxesThatEncloseIt)
{
    for (const size_t n : {size_t(0), size_t(1), size_t(51), size_t(52), size_t(2601), size_t(2602), size_t(7000)}) {
        std::mt19937 random{unsigned(n)};
        std::uniform_real_distribution<double> place(-180, 180);
        std::vector<PackedRtree::Entry> entries;
        for (size_t i = 0; i < n; ++i) {
            const double x = place(random), y = place(random) / 2;
            entries.push_back(PackedRtree::entry(int64_t(i) + 1, x, x + 0.001, y, y + 0.0005));
        }
        const PackedRtree tree(entries, kNodeBytes);
        std::map<int64_t, const std::vector<uint8_t>*> nodes;
        for (const PackedRtree::Node& node : tree.nodes()) {
            ASSERT_EQ(node.data.size(), kNodeBytes);
            ASSERT_TRUE(nodes.emplace(node.number, &node.data).second);
        }
        ASSERT_EQ(tree.nodes().front().number, 1);
        const int depth = int(read(*nodes.at(1), 0, 2));
        EXPECT_EQ(depth, tree.depth()) << n;
        EXPECT_EQ(depth, n <= 51 ? 0 : n <= 2601 ? 1 : 2) << n;
        std::map<int64_t, int64_t> rowids, parents;
        for (const auto& l : tree.rowids())
            rowids[l.from] = l.to;
        for (const auto& l : tree.parents())
            parents[l.from] = l.to;
        std::set<int64_t> seen;
        std::function<void(int64_t, int, const PackedRtree::Entry*)> walk = [&](int64_t number, int level,
                                                                                 const PackedRtree::Entry* box) {
            const std::vector<uint8_t>& d = *nodes.at(number);
            const size_t cells = read(d, 2, 2);
            ASSERT_LE(cells, PackedRtree::kMaxCells);
            if (number != 1) {
                ASSERT_GE(cells, 1u);
            }
            for (size_t c = 0; c < cells; ++c) {
                const size_t at = 4 + c * PackedRtree::kCellBytes;
                const int64_t id = int64_t(read(d, at, 8));
                float v[4];
                for (int k = 0; k < 4; ++k)
                    v[k] = std::bit_cast<float>(uint32_t(read(d, at + 8 + size_t(4 * k), 4)));
                if (box) {
                    EXPECT_TRUE(v[0] >= box->minX && v[1] <= box->maxX && v[2] >= box->minY && v[3] <= box->maxY);
                }
                const PackedRtree::Entry here{id, v[0], v[1], v[2], v[3]};
                if (level == 0) {
                    EXPECT_TRUE(seen.insert(id).second);
                    EXPECT_EQ(rowids.at(id), number);
                    const PackedRtree::Entry& e = entries[size_t(id - 1)];
                    EXPECT_TRUE(e.minX == v[0] && e.maxX == v[1] && e.minY == v[2] && e.maxY == v[3]);
                } else {
                    EXPECT_EQ(parents.at(id), number);
                    walk(id, level - 1, &here);
                }
            }
        };
        walk(1, depth, nullptr);
        EXPECT_EQ(seen.size(), n);
        EXPECT_EQ(rowids.size(), n);
        EXPECT_EQ(parents.size() + 1, nodes.size());
    }
}

TEST(PackedRtree, RoundsBoundsOutwardsToFloats)
{
    for (const double v : {0.0, 0.1, -0.1, 48.85661400000001, -179.99999999, 179.99999999, 89.9999, 1e-40, 0.5, -2.0}) {
        EXPECT_LE(double(PackedRtree::roundDown(v)), v) << v;
        EXPECT_GE(double(PackedRtree::roundUp(v)), v) << v;
        // Within a step or two of a float: the index stays tight.
        EXPECT_LE(std::abs(double(PackedRtree::roundUp(v)) - v), std::abs(v) * 3e-7 + 1e-44) << v;
        EXPECT_LE(std::abs(double(PackedRtree::roundDown(v)) - v), std::abs(v) * 3e-7 + 1e-44) << v;
        if (double(float(v)) == v) {
            EXPECT_TRUE(PackedRtree::roundDown(v) == float(v) && PackedRtree::roundUp(v) == float(v)) << v;
        }
    }
}

} // namespace
