// Turns the user manual's Markdown into the PDF that "User Manual" opens.
// Uses Qt's own text layout and PDF writer so the build needs nothing more.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace {

// Screenshots are wider than a page. Each is loaded now and stored in the
// document (printing works on a copy that would not find it otherwise) and
// drawn no wider than the text.
void fitImages(QTextDocument& doc)
{
    constexpr double kTextWidth = 640; // at 96 dpi, A4 less the margins
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QImage image = doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
            if (image.isNull()) {
                std::fprintf(stderr, "tavrix-manual-pdf: no image %s\n", qPrintable(format.name()));
                continue;
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            const double width = std::min<double>(image.width(), kTextWidth);
            format.setWidth(width);
            format.setHeight(width * image.height() / image.width());
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavrix-manual-pdf MANUAL.md OUTPUT.pdf\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tavrix-manual-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    doc.setDefaultFont(QFont("Liberation Sans", 10));
    doc.setDefaultStyleSheet("h1 { color: #800000; } h2 { color: #000080; } code { font-family: 'Liberation Mono'; }");
    // Images are named relative to the manual, as in any Markdown viewer.
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(in).absoluteFilePath()));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    fitImages(doc);

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle("Tavrix Data Logger - User Manual");
    pdf.setCreator("Tavrix Data Logger 4.16");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    doc.print(&pdf);
    return 0;
}
