#include "ReportCharts.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
// Plot area inside the image, logical pixels: room for the tick labels on
// the left and below, and for the threshold's label above.
constexpr double kLeft = 52;
constexpr double kRight = 14;
constexpr double kTop = 40;        // two text lines: the y axis's title, then the threshold's label
constexpr double kBottom = 40;
const QColor kBar(70, 110, 170);
const QColor kAxis(40, 40, 40);
const QColor kGridLine(225, 225, 225);
const QColor kThreshold(0, 0, 0);

struct Frame
{
    QImage image;
    QRectF plot;
    int lowDbm = 0;  // x axis, whole dBm
    int highDbm = 0;
};

// A round step for about `wanted` ticks over `span`: 1, 2 or 5 × 10^n.
double tickStep(double span, int wanted)
{
    const double raw = std::max(span / wanted, 1e-9);
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0})
        if (f * decade >= raw)
            return f * decade;
    return 10 * decade;
}

QFont chartFont()
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(11);
    return f;
}

// Values a chart can place: a tile value is a level a receiver reports, never
// beyond these, and anything else would ask for bins without end.
std::vector<double> plottable(const std::vector<double>& values)
{
    std::vector<double> out;
    out.reserve(values.size());
    for (double v : values)
        if (std::isfinite(v) && v > -300 && v < 100)
            out.push_back(v);
    return out;
}

Frame frame(const std::vector<double>& values, double threshold, QSize size, double ratio)
{
    Frame fr;
    fr.image = QImage((QSizeF(size) * ratio).toSize(), QImage::Format_RGB32);
    fr.image.setDevicePixelRatio(ratio);
    fr.image.fill(Qt::white);
    fr.plot = QRectF(kLeft, kTop, size.width() - kLeft - kRight, size.height() - kTop - kBottom);
    const double t = std::isfinite(threshold) ? std::clamp(threshold, -300.0, 100.0) : -100.0;
    double low = t, high = t;
    for (double v : values) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    // A little room either side so the outer bins and the threshold line clear the axes.
    fr.lowDbm = ReportCharts::binOf(low) - 2;
    fr.highDbm = ReportCharts::binOf(high) + 3;
    return fr;
}

double xOf(const Frame& fr, double dbm)
{
    return fr.plot.left() + (dbm - fr.lowDbm) / double(fr.highDbm - fr.lowDbm) * fr.plot.width();
}

void drawAxes(QPainter& p, const Frame& fr, double yMax, const QString& yTitle, bool percent)
{
    const QFontMetricsF fm(p.font());
    // Tiles come whole: no tick between two counts.
    const double yStep = percent ? tickStep(yMax, 5) : std::max(1.0, tickStep(yMax, 5));
    p.setPen(QPen(kGridLine, 1));
    for (double y = 0; y <= yMax + 1e-9; y += yStep) {
        const double py = fr.plot.bottom() - y / yMax * fr.plot.height();
        p.setPen(QPen(kGridLine, 1));
        p.drawLine(QPointF(fr.plot.left(), py), QPointF(fr.plot.right(), py));
        p.setPen(kAxis);
        const QString text = percent ? QStringLiteral("%1 %").arg(y, 0, 'g', 4) : QString::number(y, 'g', 6);
        p.drawText(QRectF(0, py - fm.height() / 2, kLeft - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter, text);
    }
    const double xStep = std::max(1.0, tickStep(fr.highDbm - fr.lowDbm, 8));
    p.setPen(QPen(kAxis, 1));
    for (double x = std::ceil(fr.lowDbm / xStep) * xStep; x <= fr.highDbm; x += xStep) {
        const double px = xOf(fr, x);
        p.drawLine(QPointF(px, fr.plot.bottom()), QPointF(px, fr.plot.bottom() + 4));
        p.drawText(QRectF(px - 30, fr.plot.bottom() + 5, 60, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                   QString::number(x, 'g', 6));
    }
    p.drawLine(fr.plot.bottomLeft(), fr.plot.bottomRight());
    p.drawLine(fr.plot.bottomLeft(), fr.plot.topLeft());
    p.drawText(QRectF(fr.plot.left(), fr.plot.bottom() + 6 + fm.height(), fr.plot.width(), fm.height()),
               Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Tile value, dBm"));
    p.drawText(QRectF(4, 4, fr.plot.width(), fm.height()), Qt::AlignLeft | Qt::AlignTop, yTitle);
}

void drawThreshold(QPainter& p, const Frame& fr, double threshold)
{
    const double x = xOf(fr, threshold);
    p.setPen(QPen(kThreshold, 1.5, Qt::DashLine));
    p.drawLine(QPointF(x, fr.plot.top() - 4), QPointF(x, fr.plot.bottom()));
    const QString text = QStringLiteral("threshold %1 dBm").arg(threshold, 0, 'g', 6);
    const QFontMetricsF fm(p.font());
    const double w = fm.horizontalAdvance(text) + 4;
    // Beside the line, on whichever side has room.
    const double left = x + w + 4 <= fr.plot.right() ? x + 4 : x - 4 - w;
    p.setPen(kThreshold);
    p.drawText(QRectF(left, fr.plot.top() - 4 - fm.height(), w, fm.height()), Qt::AlignCenter, text);
}

void drawNothingTested(QPainter& p, const Frame& fr)
{
    p.setPen(kAxis);
    p.drawText(fr.plot, Qt::AlignCenter, QStringLiteral("No tile was tested"));
}
} // namespace

int ReportCharts::binOf(double dbm)
{
    return int(std::floor(dbm));
}

QImage ReportCharts::histogram(const std::vector<double>& all, double threshold, QSize size, double ratio)
{
    const std::vector<double> values = plottable(all);
    Frame fr = frame(values, threshold, size, ratio);
    std::vector<uint64_t> bins(size_t(fr.highDbm - fr.lowDbm), 0);
    for (double v : values)
        ++bins[size_t(binOf(v) - fr.lowDbm)];
    const uint64_t most = values.empty() ? 1 : *std::max_element(bins.begin(), bins.end());
    // Headroom over the tallest bar, to a round tick.
    const double step = std::max(1.0, tickStep(double(most) * 1.1, 5));
    const double yMax = step * std::ceil(double(most) * 1.1 / step);

    QPainter p(&fr.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(chartFont());
    drawAxes(p, fr, yMax, QStringLiteral("Tiles per 1 dB"), false);
    p.setPen(QPen(Qt::white, 0.5));
    p.setBrush(kBar);
    for (size_t i = 0; i < bins.size(); ++i) {
        if (bins[i] == 0)
            continue;
        const double x0 = xOf(fr, fr.lowDbm + double(i)), x1 = xOf(fr, fr.lowDbm + double(i) + 1);
        const double h = double(bins[i]) / yMax * fr.plot.height();
        p.drawRect(QRectF(x0, fr.plot.bottom() - h, x1 - x0, h));
    }
    if (values.empty())
        drawNothingTested(p, fr);
    drawThreshold(p, fr, threshold);
    return fr.image;
}

QImage ReportCharts::cumulative(const std::vector<double>& all, double threshold, QSize size, double ratio)
{
    std::vector<double> sorted = plottable(all);
    Frame fr = frame(sorted, threshold, size, ratio);
    std::sort(sorted.begin(), sorted.end());

    QPainter p(&fr.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(chartFont());
    drawAxes(p, fr, 100, QStringLiteral("Tested tiles at or below, %"), true);
    if (!sorted.empty()) {
        // A step at each value: the share of tiles at or below it.
        const double n = double(sorted.size());
        auto yOf = [&](double share) { return fr.plot.bottom() - share * fr.plot.height(); };
        QPainterPath path(QPointF(fr.plot.left(), yOf(0)));
        double share = 0;
        for (size_t i = 0; i < sorted.size(); ++i) {
            const double x = xOf(fr, sorted[i]);
            path.lineTo(x, yOf(share));
            while (i + 1 < sorted.size() && sorted[i + 1] == sorted[i])
                ++i;
            share = double(i + 1) / n;
            path.lineTo(x, yOf(share));
        }
        path.lineTo(fr.plot.right(), yOf(1));
        p.setPen(QPen(kBar, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    } else {
        drawNothingTested(p, fr);
    }
    drawThreshold(p, fr, threshold);
    return fr.image;
}
