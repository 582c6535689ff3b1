#include "AcceptanceLegend.h"

#include "AcceptanceLayer.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace {
constexpr double kMargin = 10;  // logical pixels from the view's edge, as the other overlays
constexpr double kSwatch = 14;  // logical pixels
constexpr double kPadding = 6;
const QColor kPanel(255, 255, 255, 225);
const QColor kInk(32, 32, 32);
} // namespace

void AcceptanceLegend::draw(QPainter& p, const QRectF& view, bool withArea)
{
    struct Row
    {
        QString text;
        AcceptanceTile::State state;
    };
    const Row rows[] = {{QStringLiteral("Passed"), AcceptanceTile::State::Passed},
                        {QStringLiteral("Failed"), AcceptanceTile::State::Failed},
                        {QStringLiteral("Untested (too few samples)"), AcceptanceTile::State::Untested},
                        {QStringLiteral("Not driven"), AcceptanceTile::State::NotDriven}};
    const QString areaText = QStringLiteral("Area outline");
    const QFontMetricsF fm(p.font());
    const double line = std::max(fm.height(), kSwatch) + 4;
    double textWidth = fm.horizontalAdvance(areaText);
    for (const Row& r : rows)
        textWidth = std::max(textWidth, fm.horizontalAdvance(r.text));
    const int count = int(std::size(rows)) + (withArea ? 1 : 0);
    const double width = kPadding * 3 + kSwatch + textWidth;
    const double height = kPadding * 2 + count * line;
    // Clear of the attribution line, which takes one text line at the bottom.
    const double bottom = view.bottom() - fm.height() - 4 - kMargin / 2;
    const QRectF box(view.right() - kMargin - width, bottom - height, width, height);

    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(kPanel);
    p.drawRect(box);
    double y = box.top() + kPadding;
    const double x = box.left() + kPadding;
    auto label = [&](const QString& text) {
        p.setPen(kInk);
        p.drawText(QRectF(x + kSwatch + kPadding, y, textWidth + 1, line), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    for (const Row& r : rows) {
        const QRectF swatch(x, y + (line - kSwatch) / 2, kSwatch, kSwatch);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(swatch);
        p.setBrush(AcceptanceLayer::brush(r.state));
        p.drawRect(swatch);
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(swatch);
        label(r.text);
        y += line;
    }
    if (withArea) {
        p.setPen(QPen(AcceptanceLayer::outlineColour(), 2.5));
        p.drawLine(QPointF(x, y + line / 2), QPointF(x + kSwatch, y + line / 2));
        label(areaText);
    }
    p.restore();
}
