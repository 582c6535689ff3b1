#pragma once

#include "display/ReceiverBars.h"

#include <QImage>
#include <QWidget>

#include <vector>

class ScanHistory;

// Above the waterfall: the max hold, min hold and average of each channel of
// the newest section since the last reset, on the bar graph's dBm scale, with
// the channels labelled as the bar graph labels them.
class HoldTraceView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBottomDbm = ReceiverBars::kBottomDbm; // dBm
    static constexpr int kTopDbm = ReceiverBars::kTopDbm;       // dBm
    static constexpr int kKeyHeight = 16;   // px above the plot, for the traces' key
    static const QColor kMaxColour;
    static const QColor kMinColour;
    static const QColor kAverageColour;

    explicit HoldTraceView(const ScanHistory& history, QWidget* parent = nullptr);

    // After the history got rows: repaints only when a trace would move by a
    // pixel, as the average of a busy channel shifts by fractions of one,
    // and only the plot while the section and its labels stay.
    void holdsChanged();

    void setShowFrequency(bool frequency);
    bool showFrequency() const { return m_frequency; }

    // A column's label: frequency ("%.4f" MHz) or channel, as the bar graph's.
    QString label(int column) const;
    // Where a level falls, and where a column's middle falls.
    int yOf(double dBm) const;
    int xOf(int column) const;
    // The plot the traces are drawn in, with its frame.
    QRect plotRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int plotHeight() const;
    // Each trace's pixel row per column, and the section they belong to.
    std::vector<int> traceRows() const;

    const ScanHistory& m_history;
    bool m_frequency = true;
    std::vector<int> m_shownRows;
    QImage m_plotPicture; // the plot without traces, at the last size painted
};
