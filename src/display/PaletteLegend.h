#pragma once

#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

class WaterfallView;

// The waterfall's colour key: the palette from its bottom to its top, with
// dBm marked at both ends and on round steps between them.
class PaletteLegend : public QWidget
{
    Q_OBJECT
public:
    PaletteLegend(int bottomDbm, int topDbm, QWidget* parent = nullptr);

    // Follows the waterfall's palette when a map beside it changes its range.
    void setRange(int bottomDbm, int topDbm);
    int bottomDbm() const { return m_bottom; }
    int topDbm() const { return m_top; }

    // Labels the waterfall's columns across, above the key, as many as fit:
    // for a waterfall with nothing above it that names its channels.
    void showChannelsOf(const WaterfallView* waterfall);
    // The channel labels shown: x in this widget (a column's middle) and text.
    std::vector<std::pair<int, QString>> channelLabels() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<const WaterfallView> m_waterfall;
    int m_bottom; // dBm
    int m_top;    // dBm
};
