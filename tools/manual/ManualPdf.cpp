// Turns the user manual's Markdown into the PDF that "User Manual" opens.
// Uses Qt's own text layout and PDF writer so the build needs nothing more.
//
// Pictures are screen shots: each is set at 144 pixels to the inch, where the
// program's 9-point texts read about as large as the manual's own, narrowed to
// the text column when wider, centred, and captioned "Figure N." with the
// alt text the Markdown gives it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QAbstractTextDocumentLayout>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kLayoutDpi = 96.0;   // QTextDocument's units for sizes
constexpr double kPictureDpi = 144.0;

struct Picture
{
    int position;
    int length;
    QTextImageFormat format;
};

std::vector<Picture> picturesOf(const QTextDocument& doc)
{
    std::vector<Picture> found;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                found.push_back({fragment.position(), fragment.length(), fragment.charFormat().toImageFormat()});
        }
    }
    return found;
}

// Sizes, centres and captions every picture; false (with a message) when one
// cannot be read, so that a manual with a hole in it is never built.
bool placePictures(QTextDocument& doc, const QDir& base, double textWidth)
{
    const std::vector<Picture> pictures = picturesOf(doc);
    // Backwards, so that inserted captions leave the positions still to come alone.
    for (int i = int(pictures.size()) - 1; i >= 0; --i) {
        const Picture& p = pictures[i];
        const QString path = base.filePath(p.format.name());
        const QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "tavrix-manual-pdf: cannot read the picture %s\n", qPrintable(path));
            return false;
        }
        const double width = std::min(image.width() * kLayoutDpi / kPictureDpi, textWidth);
        QTextImageFormat format = p.format;
        doc.addResource(QTextDocument::ImageResource, QUrl(p.format.name()), image);
        format.setWidth(width);
        format.setHeight(width * image.height() / image.width());

        QTextCursor cursor(&doc);
        cursor.setPosition(p.position);
        cursor.setPosition(p.position + p.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);

        QTextBlockFormat centred = cursor.blockFormat();
        centred.setAlignment(Qt::AlignHCenter);
        centred.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
        cursor.setBlockFormat(centred);

        QTextBlockFormat captionBlock;
        captionBlock.setAlignment(Qt::AlignHCenter);
        captionBlock.setTopMargin(4);
        captionBlock.setBottomMargin(10);
        QTextCharFormat captionText;
        captionText.setFontItalic(true);
        captionText.setFontPointSize(9);
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertBlock(captionBlock, captionText);
        cursor.insertText(QStringLiteral("Figure %1. %2").arg(i + 1).arg(p.format.stringProperty(QTextFormat::ImageAltText)));
    }
    return true;
}

// QTextDocument::print would do, but its painter stores pictures as JPEG,
// which smears the screen shots' small texts; this one keeps them lossless.
// Pages are numbered at the foot, as print() numbers them.
bool printPages(QTextDocument& doc, QPdfWriter& pdf)
{
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    painter.setRenderHint(QPainter::LosslessImageRendering);
    const QRectF area = pdf.pageLayout().paintRectPixels(pdf.resolution());
    const double footer = pdf.resolution() * 0.4;
    doc.documentLayout()->setPaintDevice(&pdf);
    doc.setPageSize(QSizeF(area.width(), area.height() - footer));
    const double pageHeight = doc.pageSize().height();

    QFont numberFont = doc.defaultFont();
    numberFont.setPointSize(9);
    for (int page = 0; page < doc.pageCount(); ++page) {
        if (page > 0)
            pdf.newPage();
        painter.save();
        painter.translate(0, -page * pageHeight);
        doc.drawContents(&painter, QRectF(0, page * pageHeight, area.width(), pageHeight));
        painter.restore();
        painter.setFont(numberFont);
        painter.drawText(QRectF(0, pageHeight, area.width(), footer), Qt::AlignRight | Qt::AlignBottom,
                         QString::number(page + 1));
    }
    return painter.end();
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

    const QString source = QString::fromLocal8Bit(argv[1]);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tavrix-manual-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    doc.setDefaultFont(QFont("Liberation Sans", 10));
    doc.setDefaultStyleSheet("h1 { color: #800000; } h2 { color: #000080; } code { font-family: 'Liberation Mono'; }");
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(source).absolutePath() + QLatin1Char('/')));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle("Tavrix Data Logger - User Manual");
    pdf.setCreator("Tavrix Data Logger 4.16");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);

    const double textWidth = pdf.pageLayout().paintRect(QPageLayout::Inch).width() * kLayoutDpi;
    if (!placePictures(doc, QFileInfo(source).absoluteDir(), textWidth))
        return 1;
    return printPages(doc, pdf) ? 0 : 1;
}
