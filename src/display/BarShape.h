#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

// One bar of an update and its label, as the bar graph paints them (plot
// coordinates), and what changes on screen when it replaces another.
struct BarShape
{
    QRect bar;
    bool labelled = false;
    bool vertical = false;
    QString text;
    QPoint labelAt; // a horizontal label's top-left corner, a vertical one's bottom-left
    QRect cell;     // the label's text cell

    // Labels the bar with text (already set) of w x h pixels along and
    // across its direction, starting at `at`.
    void placeLabel(QPoint at, int w, int h, bool verticalText);

    bool operator==(const BarShape& other) const;
    bool sameLabel(const BarShape& other) const;
    // Bounds what it may paint, within plot.
    QRect area(const QRect& plot) const;
    // Bounds the pixels that differ between `was` drawn in a colour and this
    // bar drawn in the same colour, within plot.
    QRect changedFrom(const BarShape& was, const QRect& plot) const;
    // What drawing the label may touch: its cell and the outline around it.
    QRect labelBounds() const { return cell.adjusted(-2, -2, 2, 2); }
};
