#include "coverage/PackedRtree.h"

#include "link/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// SQLite's own factors for nudging a rounded double past its value.
constexpr double kTowards = 1.0 - 1.0 / 8388608.0;
constexpr double kAway = 1.0 + 1.0 / 8388608.0;

using ByteOrder::putbe16;
using ByteOrder::putbe64;

void putFloat(uint8_t* p, float v)
{
    ByteOrder::putbe32(p, std::bit_cast<uint32_t>(v));
}

float centreX(const PackedRtree::Entry& e)
{
    return e.minX / 2 + e.maxX / 2;
}

float centreY(const PackedRtree::Entry& e)
{
    return e.minY / 2 + e.maxY / 2;
}

} // namespace

// Where the nudge falls short (values too small for a float's full
// precision), the next float out.
float PackedRtree::roundDown(double v)
{
    float f = float(v);
    if (double(f) > v)
        f = float(v * (v < 0 ? kAway : kTowards));
    if (double(f) > v)
        f = std::nextafter(f, -HUGE_VALF);
    return f;
}

float PackedRtree::roundUp(double v)
{
    float f = float(v);
    if (double(f) < v)
        f = float(v * (v < 0 ? kTowards : kAway));
    if (double(f) < v)
        f = std::nextafter(f, HUGE_VALF);
    return f;
}

PackedRtree::Entry PackedRtree::entry(int64_t id, double minX, double maxX, double minY, double maxY)
{
    return Entry{id, roundDown(minX), roundUp(maxX), roundDown(minY), roundUp(maxY)};
}

int64_t PackedRtree::writeNode(const Entry* children, size_t count, bool root, int64_t& next, Entry& bounds)
{
    Node node;
    node.number = root ? 1 : next++;
    node.data.assign(m_nodeBytes, 0);
    uint8_t* p = node.data.data();
    if (root)
        putbe16(p, uint16_t(m_depth));
    putbe16(p + 2, uint16_t(count));
    p += 4;
    bounds = children[0];
    for (size_t i = 0; i < count; ++i, p += kCellBytes) {
        const Entry& c = children[i];
        putbe64(p, uint64_t(c.id));
        putFloat(p + 8, c.minX);
        putFloat(p + 12, c.maxX);
        putFloat(p + 16, c.minY);
        putFloat(p + 20, c.maxY);
        bounds.minX = std::min(bounds.minX, c.minX);
        bounds.maxX = std::max(bounds.maxX, c.maxX);
        bounds.minY = std::min(bounds.minY, c.minY);
        bounds.maxY = std::max(bounds.maxY, c.maxY);
    }
    bounds.id = node.number;
    m_nodes.push_back(std::move(node));
    return bounds.id;
}

PackedRtree::PackedRtree(std::vector<Entry> entries, size_t nodeBytes) : m_nodeBytes(nodeBytes)
{
    const size_t perNode = std::min(kMaxCells, (nodeBytes - 4) / kCellBytes);
    // The levels' sizes first: the root carries the depth.
    for (size_t n = entries.size(); n > perNode; n = (n + perNode - 1) / perNode)
        ++m_depth;
    int64_t next = 2; // node 1 is the root
    std::vector<Entry> level = std::move(entries);
    for (bool leaves = true;; leaves = false) {
        std::vector<Link>& links = leaves ? m_rowids : m_parents;
        if (level.size() <= perNode) {
            if (level.empty()) {
                m_nodes.push_back(Node{1, std::vector<uint8_t>(m_nodeBytes, 0)});
            } else {
                Entry bounds;
                writeNode(level.data(), level.size(), true, next, bounds);
                for (const Entry& e : level)
                    links.push_back({e.id, 1});
            }
            std::rotate(m_nodes.begin(), m_nodes.end() - 1, m_nodes.end());
            return;
        }
        // Sort-tile-recursive: slabs of whole nodes by x, each slab by y.
        const size_t nodes = (level.size() + perNode - 1) / perNode;
        const size_t slabs = size_t(std::ceil(std::sqrt(double(nodes))));
        const size_t slab = (nodes + slabs - 1) / slabs * perNode;
        std::sort(level.begin(), level.end(), [](const Entry& a, const Entry& b) { return centreX(a) < centreX(b); });
        for (size_t begin = 0; begin < level.size(); begin += slab)
            std::sort(level.begin() + ptrdiff_t(begin), level.begin() + ptrdiff_t(std::min(level.size(), begin + slab)),
                      [](const Entry& a, const Entry& b) { return centreY(a) < centreY(b); });
        std::vector<Entry> up(nodes);
        for (size_t k = 0; k < nodes; ++k) {
            const size_t begin = k * perNode, count = std::min(perNode, level.size() - begin);
            const int64_t number = writeNode(level.data() + begin, count, false, next, up[k]);
            for (size_t i = 0; i < count; ++i)
                links.push_back({level[begin + i].id, number});
        }
        level = std::move(up);
    }
}
