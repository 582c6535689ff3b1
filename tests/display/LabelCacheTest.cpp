#include "display/LabelCache.h"

#include "display/GraphFonts.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <functional>
#include <vector>

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);

// A bars bitmap as labels meet it: white, grid lines, a bar and a label
// already there, so that every pixel a label leaves alone shows.
QImage busyBitmap()
{
    QImage img(120, 90, QImage::Format_RGB32);
    img.fill(kWhite);
    QPainter p(&img);
    p.setPen(QColor(0x80, 0x80, 0x80));
    for (int y = 0; y < img.height(); y += 9)
        p.drawLine(0, y, img.width(), y);
    p.fillRect(QRect(30, 40, 25, 50), QColor(0x80, 0x00, 0x00));
    LabelCache::paintText(p, 60, 70, QStringLiteral("851.0125"), GraphFonts::arial(), QColor(0, 0, 0xFF), kWhite, 900);
    return img;
}

QFont labelFont()
{
    QFont f = GraphFonts::arial();
    f.setPixelSize(11);
    return f;
}

struct Place
{
    int x, y;
    bool vertical;
};

// Every text, colour and place, partly off the bitmap too, drawn through the
// cache (twice: once as it is kept, once from the cache) and as text.
void expectSamePixels(LabelCache& cache, const std::function<void(QPainter&)>& setUp = {})
{
    const QString texts[] = {QString(), QStringLiteral("7"), QStringLiteral("150.1250"), QStringLiteral("-75 dBm"),
                             QStringLiteral("3071"), QStringLiteral("(8"), QStringLiteral("0000"),
                             QStringLiteral("Wij, fg|Q"), QStringLiteral("fjord ff")};
    const QColor colours[] = {QColor(0x80, 0x00, 0x00), QColor(0xA0, 0xA0, 0xA0), QColor(0, 0, 0xFF)};
    const Place places[] = {{5, 40, false}, {-6, 3, false}, {100, 85, false}, {40, 60, true},
                            {-4, 30, true}, {110, 20, true},  {20, 95, true}};
    for (int pass = 0; pass < 2; ++pass)
        for (const QString& text : texts)
            for (const QColor& colour : colours)
                for (const Place& at : places) {
                    SCOPED_TRACE(testing::Message() << '"' << text.toStdString() << "\" at " << at.x << ',' << at.y
                                                    << (at.vertical ? " vertical" : "") << " pass " << pass);
                    QImage cached = busyBitmap(), asText = busyBitmap();
                    {
                        QPainter p(&cached);
                        if (setUp)
                            setUp(p);
                        cache.draw(p, at.x, at.y, text, colour, kWhite, at.vertical);
                    }
                    {
                        QPainter p(&asText);
                        if (setUp)
                            setUp(p);
                        LabelCache::paintText(p, at.x, at.y, text, cache.font(), colour, kWhite, at.vertical ? 900 : 0);
                    }
                    ASSERT_TRUE(cached == asText);
                }
}

} // namespace

TEST(LabelCache, keptPicturesPaintExactlyWhatTheTextPaints)
{
    LabelCache cache(labelFont());
    expectSamePixels(cache);
    // Drawn from pictures, not as text: 8 texts with glyphs, 3 colours, 2 directions.
    EXPECT_EQ(cache.pictures(), 8 * 3 * 2);
}

TEST(LabelCache, paintersThatAreNotAPlainCopyGetTheText)
{
    const std::function<void(QPainter&)> setUps[] = {
        [](QPainter& p) { p.scale(2.0, 2.0); },
        [](QPainter& p) { p.translate(0.5, 0.25); },
        [](QPainter& p) { p.setCompositionMode(QPainter::CompositionMode_Source); },
        [](QPainter& p) { p.setOpacity(0.5); },
        [](QPainter& p) { p.setRenderHint(QPainter::Antialiasing); },
    };
    for (const auto& setUp : setUps) {
        LabelCache cache(labelFont());
        expectSamePixels(cache, setUp);
    }
}

// Antialiased glyphs that reach past their cell blend with what lies under
// them there, which a kept picture cannot know.
TEST(LabelCache, antialiasedFontsStillPaintWhatTheTextPaints)
{
    QFont smooth(QStringLiteral("Liberation Serif"));
    smooth.setPixelSize(13);
    smooth.setItalic(true);
    smooth.setStyleStrategy(QFont::PreferAntialias);
    LabelCache cache(smooth);
    expectSamePixels(cache);
}

TEST(LabelCache, keepsAtMostItsCapacityAndStillDrawsWhatItDropped)
{
    LabelCache cache(labelFont());
    QImage img(60, 40, QImage::Format_RGB32);
    QPainter p(&img);
    for (int i = 0; i < 3 * LabelCache::kCapacity; ++i) {
        const QString text = QString::number(i);
        EXPECT_EQ(cache.advance(text), QFontMetrics(cache.font()).horizontalAdvance(text));
        cache.draw(p, 2, 30, text, QColor(0x80, 0, 0), kWhite, true);
        ASSERT_LE(cache.texts(), LabelCache::kCapacity);
    }
    p.end();
    expectSamePixels(cache);
}
