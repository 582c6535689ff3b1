#pragma once

#include "protocol/RssiPalette.h"

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class ScanHistory;
struct HistorySection;

// The waterfall of a receiver's history: one row per report, newest at the
// top, each cell coloured by the level its channel showed at that report,
// with clock times down the left. All drawing goes into an image; a new row
// moves what is on the screen down (QWidget::scroll) and draws only the new
// strip, so live updates do not repaint the window.
class WaterfallView : public QWidget
{
    Q_OBJECT
public:
    // The palette spans the bar graph's scale.
    static constexpr int kBottomDbm = -120; // dBm
    static constexpr int kTopDbm = -30;     // dBm

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
    // "Channel 41  151.0000 MHz  19:56:57.123  -77 dBm" for the cell under p, empty if none.
    QString readout(QPoint p) const;
    const QImage& image() const { return m_image; }
    // What paint events covered since the last call: live rows cover only their strip.
    QRegion takePainted();

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
    int plotWidth() const;
    // The width a section's columns share.
    int sectionWidth(const HistorySection& s) const;
    bool rowAt(int y, uint64_t& row) const;
    void drawRow(uint64_t n, int y);

    const ScanHistory& m_history;
    QImage m_image;
    // The row drawn at the top, plus one.
    uint64_t m_topEnd = 0;
    // Following new rows; scrolled back, the picture stands still.
    bool m_follow = true;
    QRegion m_painted;
    // Carried levels of the last row drawn.
    std::vector<int> m_levels;
    uint64_t m_levelsRow = UINT64_MAX;
    uint64_t m_levelsSection = UINT64_MAX; // its section's first row
    std::array<QRgb, 256> m_colours{};    // by dBm + 128
};
