// Turns the user manual's Markdown into the PDF that "User Manual" opens.
// Uses Qt's own text layout and PDF writer so the build needs nothing more.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

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
    doc.setMarkdown(QString::fromUtf8(in.readAll()));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle("Tavrix Data Logger - User Manual");
    pdf.setCreator("Tavrix Data Logger 4.16");
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    doc.print(&pdf);
    return 0;
}
