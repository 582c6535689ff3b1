#include "display/GraphFonts.h"

#include <gtest/gtest.h>

#include <QGlyphRun>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <vector>

namespace {

// Draws each glyph of text alone, where the layout puts it, and counts the
// pixels that two glyphs both ink: glyphs that share pixels run together.
int sharedPixels(const QFont& font, const QString& text)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QSize size(int(layout.lineAt(0).naturalTextWidth()) + 16, QFontMetrics(font).height() + 16);
    std::vector<uint8_t> inked(size_t(size.width() * size.height()), 0);
    int shared = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            QGlyphRun one;
            one.setRawFont(run.rawFont());
            one.setGlyphIndexes({glyphs[i]});
            one.setPositions({positions[i]});
            QImage img(size, QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            p.setPen(Qt::black);
            p.drawGlyphRun(QPointF(8, 8), one);
            p.end();
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    if (qGray(img.pixel(x, y)) < 128 && inked[size_t(y * size.width() + x)]++ > 0)
                        ++shared;
        }
    }
    return shared;
}

} // namespace

TEST(GraphFonts, glyphsNeverShareAPixelAtAnySizeTheGraphUses)
{
    const QString texts[] = {QStringLiteral("R1 (851.00000-860.00000)MHz 25.00 KHz Step"),
                             QStringLiteral("852.2500 1025.0000 -54 dBm"), QStringLiteral("RSSI (dBm) -102 -111")};
    int inkedTexts = 0;
    for (int height = 6; height <= 40; ++height)
        for (const bool bold : {false, true})
            for (const QString& text : texts) {
                const QFont f = GraphFonts::cellFont(height, bold);
                EXPECT_EQ(sharedPixels(f, text), 0)
                    << "cell height " << height << (bold ? " bold: " : ": ") << text.toStdString();
                ++inkedTexts;
            }
    EXPECT_GT(inkedTexts, 0);
}
