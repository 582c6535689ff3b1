#include "HoldTraceView.h"

#include "display/ScanHistory.h"
#include "display/WaterfallGeometry.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr int kAxis = WaterfallGeometry::kAxisWidth;
constexpr int kTopMargin = HoldTraceView::kKeyHeight;
constexpr int kLabelHeight = 62;  // px, the column labels below the plot, written upwards
constexpr int kScaleStep = 15;    // dB between scale lines

} // namespace

const QColor HoldTraceView::kMaxColour(0xC0, 0x00, 0x00);
const QColor HoldTraceView::kMinColour(0x00, 0x40, 0xC0);
const QColor HoldTraceView::kAverageColour(0x00, 0x80, 0x00);

HoldTraceView::HoldTraceView(const ScanHistory& history, QWidget* parent)
    : QWidget(parent)
    , m_history(history)
{
    setMinimumHeight(170);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

std::vector<int> HoldTraceView::traceRows() const
{
    std::vector<int> rows;
    const HistorySection* s = m_history.newestSection();
    if (!s)
        return rows;
    rows.reserve(3 * s->columns.size() + 2);
    // The section's start tells two sections with equal holds apart.
    rows.push_back(int(s->firstRow));
    rows.push_back(int(s->columns.size()));
    for (std::size_t c = 0; c < s->columns.size(); ++c) {
        if (s->count[c] == 0) {
            rows.insert(rows.end(), {-1, -1, -1});
            continue;
        }
        rows.insert(rows.end(), {yOf(s->maxHold[c]), yOf(s->minHold[c]), yOf(s->average(c))});
    }
    return rows;
}

void HoldTraceView::holdsChanged()
{
    std::vector<int> rows = traceRows();
    if (rows == m_shownRows)
        return;
    // The same section's start and columns: the labels around the plot stay.
    const bool sameSection = rows.size() >= 2 && m_shownRows.size() >= 2 && rows[0] == m_shownRows[0]
        && rows[1] == m_shownRows[1];
    m_shownRows = std::move(rows);
    if (sameSection)
        update(plotRect());
    else
        update();
}

QRect HoldTraceView::plotRect() const
{
    const int width = std::max(1, this->width() - kAxis - WaterfallGeometry::kRightMargin);
    return QRect(kAxis, kTopMargin, width, plotHeight());
}

void HoldTraceView::setShowFrequency(bool frequency)
{
    if (frequency == m_frequency)
        return;
    m_frequency = frequency;
    update();
}

QString HoldTraceView::label(int column) const
{
    const HistorySection* s = m_history.newestSection();
    if (!s || column < 0 || column >= int(s->columns.size()))
        return {};
    const HistorySection::Column& c = s->columns[std::size_t(column)];
    return m_frequency ? QString::number(c.mhz, 'f', 4) : QString::number(c.channel);
}

int HoldTraceView::plotHeight() const
{
    return std::max(10, height() - kTopMargin - kLabelHeight);
}

int HoldTraceView::yOf(double dBm) const
{
    const double f = (kTopDbm - std::clamp(dBm, double(kBottomDbm), double(kTopDbm))) / (kTopDbm - kBottomDbm);
    return kTopMargin + int(f * (plotHeight() - 1) + 0.5);
}

int HoldTraceView::xOf(int column) const
{
    const HistorySection* s = m_history.newestSection();
    int width = std::max(1, this->width() - kAxis - WaterfallGeometry::kRightMargin);
    if (s && s->kind == SampleReport::Kind::Single)
        width = WaterfallGeometry::singleStripWidth(width);
    return kAxis + int(WaterfallGeometry(width, s ? int(s->columns.size()) : 1).centre(column));
}

void HoldTraceView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect plot = plotRect();
    const int width = plot.width();
    // A repaint of the plot alone, as the traces move, lays out none of the
    // text around it: that would all be clipped away.
    const bool surroundings = !plot.contains(event->rect());
    if (surroundings)
        p.fillRect(rect(), QColor(0xF0, 0xF0, 0xF0));
    // The plot without traces: white, the dBm scale's lines and the frame,
    // drawn once per size and copied in one blit.
    const qreal dpr = devicePixelRatioF();
    if (m_plotPicture.size() != plot.size() * dpr || m_plotPicture.devicePixelRatio() != dpr) {
        m_plotPicture = QImage(plot.size() * dpr, QImage::Format_RGB32);
        m_plotPicture.setDevicePixelRatio(dpr);
        m_plotPicture.fill(Qt::white);
        QPainter b(&m_plotPicture);
        b.translate(-plot.topLeft());
        b.setPen(QColor(0xC8, 0xC8, 0xC8));
        for (int dBm = kBottomDbm; dBm <= kTopDbm; dBm += kScaleStep)
            b.drawLine(plot.left(), yOf(dBm), plot.right(), yOf(dBm));
        b.setPen(Qt::black);
        b.drawRect(plot.adjusted(0, 0, -1, -1));
    }
    p.drawImage(plot.topLeft(), m_plotPicture);
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);

    // The dBm scale's values.
    p.setPen(Qt::black);
    if (surroundings)
        for (int dBm = kBottomDbm; dBm <= kTopDbm; dBm += kScaleStep)
            p.drawText(QRect(0, yOf(dBm) - 6, kAxis - 4, 12), Qt::AlignRight | Qt::AlignVCenter, QString::number(dBm));

    // The key.
    int keyX = plot.left();
    for (auto [colour, text] : {std::pair{kMaxColour, QStringLiteral("Max hold")},
                                std::pair{kMinColour, QStringLiteral("Min hold")},
                                std::pair{kAverageColour, QStringLiteral("Average")}}) {
        if (surroundings) {
            p.fillRect(keyX, 4, 14, 8, colour);
            p.setPen(Qt::black);
            p.drawText(keyX + 18, 0, 80, 14, Qt::AlignLeft | Qt::AlignVCenter, text);
        }
        keyX += 90;
    }

    const HistorySection* s = m_history.newestSection();
    m_shownRows = traceRows();
    if (!s)
        return;
    const int n = int(s->columns.size());
    const int traceWidth = s->kind == SampleReport::Kind::Single ? WaterfallGeometry::singleStripWidth(width) : width;
    const WaterfallGeometry g(traceWidth, n);

    // Each column's hold as a flat step across its width, so a lone channel
    // of a scan list reads as a level, not a spike to its neighbours.
    auto trace = [&](const QColor& colour, auto value) {
        QPainterPath path;
        bool open = false;
        for (int c = 0; c < n; ++c) {
            if (s->count[std::size_t(c)] == 0) {
                open = false;
                continue;
            }
            const double left = plot.left() + double(c) * traceWidth / n;
            const double right = plot.left() + double(c + 1) * traceWidth / n;
            const double y = yOf(value(std::size_t(c)));
            if (!open)
                path.moveTo(left, y);
            else
                path.lineTo(left, y);
            path.lineTo(right, y);
            open = true;
        }
        p.setPen(QPen(colour, 2));
        p.drawPath(path);
    };
    p.setClipRect(plot);
    trace(kMinColour, [&](std::size_t c) { return double(s->minHold[c]); });
    trace(kAverageColour, [&](std::size_t c) { return s->average(c); });
    trace(kMaxColour, [&](std::size_t c) { return double(s->maxHold[c]); });
    p.setClipping(false);

    // Column labels, written upwards as the bar graph's, as many as fit.
    if (!surroundings)
        return;
    p.setPen(Qt::black);
    const int stride = g.labelStride(14);
    for (int c = 0; c < n; c += stride) {
        const int x = plot.left() + int(g.centre(c));
        p.save();
        p.translate(x + 5, height() - 2);
        p.rotate(-90);
        p.drawText(QRect(0, -12, kLabelHeight - 6, 14), Qt::AlignLeft | Qt::AlignVCenter, label(c));
        p.restore();
    }
}
