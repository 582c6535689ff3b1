#pragma once

#include <QWidget>

// The waterfall's colour key: the palette from the bar graph's bottom to its
// top, with dBm marked every ten.
class PaletteLegend : public QWidget
{
    Q_OBJECT
public:
    PaletteLegend(int bottomDbm, int topDbm, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bottom; // dBm
    int m_top;    // dBm
};
