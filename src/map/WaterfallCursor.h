#pragma once

#include <QWidget>

// The cursor row of a drive's waterfall: a line across it, drawn over the
// waterfall by a child that takes no mouse events, so the waterfall itself
// is used as it is.
class WaterfallCursor : public QWidget
{
    Q_OBJECT
public:
    explicit WaterfallCursor(QWidget* waterfall);

    // The waterfall's y of the cursor row; negative hides the line.
    void setRowY(int y);
    int rowY() const { return m_y; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect lineRect(int y) const;

    int m_y = -1; // px
};
