#pragma once

#include "display/WaterfallGeometry.h"
#include "protocol/RssiPalette.h"

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QPainter;
class ScanHistory;
struct HistorySection;

// The waterfall of a receiver's history: one row per report, newest at the
// top, each cell coloured by the level its channel showed at that report,
// with clock times down the left. All drawing goes into an image kept as a
// ring of lines: a new row moves the ring's origin up a line instead of
// moving the picture, is drawn there, and what is on the screen moves down
// (QWidget::scroll) with only the new strip painted, so live updates do not
// repaint the window.
class WaterfallView : public QWidget
{
    Q_OBJECT
public:
    // The palette starts on the scale every picture shares, so a reading has
    // the colour here that it has on the map beside it.
    static constexpr int kBottomDbm = RssiPalette::kDefaultMinimum; // dBm
    static constexpr int kTopDbm = RssiPalette::kDefaultMaximum;    // dBm

    explicit WaterfallView(const ScanHistory& history, QWidget* parent = nullptr);

    // After the history got rows at its end.
    void rowsAdded();
    // After the history was changed otherwise (cleared, resized).
    void rebuild();

    // Rows back from the newest that the top shows; 0 follows new rows.
    int scrollBack() const;
    void setScrollBack(int rows);
    // Rows that could be scrolled back through.
    int maxScrollBack() const;
    int visibleRows() const;

    // Where row n's cell of column c is drawn, in this widget; (-1, -1) when
    // off the screen.
    QPoint cellCentre(uint64_t row, int column) const;
    // The section of the newest row shown, or null when none is.
    const HistorySection* shownSection() const;
    // Where a section's columns lie, from the plot's left (kAxisWidth px in).
    WaterfallGeometry geometryOf(const HistorySection& s) const;
    // "Channel 41  151.0000 MHz  19:56:57.123  -77 dBm" for the cell under p, empty if none.
    QString readout(QPoint p) const;
    // The picture as the widget shows it, top line first.
    const QImage& image() const;
    // What paint events covered since the last call: live rows cover only their strip.
    QRegion takePainted();

    // Colours the cells on palette from now on, as a map beside it colours its dots.
    void setPalette(const RssiPalette& palette);
    const RssiPalette& palette() const { return m_palette; }

    QRgb colourOf(int level) const;
    static QRgb noDataColour();

signals:
    void pointed(const QString& text);
    void scrollRangeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void fillColours();
    int plotWidth() const;
    // The width a section's columns share.
    int sectionWidth(const HistorySection& s) const;
    bool rowAt(int y, uint64_t& row) const;
    void drawRow(uint64_t n, int y);
    // The ring's line that shows the widget's line y (0 <= y < height).
    int ringLine(int y) const;
    void drawTimeLabel(uint64_t n, int y, bool above);
    // True when it drew a label the screen shows.
    bool liftBottomTimeLabels();
    // Copies the widget's rectangle r from the ring, in one piece or two.
    void paintFromRing(QPainter& p, const QRect& r) const;
    // The runs of pixels of a section's columns at width.
    void mapColumns(const HistorySection& s, int width);

    const ScanHistory& m_history;
    // The widget's line y is the ring's line (m_origin + y) % height.
    QImage m_image;
    int m_origin = 0;
    mutable QImage m_unrolled; // image() when the origin is not 0
    mutable bool m_unrolledValid = false;
    // The row drawn at the top, plus one.
    uint64_t m_topEnd = 0;
    // Following new rows; scrolled back, the picture stands still.
    bool m_follow = true;
    QRegion m_painted;
    // Carried levels of the last row drawn.
    std::vector<int> m_levels;
    uint64_t m_levelsRow = UINT64_MAX;
    uint64_t m_levelsSection = UINT64_MAX; // its section's first row
    RssiPalette m_palette{kBottomDbm, kTopDbm};
    std::array<QRgb, 256> m_colours{};    // by dBm + 128
    // Runs of the plot's pixels that show the same columns: wide columns
    // are filled a run at a time, and a pixel of many columns is a run of one.
    struct PixelRun
    {
        int left;  // px from the plot's left
        int right; // px, one past the run
        int firstColumn;
        int lastColumn;
    };
    std::vector<PixelRun> m_runs;
    uint64_t m_columnsSection = UINT64_MAX;
    int m_columnsWidth = -1;
    int m_columnsCount = -1;
};
