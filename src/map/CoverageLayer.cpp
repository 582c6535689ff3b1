#include "CoverageLayer.h"

#include "MapViewport.h"
#include "TileMath.h"
#include "coverage/CoverageCells.h"
#include "protocol/RssiPalette.h"

#include <QDateTime>
#include <QPainter>
#include <QTimeZone>

#include <algorithm>
#include <climits>
#include <optional>
#include <cmath>
#include <tuple>
#include <unordered_map>

namespace {
// Count is coloured on a log scale over this many palette steps.
constexpr int kCountSteps = 1000;
// The selected cell's outline: a dark line with a light one inside shows on
// every colour of the palette and on the base map; a cell smaller than the
// mark on screen is marked around its centre.
constexpr double kOutlineDark = 3, kOutlineLight = 1, kSmallestMark = 8;

QString utc(int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
} // namespace

void CoverageLayer::setCells(std::vector<CoverageMapReader::Cell> cells)
{
    m_cells = std::move(cells);
    m_selected = false;
    m_at.clear();
    m_rowsAt.clear();
    update();
    summarise();
}

CoverageLayer::CellId CoverageLayer::idOf(const CoverageMapReader::Cell& c)
{
    return {c.cellKey, CoverageCells::frequencyKey(c.frequencyMHz), c.receiver};
}

void CoverageLayer::index()
{
    m_at.clear();
    m_rowsAt.clear();
    for (size_t i = 0; i < m_cells.size(); ++i) {
        m_at[idOf(m_cells[i])] = i;
        m_rowsAt[m_cells[i].cellKey].push_back(i);
    }
    m_shownAt.clear();
    for (size_t i = 0; i < m_shown.size(); ++i)
        m_shownAt[m_shown[i].key] = i;
}

bool CoverageLayer::updateCells(const std::vector<CoverageMapReader::Cell>& cells)
{
    if (m_at.size() != m_cells.size())
        index();
    bool newFrequency = false;
    std::vector<int64_t> places;
    places.reserve(cells.size());
    for (const CoverageMapReader::Cell& c : cells) {
        const CellId id = idOf(c);
        uint64_t before = 0;
        if (const auto it = m_at.find(id); it != m_at.end()) {
            before = m_cells[it->second].figures.count;
            m_cells[it->second] = c;
        } else {
            // A place new to this frequency counts as a cell of it once,
            // whichever receiver came first.
            const CellId other{id.cell, id.frequency, 3 - id.receiver};
            const bool placeKnown = m_at.count(other) > 0;
            m_at[id] = m_cells.size();
            m_rowsAt[c.cellKey].push_back(m_cells.size());
            m_cells.push_back(c);
            auto s = std::lower_bound(m_summaries.begin(), m_summaries.end(), c.frequencyMHz,
                                      [](const FrequencySummary& f, double mhz) { return f.mhz < mhz; });
            if (s == m_summaries.end() || s->mhz != c.frequencyMHz) {
                s = m_summaries.insert(s, {c.frequencyMHz, 0, 0});
                newFrequency = true;
            }
            s->cells += !placeKnown;
        }
        auto s = std::lower_bound(m_summaries.begin(), m_summaries.end(), c.frequencyMHz,
                                  [](const FrequencySummary& f, double mhz) { return f.mhz < mhz; });
        s->samples += c.figures.count - before;
        places.push_back(c.cellKey);
    }
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    for (int64_t place : places)
        reshow(place);
    return newFrequency;
}

// The shown value of one place again, from its rows alone.
void CoverageLayer::reshow(int64_t cellKey)
{
    std::optional<int> value;
    const CoverageGrid::Bounds* bounds = nullptr;
    for (size_t i : m_rowsAt[cellKey]) {
        const CoverageMapReader::Cell& c = m_cells[i];
        if (!passes(c))
            continue;
        m_maxCount = std::max<uint64_t>(m_maxCount, c.figures.count);
        value = std::max(value.value_or(INT_MIN), valueOf(c));
        bounds = &c.bounds;
    }
    const auto at = m_shownAt.find(cellKey);
    if (!value) {
        // A place keeps its rows as they grow: it never stops passing.
        return;
    }
    if (at != m_shownAt.end()) {
        m_shown[at->second].value = *value;
    } else {
        m_shownAt[cellKey] = m_shown.size();
        m_shown.push_back({*bounds, *value, cellKey});
    }
}

void CoverageLayer::summarise()
{
    // Runs where the map is read, off the window: one sort of the rows.
    std::vector<std::tuple<double, int64_t, uint64_t>> rows; // MHz, cell, samples
    rows.reserve(m_cells.size());
    for (const auto& c : m_cells)
        rows.emplace_back(c.frequencyMHz, c.cellKey, c.figures.count);
    std::sort(rows.begin(), rows.end());
    m_summaries.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [mhz, cell, samples] = rows[i];
        if (m_summaries.empty() || m_summaries.back().mhz != mhz)
            m_summaries.push_back({mhz, 0, 0});
        m_summaries.back().samples += samples;
        m_summaries.back().cells += i == 0 || std::get<0>(rows[i - 1]) != mhz || std::get<1>(rows[i - 1]) != cell;
    }
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
            m_shown.push_back({c.bounds, v, c.cellKey});
        else
            m_shown[it->second].value = std::max(m_shown[it->second].value, v);
    }
    if (!m_at.empty())
        m_shownAt.swap(at);
}

std::vector<double> CoverageLayer::frequencies() const
{
    std::vector<double> f;
    f.reserve(m_summaries.size());
    for (const FrequencySummary& s : m_summaries)
        f.push_back(s.mhz);
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
    if (m_selected)
        drawSelection(p, viewport);
}

void CoverageLayer::drawSelection(QPainter& p, const MapViewport& viewport) const
{
    const CoverageGrid::Bounds& b = m_selectedBounds;
    QRectF r = QRectF(viewport.screenFromWorld(TileMath::worldFromGeo(b.north, b.west)),
                      viewport.screenFromWorld(TileMath::worldFromGeo(b.south, b.east)))
                   .normalized();
    if (r.width() < kSmallestMark || r.height() < kSmallestMark)
        r = QRectF(r.center() - QPointF(kSmallestMark, kSmallestMark) / 2, QSizeF(kSmallestMark, kSmallestMark));
    if (!r.adjusted(-kOutlineDark, -kOutlineDark, kOutlineDark, kOutlineDark).intersects(QRectF(QPointF(0, 0), viewport.size())))
        return;
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, kOutlineDark));
    p.drawRect(r);
    p.setPen(QPen(Qt::white, kOutlineLight));
    p.drawRect(r);
    p.restore();
}

QString CoverageLayer::describeAt(double latitude, double longitude) const
{
    std::vector<const CoverageMapReader::Cell*> here;
    for (const auto& c : m_cells)
        if ((m_receiver == 0 || c.receiver == m_receiver) && latitude >= c.bounds.south && latitude < c.bounds.north
            && longitude >= c.bounds.west && longitude < c.bounds.east)
            here.push_back(&c);
    return describe(std::move(here));
}

bool CoverageLayer::select(double latitude, double longitude)
{
    m_selected = false;
    for (const auto& c : m_cells)
        if (latitude >= c.bounds.south && latitude < c.bounds.north && longitude >= c.bounds.west
            && longitude < c.bounds.east) {
            m_selected = true;
            m_selectedKey = c.cellKey;
            m_selectedBounds = c.bounds;
            break;
        }
    return m_selected;
}

QString CoverageLayer::describeSelected() const
{
    if (!m_selected)
        return {};
    std::vector<const CoverageMapReader::Cell*> here;
    for (const auto& c : m_cells)
        if (c.cellKey == m_selectedKey && (m_receiver == 0 || c.receiver == m_receiver))
            here.push_back(&c);
    if (here.empty())
        return QStringLiteral("Not driven with R%1 here; choose Both to see what R%2 read.").arg(m_receiver).arg(3 - m_receiver);
    return describe(std::move(here));
}

QString CoverageLayer::describe(std::vector<const CoverageMapReader::Cell*> here) const
{
    std::sort(here.begin(), here.end(), [](const auto* a, const auto* b) {
        return std::tie(a->frequencyMHz, a->receiver) < std::tie(b->frequencyMHz, b->receiver);
    });
    // The row whose figure colours the cell under the current choices.
    const CoverageMapReader::Cell* shown = nullptr;
    for (const auto* c : here)
        if (passes(*c) && (!shown || valueOf(*c) > valueOf(*shown)))
            shown = c;
    QStringList lines;
    for (const auto* c : here) {
        QString line = QStringLiteral("%1 MHz R%2: median %3 dBm, 10% %4, 90% %5, %6 to %7 dBm, mean %8 dBm, %9 samples, %10 drives")
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
        if (c->firstMs || c->lastMs)
            line += QStringLiteral(", first %1, last %2 UTC").arg(utc(c->firstMs), utc(c->lastMs));
        if (c == shown && here.size() > 1)
            line += QStringLiteral(" (colours the cell)");
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}
