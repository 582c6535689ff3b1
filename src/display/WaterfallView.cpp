#include "WaterfallView.h"

#include "display/ScanHistory.h"
#include "display/WaterfallGeometry.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>

namespace {

constexpr QRgb kBackground = 0xFFF0F0F0;
constexpr QRgb kNoData = 0xFF404040;
constexpr QRgb kDivider = 0xFFFFFFFF;
constexpr QRgb kAxisText = 0xFF000000;
constexpr int kRowHeight = WaterfallGeometry::kRowHeight;
constexpr int kAxis = WaterfallGeometry::kAxisWidth;
constexpr int kTimeLabelHeight = 12; // px

QString clockText(int64_t utcMs, bool withMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs).toLocalTime();
    return t.toString(withMs ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
}

} // namespace

WaterfallView::WaterfallView(const ScanHistory& history, QWidget* parent)
    : QWidget(parent)
    , m_history(history)
{
    // Every pixel comes from the image, so Qt may scroll what is on the
    // screen instead of asking for all of it again.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(kAxis + WaterfallGeometry::kRightMargin + 100, 120);
    fillColours();
}

void WaterfallView::fillColours()
{
    for (int i = 0; i < 256; ++i)
        m_colours[std::size_t(i)] = m_palette.argb(i - 128);
}

void WaterfallView::setPalette(const RssiPalette& palette)
{
    if (palette == m_palette)
        return;
    m_palette = palette;
    fillColours();
    if (!m_image.isNull())
        rebuild();
}

QRgb WaterfallView::colourOf(int level) const
{
    if (level == ScanHistory::kNoLevel)
        return kNoData;
    return m_colours[std::size_t(std::clamp(level, -128, 127) + 128)];
}

QRgb WaterfallView::noDataColour()
{
    return kNoData;
}

int WaterfallView::plotWidth() const
{
    return std::max(1, width() - kAxis - WaterfallGeometry::kRightMargin);
}

int WaterfallView::sectionWidth(const HistorySection& s) const
{
    return s.kind == SampleReport::Kind::Single ? WaterfallGeometry::singleStripWidth(plotWidth()) : plotWidth();
}

int WaterfallView::visibleRows() const
{
    return (height() + kRowHeight - 1) / kRowHeight;
}

int WaterfallView::maxScrollBack() const
{
    const uint64_t rows = m_history.endRow() - m_history.firstRow();
    return int(std::min<uint64_t>(INT32_MAX, rows > uint64_t(visibleRows()) ? rows - uint64_t(visibleRows()) : 0));
}

int WaterfallView::scrollBack() const
{
    return int(std::min<uint64_t>(INT32_MAX, m_history.endRow() - std::min(m_topEnd, m_history.endRow())));
}

void WaterfallView::setScrollBack(int rows)
{
    rows = std::clamp(rows, 0, maxScrollBack());
    m_follow = rows == 0;
    m_topEnd = m_history.endRow() - uint64_t(rows);
    rebuild();
}

void WaterfallView::rebuild()
{
    if (m_image.size() != size())
        m_image = QImage(size(), QImage::Format_RGB32);
    m_image.fill(kBackground);
    m_origin = 0;
    m_unrolled = QImage();
    m_unrolledValid = false;
    if (m_follow || m_topEnd > m_history.endRow())
        m_topEnd = m_history.endRow();
    m_topEnd = std::max(m_topEnd, std::min(m_history.endRow(), m_history.firstRow() + uint64_t(visibleRows())));
    m_levelsRow = UINT64_MAX;
    const uint64_t end = m_topEnd;
    const uint64_t first = std::max(m_history.firstRow(), end > uint64_t(visibleRows()) ? end - visibleRows() : 0);
    // Oldest first: a clock time reaches down over older rows' axis, and a
    // newer row must not wipe it.
    for (uint64_t n = first; n < end; ++n)
        drawRow(n, int(end - 1 - n) * kRowHeight);
    liftBottomTimeLabels();
    update();
    emit scrollRangeChanged();
}

void WaterfallView::rowsAdded()
{
    const uint64_t end = m_history.endRow();
    if (!m_follow) {
        // The rows shown stay until they leave the history.
        if (m_topEnd < m_history.firstRow() + uint64_t(visibleRows()))
            rebuild();
        emit scrollRangeChanged();
        return;
    }
    if (end <= m_topEnd || m_image.isNull())
        return;
    const uint64_t added = end - m_topEnd;
    if (added >= uint64_t(visibleRows()) || m_image.size() != size()) {
        rebuild();
        return;
    }
    const int shift = int(added) * kRowHeight;
    // The picture moves down with the rows by moving the ring's origin up:
    // the oldest lines, now off the bottom, take the new rows, and nothing
    // else is copied.
    m_origin = (m_origin + m_image.height() - shift) % m_image.height();
    m_unrolled = QImage();
    m_unrolledValid = false;
    const uint64_t from = m_topEnd;
    m_topEnd = end;
    for (uint64_t n = from; n < end; ++n)
        drawRow(n, int(end - 1 - n) * kRowHeight);
    scroll(0, shift);
    // A new clock time reaches down over rows already on the screen.
    update(QRect(0, 0, kAxis, shift + kTimeLabelHeight));
    if (liftBottomTimeLabels())
        update(QRect(0, height() - 2 * kTimeLabelHeight, kAxis, 2 * kTimeLabelHeight));
    emit scrollRangeChanged();
}

int WaterfallView::ringLine(int y) const
{
    return (m_origin + y) % m_image.height();
}

const QImage& WaterfallView::image() const
{
    if (m_origin == 0)
        return m_image;
    if (!m_unrolledValid) {
        m_unrolled = QImage(m_image.size(), m_image.format());
        const std::size_t bytes = std::size_t(m_image.bytesPerLine());
        for (int y = 0; y < m_image.height(); ++y)
            std::memcpy(m_unrolled.scanLine(y), m_image.constScanLine(ringLine(y)), bytes);
        m_unrolledValid = true;
    }
    return m_unrolled;
}

void WaterfallView::mapColumns(const HistorySection& s, int width)
{
    const int columns = int(s.columns.size());
    if (width == m_columnsWidth && columns == m_columnsCount)
        return;
    m_columnsWidth = width;
    m_columnsCount = columns;
    const WaterfallGeometry g(width, columns);
    m_runs.clear();
    for (int x = 0; x < width; ++x) {
        const int first = g.firstColumnAt(x), last = g.lastColumnAt(x);
        if (!m_runs.empty() && m_runs.back().firstColumn == first && m_runs.back().lastColumn == last)
            m_runs.back().right = x + 1;
        else
            m_runs.push_back({x, x + 1, first, last});
    }
}

void WaterfallView::drawRow(uint64_t n, int y)
{
    const int height = m_image.height();
    if (y < 0 || y >= height)
        return;
    const HistorySection& s = m_history.sectionOf(n);
    if (s.firstRow != m_levelsSection || m_levelsRow == UINT64_MAX || n != m_levelsRow + 1) {
        m_levels = m_history.levelsAt(n);
    } else {
        m_history.apply(n, m_levels);
    }
    m_levelsSection = s.firstRow;
    m_levelsRow = n;

    const int width = sectionWidth(s);
    mapColumns(s, width);
    auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(ringLine(y)));
    std::fill(line, line + m_image.width(), kBackground);
    const int right = std::min(m_image.width(), kAxis + width);
    for (const PixelRun& run : m_runs) {
        if (kAxis + run.left >= right)
            break;
        int level = ScanHistory::kNoLevel;
        for (int c = run.firstColumn; c <= run.lastColumn; ++c)
            level = std::max(level, m_levels[std::size_t(c)]);
        std::fill(line + kAxis + run.left, line + std::min(right, kAxis + run.right), colourOf(level));
    }
    for (int k = 1; k < kRowHeight && y + k < height; ++k)
        std::memcpy(m_image.scanLine(ringLine(y + k)), line, std::size_t(m_image.bytesPerLine()));
    // A new section's first row: a line under it, between its channels and the old ones.
    if (n == s.firstRow && n > m_history.firstRow()) {
        auto* bottom = reinterpret_cast<QRgb*>(m_image.scanLine(ringLine(std::min(y + kRowHeight - 1, height - 1))));
        std::fill(bottom, bottom + right, kDivider);
    }
    if (WaterfallGeometry::hasTimeLabel(n))
        drawTimeLabel(n, y, false);
}

void WaterfallView::drawTimeLabel(uint64_t n, int y, bool above)
{
    // The label's lines lie in the ring in one piece or, across its end, two:
    // each is drawn through a clip with the painter moved to where its piece
    // lies. Below its tick as a rule; above it where below would run past
    // the widget's bottom, under the colour key.
    const int height = m_image.height();
    const int from = above ? std::max(0, y - kTimeLabelHeight + 1) : y;
    const int to = std::min(above ? y + 1 : y + kTimeLabelHeight, height);
    const QRect textRect(0, above ? y + 1 - kTimeLabelHeight : y, kAxis - 6, kTimeLabelHeight);
    QPainter p(&m_image);
    p.setPen(QColor::fromRgb(kAxisText));
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    const QString text = clockText(m_history.row(n).utcMs, false);
    for (int top = from; top < to;) {
        const int at = ringLine(top);
        const int lines = std::min(to - top, height - at);
        // The clip is set before the move: it is in the ring's lines.
        p.resetTransform();
        p.setClipRect(QRect(0, at, kAxis, lines));
        p.translate(0, at - top);
        p.drawLine(kAxis - 5, y, kAxis - 1, y);
        p.drawText(textRect, Qt::AlignRight | (above ? Qt::AlignBottom : Qt::AlignTop), text);
        top += lines;
    }
}

// A label whose text below its tick would run past the widget's bottom
// (under the colour key) is written above its tick, and stays there as its
// row scrolls out: whole pictures and live scrolling draw the same, as a
// label's rule depends on nothing but where its row is.
bool WaterfallView::liftBottomTimeLabels()
{
    const int height = m_image.height();
    bool drawn = false;
    for (int y = std::max(0, height - kTimeLabelHeight + 1); y < height + kTimeLabelHeight - 1; ++y) {
        const uint64_t back = uint64_t(y / kRowHeight);
        if (y % kRowHeight != 0)
            continue;
        if (back >= m_topEnd || m_topEnd - 1 - back < m_history.firstRow())
            break;
        const uint64_t n = m_topEnd - 1 - back;
        if (!WaterfallGeometry::hasTimeLabel(n))
            continue;
        // The cut-off text below the tick goes.
        for (int k = y; k < height; ++k) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(ringLine(k)));
            std::fill(line, line + std::min(kAxis, m_image.width()), kBackground);
        }
        drawTimeLabel(n, y, true);
        drawn = true;
    }
    return drawn;
}

bool WaterfallView::rowAt(int y, uint64_t& row) const
{
    if (y < 0 || y >= height())
        return false;
    const uint64_t back = uint64_t(y / kRowHeight);
    const uint64_t end = m_topEnd;
    if (back >= end - std::min(end, m_history.firstRow()))
        return false;
    row = end - 1 - back;
    return row >= m_history.firstRow() && row < m_history.endRow();
}

QPoint WaterfallView::cellCentre(uint64_t row, int column) const
{
    const uint64_t end = m_topEnd;
    if (row >= end || end - 1 - row >= uint64_t(visibleRows()) || row < m_history.firstRow())
        return {-1, -1};
    const HistorySection& s = m_history.sectionOf(row);
    const WaterfallGeometry g(sectionWidth(s), int(s.columns.size()));
    if (column < 0 || column >= g.columns())
        return {-1, -1};
    return {kAxis + int(g.centre(column)), int(end - 1 - row) * kRowHeight};
}

const HistorySection* WaterfallView::shownSection() const
{
    if (m_history.empty() || m_topEnd <= m_history.firstRow())
        return nullptr;
    return &m_history.sectionOf(std::min(m_topEnd, m_history.endRow()) - 1);
}

WaterfallGeometry WaterfallView::geometryOf(const HistorySection& s) const
{
    return WaterfallGeometry(sectionWidth(s), int(s.columns.size()));
}

QString WaterfallView::readout(QPoint p) const
{
    uint64_t n = 0;
    if (!rowAt(p.y(), n))
        return {};
    const HistorySection& s = m_history.sectionOf(n);
    const int column = WaterfallGeometry(sectionWidth(s), int(s.columns.size())).columnAt(p.x() - kAxis);
    if (column < 0)
        return {};
    const int level = m_history.levelAt(n, column);
    const HistorySection::Column& c = s.columns[std::size_t(column)];
    return QStringLiteral("Channel %1  %2 MHz  %3  %4")
        .arg(c.channel)
        .arg(c.mhz, 0, 'f', 4)
        .arg(clockText(m_history.row(n).utcMs, true))
        .arg(level == ScanHistory::kNoLevel ? QStringLiteral("no reading") : QStringLiteral("%1 dBm").arg(level));
}

QRegion WaterfallView::takePainted()
{
    QRegion painted = m_painted;
    m_painted = QRegion();
    return painted;
}

void WaterfallView::paintEvent(QPaintEvent* event)
{
    m_painted += event->region();
    QPainter p(this);
    if (m_image.isNull()) {
        p.fillRect(event->rect(), QColor::fromRgb(kBackground));
        return;
    }
    // Clipped to the one rectangle being copied, each copy is a blit, not
    // a blend span by span under the region's clip.
    for (const QRect& r : event->region())
        paintFromRing(p, r & m_image.rect());
}

void WaterfallView::paintFromRing(QPainter& p, const QRect& r) const
{
    if (r.isEmpty())
        return;
    p.setClipRect(r);
    const int at = ringLine(r.top());
    const int first = std::min(r.height(), m_image.height() - at);
    p.drawImage(r.topLeft(), m_image, QRect(r.left(), at, r.width(), first));
    if (first < r.height())
        p.drawImage(QPoint(r.left(), r.top() + first), m_image, QRect(r.left(), 0, r.width(), r.height() - first));
}

void WaterfallView::resizeEvent(QResizeEvent*)
{
    rebuild();
}

void WaterfallView::mouseMoveEvent(QMouseEvent* event)
{
    const QString text = readout(event->position().toPoint());
    emit pointed(text);
}

void WaterfallView::leaveEvent(QEvent*)
{
    emit pointed(QString());
}

void WaterfallView::wheelEvent(QWheelEvent* event)
{
    // A notch moves a time label's worth of rows; up goes back in time.
    const int notches = event->angleDelta().y() / 120;
    setScrollBack(scrollBack() + notches * WaterfallGeometry::kRowsPerTimeLabel);
    event->accept();
}
