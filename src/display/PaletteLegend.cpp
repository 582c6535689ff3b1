#include "PaletteLegend.h"

#include "display/WaterfallGeometry.h"
#include "display/WaterfallView.h"
#include "protocol/RssiPalette.h"

#include <QPainter>

PaletteLegend::PaletteLegend(int bottomDbm, int topDbm, QWidget* parent)
    : QWidget(parent)
    , m_bottom(bottomDbm)
    , m_top(topDbm)
{
    setFixedHeight(34);
}

void PaletteLegend::setRange(int bottomDbm, int topDbm)
{
    if (bottomDbm == m_bottom && topDbm == m_top)
        return;
    m_bottom = bottomDbm;
    m_top = topDbm;
    update();
}

void PaletteLegend::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0xF0, 0xF0, 0xF0));
    const int left = WaterfallGeometry::kAxisWidth;
    const int width = std::max(1, this->width() - left - WaterfallGeometry::kRightMargin);
    const RssiPalette palette(m_bottom, m_top);
    const int bottom = palette.minimum();
    const int span = std::max(1, palette.maximum() - bottom);
    for (int x = 0; x < width; ++x) {
        const int dBm = bottom + int((double(x) + 0.5) * span / width);
        p.setPen(QColor::fromRgb(palette.argb(dBm)));
        p.drawLine(left + x, 2, left + x, 14);
    }
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRect(0, 2, left - 4, 12), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("dBm"));
    for (const int dBm : palette.legendValues()) {
        const int x = left + int(double(dBm - bottom) * width / span);
        p.drawLine(x, 14, x, 18);
        p.drawText(QRect(x - 20, 19, 40, 12), Qt::AlignCenter, QString::number(dBm));
    }
}
