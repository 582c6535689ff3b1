#pragma once

#include "coverage/CoverageMapReader.h"

#include <QRectF>
#include <QRgb>
#include <QString>

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

    void setCells(std::vector<CoverageMapReader::Cell> cells);
    void setFigure(Figure figure);
    void setReceiver(int receiver);     // 0 both, 1 or 2
    void setFrequency(double mhz);      // 0 every frequency
    Figure figure() const { return m_figure; }
    int receiver() const { return m_receiver; }
    double frequency() const { return m_frequency; }

    bool empty() const { return m_cells.empty(); }
    size_t shownCells() const { return m_shown.size(); }
    std::vector<double> frequencies() const; // MHz, ascending
    uint64_t maxCount() const { return m_maxCount; } // of the cells shown
    QRectF worldBounds() const;                      // TileMath world coordinates of every cell

    // The colour of a shown cell.
    QRgb colour(int value, const RssiPalette& palette) const;
    void draw(QPainter& p, const MapViewport& viewport, const RssiPalette& palette) const;
    // The figures of every frequency of the cell at a place (within the
    // receiver choice); empty where no cell was driven.
    QString describeAt(double latitude, double longitude) const;

    static QString figureName(Figure figure);

private:
    struct Shown
    {
        CoverageGrid::Bounds bounds;
        int value = 0; // dBm, or samples for Count
    };

    int valueOf(const CoverageMapReader::Cell& c) const;
    bool passes(const CoverageMapReader::Cell& c) const;
    void update();

    std::vector<CoverageMapReader::Cell> m_cells;
    std::vector<Shown> m_shown;
    Figure m_figure = Figure::Median;
    int m_receiver = 0;
    double m_frequency = 0;
    uint64_t m_maxCount = 0;
};
