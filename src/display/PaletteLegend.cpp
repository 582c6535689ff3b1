#include "PaletteLegend.h"

#include "display/HistorySection.h"
#include "display/WaterfallGeometry.h"
#include "display/WaterfallView.h"
#include "protocol/RssiPalette.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr int kKeyHeight = 34;      // px: the colour bar and its dBm
constexpr int kChannelHeight = 14;  // px: the channel labels above it
constexpr int kFontPixels = 10;
constexpr int kLabelGap = 6;        // px between two channel labels

QFont legendFont(QFont font)
{
    font.setPixelSize(kFontPixels);
    return font;
}
} // namespace

PaletteLegend::PaletteLegend(int bottomDbm, int topDbm, QWidget* parent)
    : QWidget(parent)
    , m_bottom(bottomDbm)
    , m_top(topDbm)
{
    setFixedHeight(kKeyHeight);
}

void PaletteLegend::showChannelsOf(const WaterfallView* waterfall)
{
    if (m_waterfall)
        disconnect(m_waterfall, nullptr, this, nullptr);
    m_waterfall = waterfall;
    setFixedHeight(waterfall ? kKeyHeight + kChannelHeight : kKeyHeight);
    if (waterfall)
        connect(waterfall, &WaterfallView::scrollRangeChanged, this, qOverload<>(&QWidget::update));
    update();
}

std::vector<std::pair<int, QString>> PaletteLegend::channelLabels() const
{
    std::vector<std::pair<int, QString>> labels;
    const HistorySection* s = m_waterfall ? m_waterfall->shownSection() : nullptr;
    if (!s || s->columns.empty())
        return labels;
    const WaterfallGeometry g = m_waterfall->geometryOf(*s);
    const QFontMetrics fm(legendFont(font()));
    int widest = 0;
    for (const HistorySection::Column& c : s->columns)
        widest = std::max(widest, fm.horizontalAdvance(QString::number(c.channel)));
    const int stride = g.labelStride(widest + kLabelGap);
    for (int c = 0; c < g.columns(); c += stride)
        labels.emplace_back(WaterfallGeometry::kAxisWidth + int(g.centre(c)), QString::number(s->columns[std::size_t(c)].channel));
    return labels;
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
    p.setFont(legendFont(p.font()));
    if (m_waterfall) {
        p.setPen(Qt::black);
        p.drawText(QRect(0, 1, WaterfallGeometry::kAxisWidth - 4, kChannelHeight - 2), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("Channel"));
        for (const auto& [x, text] : channelLabels())
            p.drawText(QRect(x - 30, 1, 60, kChannelHeight - 2), Qt::AlignCenter, text);
        p.translate(0, kChannelHeight);
    }
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
    p.setPen(Qt::black);
    p.drawText(QRect(0, 2, left - 4, 12), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("dBm"));
    for (const int dBm : palette.legendValues()) {
        const int x = left + int(double(dBm - bottom) * width / span);
        p.drawLine(x, 14, x, 18);
        p.drawText(QRect(x - 20, 19, 40, 12), Qt::AlignCenter, QString::number(dBm));
    }
}
