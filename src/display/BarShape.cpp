#include "BarShape.h"

#include <algorithm>

void BarShape::placeLabel(QPoint at, int w, int h, bool verticalText)
{
    labelAt = at;
    labelled = true;
    vertical = verticalText;
    cell = vertical ? QRect(at.x(), at.y() - w, h, w) : QRect(at.x(), at.y(), w, h);
}

bool BarShape::operator==(const BarShape& o) const
{
    return bar == o.bar && sameLabel(o);
}

bool BarShape::sameLabel(const BarShape& o) const
{
    if (labelled != o.labelled)
        return false;
    return !labelled || (vertical == o.vertical && text == o.text && labelAt == o.labelAt && cell == o.cell);
}

QRect BarShape::area(const QRect& plot) const
{
    QRect r = bar.isValid() ? bar : QRect();
    if (labelled)
        r |= labelBounds();
    return r & plot;
}

QRect BarShape::changedFrom(const BarShape& was, const QRect& plot) const
{
    QRect r;
    // Bars stand on the plot's bottom: where a column keeps its bar, only
    // the rows between the old top and the new one change.
    if (bar.isValid() && was.bar.isValid() && bar.left() == was.bar.left() && bar.right() == was.bar.right()
        && bar.bottom() == was.bar.bottom()) {
        if (bar.top() != was.bar.top())
            r = QRect(QPoint(bar.left(), std::min(bar.top(), was.bar.top())),
                      QPoint(bar.right(), std::max(bar.top(), was.bar.top()) - 1));
    } else {
        r = (bar.isValid() ? bar : QRect()) | (was.bar.isValid() ? was.bar : QRect());
    }
    if (!sameLabel(was)) {
        if (labelled)
            r |= labelBounds();
        if (was.labelled)
            r |= was.labelBounds();
    }
    return r & plot;
}
