#pragma once

#include <QWidget>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bottom; // dBm
    int m_top;    // dBm
};
