#include "LabelCache.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// A picture stands in for the text only where painting it is a plain copy:
// no scaling or turning, whole-pixel offsets, blended over what is there,
// and the hints the picture was drawn with.
bool plainPainter(const QPainter& p, QPainter::RenderHints pictureHints)
{
    const QTransform t = p.deviceTransform();
    return t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) && t.dy() == std::floor(t.dy())
        && p.compositionMode() == QPainter::CompositionMode_SourceOver && p.opacity() == 1.0
        && p.renderHints() == pictureHints;
}

QPainter::RenderHints defaultHints()
{
    QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&probe);
    return p.renderHints();
}

} // namespace

LabelCache::LabelCache(const QFont& font)
    : m_font(font)
    , m_height(QFontMetrics(font).height())
{
}

QRect LabelCache::paintText(QPainter& p, int x, int y, const QString& text, const QFont& font, const QColor& colour,
                            const QColor& background, int escapement)
{
    const QFontMetrics fm(font);
    p.save();
    p.translate(x, y);
    if (escapement != 0)
        p.rotate(-escapement / 10.0);
    const QRect cell(0, 0, fm.horizontalAdvance(text), fm.height());
    p.fillRect(cell, background);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(0, fm.ascent(), text);
    const QRect painted = p.transform().mapRect(cell).adjusted(-2, -2, 2, 2);
    p.restore();
    return painted;
}

LabelCache::Entry& LabelCache::entry(const QString& text)
{
    auto it = m_entries.find(text);
    if (it != m_entries.end())
        return *it;
    // Starting afresh is as good as any other order of eviction here: the
    // labels a graph shows change slowly, and refilling costs what drawing
    // them as text did.
    if (m_entries.size() >= kCapacity)
        m_entries.clear();
    Entry e;
    e.advance = QFontMetrics(m_font).horizontalAdvance(text);
    return *m_entries.insert(text, std::move(e));
}

int LabelCache::advance(const QString& text)
{
    return entry(text).advance;
}

int LabelCache::pictures() const
{
    int n = 0;
    for (const Entry& e : m_entries)
        n += int(std::count_if(e.looks.begin(), e.looks.end(), [](const Look& l) { return !l.picture.isNull(); }));
    return n;
}

void LabelCache::draw(QPainter& p, int x, int y, const QString& text, const QColor& colour,
                      const QColor& background, bool vertical)
{
    static const QPainter::RenderHints pictureHints = defaultHints();
    if (!plainPainter(p, pictureHints)) {
        paintText(p, x, y, text, m_font, colour, background, vertical ? 900 : 0);
        return;
    }
    Entry& e = entry(text);
    const QRgb c = colour.rgba(), b = background.rgba();
    auto look = std::find_if(e.looks.begin(), e.looks.end(), [&](const Look& l) {
        return l.colour == c && l.background == b && l.vertical == vertical;
    });
    if (look == e.looks.end())
        look = e.looks.insert(e.looks.end(), render(text, e.advance, colour, background, vertical));
    if (look->asText)
        paintText(p, x, y, text, m_font, colour, background, vertical ? 900 : 0);
    else if (!look->picture.isNull())
        p.drawImage(QPoint(x, y) + look->offset, look->picture);
}

LabelCache::Look LabelCache::render(const QString& text, int advance, const QColor& colour,
                                    const QColor& background, bool vertical) const
{
    Look look;
    look.colour = colour.rgba();
    look.background = background.rgba();
    look.vertical = vertical;

    // Drawn with room all round, so that glyphs reaching past the cell are
    // caught; ones that reach the edge of the room might have been cut.
    QTransform turn;
    if (vertical)
        turn.rotate(-90.0);
    const QRect cell = turn.mapRect(QRect(0, 0, advance, m_height));
    const int margin = m_height;
    const QPoint origin(margin - cell.left(), margin - cell.top());
    QImage scratch(cell.width() + 2 * margin, cell.height() + 2 * margin, QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    {
        QPainter p(&scratch);
        paintText(p, origin.x(), origin.y(), text, m_font, colour, background, vertical ? 900 : 0);
    }

    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = 0; y < scratch.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
        for (int x = 0; x < scratch.width(); ++x) {
            const int alpha = qAlpha(row[x]);
            if (alpha == 0)
                continue;
            if (alpha != 255) {
                look.asText = true;
                return look;
            }
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (left > right)
        return look; // nothing painted
    if (left == 0 || top == 0 || right == scratch.width() - 1 || bottom == scratch.height() - 1) {
        look.asText = true;
        return look;
    }
    const QRect used(QPoint(left, top), QPoint(right, bottom));
    look.picture = scratch.copy(used);
    look.offset = used.topLeft() - origin;
    return look;
}
