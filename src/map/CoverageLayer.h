#pragma once

#include "coverage/CoverageMapReader.h"

#include <QRectF>
#include <QRgb>
#include <QString>

#include <unordered_map>
#include <vector>

class MapViewport;
class QPainter;
class RssiPalette;

// A coverage map's cells on the map, coloured by one figure, for one or
// both receivers and one or every frequency. Where several frequencies or
// receivers share a cell, the strongest figure shows. Cells not driven are
// not in the map and stay uncovered, so "not driven" never looks weak.
class CoverageLayer
{
public:
    enum class Figure { Median, P10, P90, Count };

    // A frequency of the map and what was measured on it, both receivers
    // together. A map keeps frequencies, not channel numbers: those follow
    // the band of each log (its low edge, step and numbering), which the
    // map does not keep and which drives merged into it may not share.
    struct FrequencySummary
    {
        double mhz = 0;
        uint64_t samples = 0;
        size_t cells = 0; // cells driven on it
    };

    void setCells(std::vector<CoverageMapReader::Cell> cells);
    // Cells of a log being followed, whole as far as it is read: each
    // replaces the cell of its place, receiver and frequency, or joins the
    // map. Only their places are worked out again, whatever the map's size.
    // True when a frequency came that the map did not have.
    bool updateCells(const std::vector<CoverageMapReader::Cell>& cells);
    void setFigure(Figure figure);
    void setReceiver(int receiver);     // 0 both, 1 or 2
    void setFrequency(double mhz);      // 0 every frequency
    Figure figure() const { return m_figure; }
    int receiver() const { return m_receiver; }
    double frequency() const { return m_frequency; }

    bool empty() const { return m_cells.empty(); }
    size_t shownCells() const { return m_shown.size(); }
    std::vector<double> frequencies() const; // MHz, ascending
    const std::vector<FrequencySummary>& frequencySummaries() const { return m_summaries; } // ascending
    uint64_t maxCount() const { return m_maxCount; } // of the cells shown
    QRectF worldBounds() const;                      // TileMath world coordinates of every cell

    // The colour of a shown cell.
    QRgb colour(int value, const RssiPalette& palette) const;
    void draw(QPainter& p, const MapViewport& viewport, const RssiPalette& palette) const;
    // The figures of every frequency of the cell at a place (within the
    // receiver choice); empty where no cell was driven.
    QString describeAt(double latitude, double longitude) const;

    // The cell at a place becomes the selected one, outlined on the map
    // through every choice; false, and none selected, where none was driven.
    bool select(double latitude, double longitude);
    bool hasSelection() const { return m_selected; }
    // The selected cell's figures under the current receiver choice, the
    // row that colours it marked; empty with no cell selected.
    QString describeSelected() const;

    static QString figureName(Figure figure);

private:
    struct Shown
    {
        CoverageGrid::Bounds bounds;
        int value = 0; // dBm, or samples for Count
        int64_t key = 0; // CoverageGrid::key of the place
    };

    int valueOf(const CoverageMapReader::Cell& c) const;
    bool passes(const CoverageMapReader::Cell& c) const;
    void update();
    void summarise();
    QString describe(std::vector<const CoverageMapReader::Cell*> rows) const;
    void drawSelection(QPainter& p, const MapViewport& viewport) const;

    struct CellId
    {
        int64_t cell = 0;
        int64_t frequency = 0; // CoverageCells::frequencyKey
        int receiver = 0;
        bool operator==(const CellId&) const = default;
    };
    struct CellIdHash
    {
        size_t operator()(const CellId& k) const
        {
            return size_t((uint64_t(k.cell) * 0x9E3779B97F4A7C15ull) ^ (uint64_t(k.frequency) << 1 | uint64_t(k.receiver)));
        }
    };
    static CellId idOf(const CoverageMapReader::Cell& c);
    void reshow(int64_t cellKey);
    void index();

    std::vector<CoverageMapReader::Cell> m_cells;
    // Kept only once cells are updated one by one: where each cell is, and
    // the rows of each place.
    std::unordered_map<CellId, size_t, CellIdHash> m_at;
    std::unordered_map<int64_t, std::vector<size_t>> m_rowsAt;
    std::unordered_map<int64_t, size_t> m_shownAt;
    std::vector<Shown> m_shown;
    Figure m_figure = Figure::Median;
    int m_receiver = 0;
    double m_frequency = 0;
    uint64_t m_maxCount = 0;
    std::vector<FrequencySummary> m_summaries;
    bool m_selected = false;
    int64_t m_selectedKey = 0; // CoverageGrid::key of the selected cell
    CoverageGrid::Bounds m_selectedBounds;
};
