#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A GeoPackage's spatial index built in one pass over all its rows, in the
// form SQLite's rtree module keeps on disk, for a table filled at once.
// SQLite inserts entries one by one into an R*-tree, which took three
// seconds for the cells of a 100 MB log; sorted into tiles (sort-tile-
// recursive) and packed full, the same entries make a tree in a moment,
// with nodes that overlap less.
//
// The layout is that of an rtree virtual table of two dimensions with
// 32-bit float coordinates, as a GeoPackage declares it:
//   node blob   2 bytes the tree's depth (in the root, node 1; 0 elsewhere),
//               2 bytes the number of cells, then per cell an 8-byte id
//               (the row's for a leaf, the child node's otherwise) and
//               min x, max x, min y, max y; all big-endian
//   rowid table row id -> leaf node;  parent table node -> parent node
// Bounds are rounded outwards to floats as SQLite rounds them, so each row
// is stored exactly as an insert would have stored it.
class PackedRtree
{
public:
    struct Entry
    {
        int64_t id = 0;
        float minX = 0, maxX = 0, minY = 0, maxY = 0;
    };
    struct Node
    {
        int64_t number = 0;
        std::vector<uint8_t> data;
    };
    struct Link
    {
        int64_t from = 0; // a row id (rowid table) or a node (parent table)
        int64_t to = 0;   // its leaf or parent node
    };

    // An entry for bounds in degrees, rounded outwards.
    static Entry entry(int64_t id, double minX, double maxX, double minY, double maxY);
    static float roundDown(double v);
    static float roundUp(double v);

    // A tree over the entries (taken in any order) with nodes of nodeBytes
    // bytes, the size of node 1 of the table being filled. Empty entries
    // give an empty root.
    PackedRtree(std::vector<Entry> entries, size_t nodeBytes);

    const std::vector<Node>& nodes() const { return m_nodes; } // the root first
    const std::vector<Link>& rowids() const { return m_rowids; }
    const std::vector<Link>& parents() const { return m_parents; }
    int depth() const { return m_depth; } // 0: the root is a leaf

    static constexpr size_t kCellBytes = 8 + 4 * 4;
    static constexpr size_t kMaxCells = 51; // SQLite's own limit per node

private:
    int64_t writeNode(const Entry* children, size_t count, bool root, int64_t& next, Entry& bounds);

    size_t m_nodeBytes;
    std::vector<Node> m_nodes;
    std::vector<Link> m_rowids;
    std::vector<Link> m_parents;
    int m_depth = 0;
};
