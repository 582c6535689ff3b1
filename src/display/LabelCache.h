#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <vector>

class QPainter;

// The bar labels of one graph, in one font: each text's advance and, per
// colour and direction, its picture (the opaque cell with its glyphs), kept
// once drawn. Shaping and rendering text is most of a bar update's cost and
// the same few labels come back update after update; a kept picture is
// drawn with one blit.
//
// A picture is kept only when it is exactly what drawing the text paints:
// every pixel either untouched or opaque (the graph's fonts are not
// antialiased), so blending it over any background gives the same pixels.
// Anything else is drawn as text each time.
class LabelCache
{
public:
    // Texts kept; past it the cache starts afresh. A vertical label's
    // picture is about 3 KB.
    static constexpr int kCapacity = 256;

    explicit LabelCache(const QFont& font);

    const QFont& font() const { return m_font; }
    int height() const { return m_height; }
    int advance(const QString& text);

    // Paints what paintText paints with this cache's font.
    void draw(QPainter& p, int x, int y, const QString& text, const QColor& colour, const QColor& background,
              bool vertical);

    // Opaque text whose cell's top-left corner is at (x, y); escapement in
    // tenths of a degree, counter-clockwise, turning about that corner.
    // Returns the area it may have painted (glyphs can reach a little past
    // their cell).
    static QRect paintText(QPainter& p, int x, int y, const QString& text, const QFont& font, const QColor& colour,
                           const QColor& background, int escapement = 0);

    int texts() const { return int(m_entries.size()); }
    int pictures() const; // kept looks that are drawn as a picture

private:
    struct Look
    {
        QRgb colour = 0;
        QRgb background = 0;
        bool vertical = false;
        bool asText = false; // not exactly a picture: drawn as text
        QImage picture;      // premultiplied: untouched pixels are transparent
        QPoint offset;       // of the picture's top-left from (x, y)
    };
    struct Entry
    {
        int advance = 0;
        std::vector<Look> looks;
    };

    Entry& entry(const QString& text);
    Look render(const QString& text, int advance, const QColor& colour, const QColor& background, bool vertical) const;

    QFont m_font;
    int m_height = 0;
    QHash<QString, Entry> m_entries;
};
