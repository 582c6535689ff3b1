#include "ReportPages.h"

#include <QAbstractTextDocumentLayout>
#include <QMarginsF>
#include <QPageLayout>
#include <QTextDocument>
#include <QUrl>

namespace {
constexpr int kResolution = 300;       // dots per inch in the PDF's pictures and text placement
constexpr double kLayoutDpi = 96;      // the rich text is laid out at screen size, then scaled
constexpr double kMarginMm = 15;
constexpr double kFooterHeight = 28;   // layout pixels kept free at the bottom of each page
constexpr double kBodyPoints = 9.5;
constexpr int kFooterPixels = 10;
const QColor kFooterInk(90, 90, 90);
} // namespace

ReportPages::ReportPages(QIODevice* out, const QString& title, const QString& footer)
    : m_writer(out)
    , m_footer(footer)
{
    m_writer.setPageSize(QPageSize(QPageSize::A4));
    m_writer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter);
    m_writer.setResolution(kResolution);
    m_writer.setTitle(title);
    m_writer.setCreator(QStringLiteral("klf-report"));
}

void ReportPages::add(const QString& html, const std::vector<std::pair<QString, QImage>>& images)
{
    if (m_failed)
        return;
    if (!m_painter.isActive() && !m_painter.begin(&m_writer)) {
        m_failed = true;
        return;
    }
    const double scale = kResolution / kLayoutDpi;
    const QRectF paint = m_writer.pageLayout().paintRectPixels(kResolution);
    const QSizeF page(paint.width() / scale, paint.height() / scale - kFooterHeight);

    QTextDocument doc;
    QFont body(QStringLiteral("Liberation Sans"));
    body.setPointSizeF(kBodyPoints);
    doc.setDefaultFont(body);
    doc.setDocumentMargin(0);
    doc.setHtml(html);
    for (const auto& [name, image] : images)
        doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
    doc.setPageSize(page);

    // In layout pixels, as the painter is scaled from them.
    QFont small = body;
    small.setPixelSize(kFooterPixels);
    for (int i = 0; i < doc.pageCount(); ++i) {
        if (m_pages > 0 && !m_writer.newPage()) {
            m_failed = true;
            return;
        }
        ++m_pages;
        m_painter.save();
        m_painter.scale(scale, scale);
        m_painter.save();
        m_painter.translate(0, -i * page.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * page.height(), page.width(), page.height());
        m_painter.setClipRect(context.clip);
        doc.documentLayout()->draw(&m_painter, context);
        m_painter.restore();
        m_painter.setFont(small);
        m_painter.setPen(QPen(kFooterInk, 0.5));
        const double y = page.height() + kFooterHeight / 2;
        m_painter.drawLine(QPointF(0, y - 6), QPointF(page.width(), y - 6));
        const QRectF line(0, y - 4, page.width(), kFooterHeight / 2 + 4);
        m_painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, m_footer);
        m_painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Page %1").arg(m_pages));
        m_painter.restore();
    }
}

bool ReportPages::finish()
{
    if (m_painter.isActive() && !m_painter.end())
        m_failed = true;
    return !m_failed && m_pages > 0;
}
