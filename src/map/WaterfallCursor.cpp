#include "WaterfallCursor.h"

#include "display/WaterfallGeometry.h"

#include <QEvent>
#include <QPainter>

namespace {
constexpr int kMarkWidth = 6; // px: the triangle on the time axis
}

WaterfallCursor::WaterfallCursor(QWidget* waterfall)
    : QWidget(waterfall)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(waterfall->rect());
    waterfall->installEventFilter(this);
}

bool WaterfallCursor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

QRect WaterfallCursor::lineRect(int y) const
{
    return QRect(0, y - kMarkWidth, width(), 2 * kMarkWidth + 1);
}

void WaterfallCursor::setRowY(int y)
{
    if (y == m_y)
        return;
    // Only the strips of the old and new lines are drawn again.
    if (m_y >= 0)
        update(lineRect(m_y));
    m_y = y;
    if (m_y >= 0)
        update(lineRect(m_y));
}

void WaterfallCursor::paintEvent(QPaintEvent*)
{
    if (m_y < 0)
        return;
    QPainter p(this);
    const int left = WaterfallGeometry::kAxisWidth;
    const int right = width() - WaterfallGeometry::kRightMargin;
    // Black under white: seen on every colour of the palette.
    p.setPen(QPen(Qt::black, 3));
    p.drawLine(left, m_y, right, m_y);
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(left, m_y, right, m_y);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const QPoint mark[] = {{left - 1, m_y}, {left - 1 - kMarkWidth, m_y - kMarkWidth}, {left - 1 - kMarkWidth, m_y + kMarkWidth}};
    p.drawPolygon(mark, 3);
}
