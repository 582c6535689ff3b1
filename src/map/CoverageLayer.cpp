#include "CoverageLayer.h"

#include "MapViewport.h"
#include "TileMath.h"
#include "protocol/RssiPalette.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace {
// Count is coloured on a log scale over this many palette steps.
constexpr int kCountSteps = 1000;
}

void CoverageLayer::setCells(std::vector<CoverageMapReader::Cell> cells)
{
    m_cells = std::move(cells);
    update();
}

void CoverageLayer::setFigure(Figure figure)
{
    // A choice that stays costs nothing: a map's cells run to hundreds of thousands.
    if (m_figure == figure)
        return;
    m_figure = figure;
    update();
}

void CoverageLayer::setReceiver(int receiver)
{
    if (m_receiver == receiver)
        return;
    m_receiver = receiver;
    update();
}

void CoverageLayer::setFrequency(double mhz)
{
    if (m_frequency == mhz)
        return;
    m_frequency = mhz;
    update();
}

QString CoverageLayer::figureName(Figure figure)
{
    switch (figure) {
    case Figure::Median: return QStringLiteral("Median");
    case Figure::P10: return QStringLiteral("10th percentile");
    case Figure::P90: return QStringLiteral("90th percentile");
    case Figure::Count: return QStringLiteral("Count");
    }
    return {};
}

int CoverageLayer::valueOf(const CoverageMapReader::Cell& c) const
{
    switch (m_figure) {
    case Figure::Median: return c.figures.median;
    case Figure::P10: return c.figures.p10;
    case Figure::P90: return c.figures.p90;
    case Figure::Count: return int(std::min<uint64_t>(c.figures.count, uint64_t(INT32_MAX)));
    }
    return 0;
}

bool CoverageLayer::passes(const CoverageMapReader::Cell& c) const
{
    // Frequencies are stored as the receiver's step arithmetic gives them;
    // half a kilohertz is below every step.
    return (m_receiver == 0 || c.receiver == m_receiver)
           && (m_frequency == 0 || std::fabs(c.frequencyMHz - m_frequency) < 0.0005);
}

void CoverageLayer::update()
{
    m_shown.clear();
    m_maxCount = 0;
    std::unordered_map<int64_t, size_t> at;
    for (const auto& c : m_cells) {
        if (!passes(c))
            continue;
        const int v = valueOf(c);
        m_maxCount = std::max<uint64_t>(m_maxCount, c.figures.count);
        const auto [it, fresh] = at.try_emplace(c.cellKey, m_shown.size());
        if (fresh)
            m_shown.push_back({c.bounds, v});
        else
            m_shown[it->second].value = std::max(m_shown[it->second].value, v);
    }
}

std::vector<double> CoverageLayer::frequencies() const
{
    std::vector<double> f;
    for (const auto& c : m_cells)
        f.push_back(c.frequencyMHz);
    std::sort(f.begin(), f.end());
    f.erase(std::unique(f.begin(), f.end()), f.end());
    return f;
}

QRectF CoverageLayer::worldBounds() const
{
    QRectF r;
    for (const auto& c : m_cells) {
        const QPointF a = TileMath::worldFromGeo(c.bounds.north, c.bounds.west);
        const QPointF b = TileMath::worldFromGeo(c.bounds.south, c.bounds.east);
        r = r.isNull() ? QRectF(a, b) : r.united(QRectF(a, b));
    }
    return r;
}

QRgb CoverageLayer::colour(int value, const RssiPalette& palette) const
{
    if (m_figure != Figure::Count)
        return palette.argb(value);
    const double t = m_maxCount > 1 ? std::log(double(value)) / std::log(double(m_maxCount)) : 1.0;
    return RssiPalette(0, kCountSteps).argb(int(std::lround(std::clamp(t, 0.0, 1.0) * kCountSteps)));
}

void CoverageLayer::draw(QPainter& p, const MapViewport& viewport, const RssiPalette& palette) const
{
    const QRectF view(QPointF(0, 0), viewport.size());
    p.save();
    p.setPen(Qt::NoPen);
    for (const Shown& s : m_shown) {
        const QRectF r(viewport.screenFromWorld(TileMath::worldFromGeo(s.bounds.north, s.bounds.west)),
                       viewport.screenFromWorld(TileMath::worldFromGeo(s.bounds.south, s.bounds.east)));
        if (!r.intersects(view))
            continue;
        QColor c = QColor::fromRgb(colour(s.value, palette));
        c.setAlpha(190); // the streets still show through
        // At least a pixel, so a zoomed-out map still shows where was driven.
        p.fillRect(r.width() < 1 || r.height() < 1 ? QRectF(r.topLeft(), QSizeF(1, 1)) : r, c);
    }
    p.restore();
}

QString CoverageLayer::describeAt(double latitude, double longitude) const
{
    std::vector<const CoverageMapReader::Cell*> here;
    for (const auto& c : m_cells)
        if ((m_receiver == 0 || c.receiver == m_receiver) && latitude >= c.bounds.south && latitude < c.bounds.north
            && longitude >= c.bounds.west && longitude < c.bounds.east)
            here.push_back(&c);
    std::sort(here.begin(), here.end(), [](const auto* a, const auto* b) {
        return std::tie(a->frequencyMHz, a->receiver) < std::tie(b->frequencyMHz, b->receiver);
    });
    QStringList lines;
    for (const auto* c : here)
        lines << QStringLiteral("%1 MHz R%2: median %3 dBm, 10% %4, 90% %5, %6 to %7 dBm, mean %8 dBm, %9 samples, %10 drives")
                     .arg(c->frequencyMHz, 0, 'f', 4)
                     .arg(c->receiver)
                     .arg(c->figures.median)
                     .arg(c->figures.p10)
                     .arg(c->figures.p90)
                     .arg(c->figures.minimum)
                     .arg(c->figures.maximum)
                     .arg(c->figures.mean, 0, 'f', 1)
                     .arg(c->figures.count)
                     .arg(c->drives);
    return lines.join(QLatin1Char('\n'));
}
