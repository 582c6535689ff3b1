#include "GraphFonts.h"

#include <QFontMetricsF>

#include <algorithm>

QFont GraphFonts::arial()
{
    static const bool substituted = [] {
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
        return true;
    }();
    (void)substituted;
    QFont f(QStringLiteral("Arial"));
    f.setStyleStrategy(QFont::NoAntialias);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QFont GraphFonts::cellFont(int cellHeight, bool bold)
{
    static double ratio[2] = {0.0, 0.0};
    double& r = ratio[bold ? 1 : 0];
    QFont f = arial();
    f.setBold(bold);
    if (r == 0.0) {
        f.setPixelSize(1000);
        r = QFontMetricsF(f).height() / 1000.0;
        if (r <= 0.0)
            r = 1.15;
    }
    const int pixels = std::max(1, qRound(cellHeight / r));
    f.setPixelSize(pixels);
    // Below 10 pixels a hinted glyph can still be wider than its advance.
    if (pixels < 10)
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    return f;
}
