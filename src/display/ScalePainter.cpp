#include "ScalePainter.h"

#include "display/GraphFonts.h"
#include "display/LabelCache.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);

int textWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

QRect qrect(const DBarGeometry::Rect& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

} // namespace

QRegion ScalePainter::draw(QPainter& p, const DBarGeometry& g, const Options& o, int keepClear, QFont& font)
{
    const int pl = g.plotRect.left, pt = g.plotRect.top, pb = g.plotRect.bottom;
    const int ph = g.plotHeight, pw = g.plotWidth, divisions = o.divisions;
    QRegion drawn;
    const auto text = [&](int x, int y, const QString& s, const QColor& colour) {
        drawn += LabelCache::paintText(p, x, y, s, font, colour, kGrey);
    };
    const auto erase = [&](const DBarGeometry::Rect& r) {
        p.fillRect(qrect(r), kGrey);
        drawn += qrect(r);
    };

    // The designed trials measure the range ends with one decimal more than drawn.
    const QString topText = QString::asprintf("%.1f", g.yTop);
    const QString bottomText = QString::asprintf("%.1f", g.yBottom);
    const DBarGeometry::FontFit fit = g.fitScaleFont(
        [&](int h) {
            const QFont f = GraphFonts::cellFont(h, true);
            return std::max(textWidth(f, topText), textWidth(f, bottomText));
        },
        keepClear,
        [&](int h) {
            const QFont f = GraphFonts::cellFont(h, true);
            int widest = 0;
            for (int k = 0; k <= divisions; ++k)
                widest = std::max(widest, textWidth(f, QString::fromStdString(g.leftScaleText(k, divisions))));
            return widest;
        });
    font = GraphFonts::cellFont(fit.height, true);
    const int firstY = pt - fit.height / 2;

    erase(g.leftScaleRect);
    for (int s = 0; s <= divisions; ++s)
        text(fit.x, s * ph / divisions + firstY, QString::fromStdString(g.leftScaleText(s, divisions)), kBlack);

    if (o.rightScaleVisible) {
        font = GraphFonts::cellFont(ph / 12, true);
        erase(g.rightScaleRect);
        for (int s = 0; s <= divisions; ++s)
            text(g.plotRect.right + 2, s * ph / divisions + firstY,
                 QString::asprintf("%.1f", o.rightTop - s * (o.rightTop - o.rightBottom) / divisions), kBlue);
    }

    if (!o.xScaleArea)
        return drawn;
    // Eight steps across the plot; the second row in units of 128.
    const int fontHeight = QFontMetrics(font).height();
    if (o.xLabelsVisible) {
        erase(g.xScaleRect);
        for (int s = 0; s <= 8; ++s) {
            const QString s8 = QString::asprintf("%.*f", o.xLabelDigits, g.xMin + s * (g.xMax - g.xMin) * 0.125);
            text(s * pw / 8 + pl - textWidth(font, s8) / 2, pb + 8, s8, kBlack);
        }
    }
    if (o.xSubLabelsVisible) {
        for (int s = 0; s <= 8; ++s) {
            const double v = (g.xMin + s * (g.xMax - g.xMin) * 0.125) * 0.0078125;
            text(s * pw / 8 + pl - 4, fontHeight + (pb + 8) + 1, QString::asprintf("%.*f", o.xSubLabelDigits, v),
                 kBlue);
        }
    }
    return drawn;
}
