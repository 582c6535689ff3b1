#pragma once

#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

#include <utility>
#include <vector>

class QIODevice;

// The report printed on A4 pages: each part is Qt rich text, laid out in a
// document of its own and painted page by page, so a report with hundreds of
// sections holds one section's pictures at a time, never all of them. Each
// part starts on a new page; every page carries a footer and its number.
class ReportPages
{
public:
    ReportPages(QIODevice* out, const QString& title, const QString& footer);

    // `images` are the part's pictures under the names its HTML uses.
    void add(const QString& html, const std::vector<std::pair<QString, QImage>>& images);
    // Ends the file; false when the painter could not work on it.
    bool finish();
    int pages() const { return m_pages; }

private:
    QPdfWriter m_writer;
    QPainter m_painter;
    QString m_footer;
    int m_pages = 0;
    bool m_failed = false;
};
