#pragma once

#include <QString>
#include <QSize>

#include <cstddef>

struct AcceptanceReport;

// The acceptance report's text as HTML, in parts: the front (verdict or
// summary, the question, the area), one part per section, and the back
// (drives, method, signature). Only what Qt's rich text renders as well as a
// browser is used, so the browser file and the PDF read the same; pictures
// come in as ready `src` values (a data: URI, or a resource name).
class ReportHtml
{
public:
    struct Picture
    {
        QString src;   // empty: no picture (nothing to draw)
        QSize size;    // logical pixels
    };
    struct SectionPictures
    {
        Picture map, histogram, cumulative;
    };

    // Rows of a section's failed-tile table; the rest are counted. Fewer
    // when a report has many sections, so each keeps to about two pages.
    static constexpr size_t kMaxFailedRows = 50;
    static constexpr size_t kManySections = 12;
    static constexpr size_t kMaxFailedRowsOfMany = 10;

    static QString front(const AcceptanceReport& report);
    static QString section(const AcceptanceReport& report, size_t index, const SectionPictures& pictures);
    static QString back(const AcceptanceReport& report);

    // A whole page for a browser around the parts (head, style, page breaks for print).
    static QString pageStart(const AcceptanceReport& report);
    static QString pageBreak();
    static QString pageEnd();

    static QString frequencyText(double mhz);
    static QString percentText(double share); // 0..1
};
