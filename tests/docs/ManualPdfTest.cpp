// The manual's PDF shows every picture its Markdown refers to: the pages are
// rendered with pdftoppm and each picture is looked for in them, pixel by
// pixel, at the resolution pdfimages reports for it.
#include "DocsTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QTemporaryDir>

#include <cstdlib>
#include <limits>
#include <vector>

namespace {

struct Reference
{
    QString caption;
    QString path;
};

std::vector<Reference> referencedPictures(const QString& markdown)
{
    QFile file(markdown);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << markdown.toStdString();
    static const QRegularExpression image(QStringLiteral(R"(!\[([^\]]*)\]\(([^)\s]+)\))"));
    std::vector<Reference> refs;
    const QDir base = QFileInfo(markdown).absoluteDir();
    for (auto it = image.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();) {
        const auto m = it.next();
        refs.push_back({m.captured(1), base.filePath(m.captured(2))});
    }
    return refs;
}

// A picture as embedded: its page, its size in pixels and how densely it is set.
struct Embedded
{
    int page;
    int width;
    int height;
    int ppi;
};

std::vector<Embedded> embeddedImages(const QString& pdf)
{
    const ProgramRun run = runProgram(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    std::vector<Embedded> images;
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    for (const QString& line : run.out.split(QLatin1Char('\n')).mid(2)) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() >= 14 && f[2] == QLatin1String("image"))
            images.push_back({f[0].toInt(), f[3].toInt(), f[4].toInt(), f[12].toInt()});
    }
    return images;
}

QImage rgb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB888);
}

// Mean absolute difference per colour channel of the picture laid at (x, y)
// on the page, sampling every `step`-th pixel each way.
double difference(const QImage& page, const QImage& picture, int x, int y, int step)
{
    long sum = 0;
    long count = 0;
    for (int r = 0; r < picture.height(); r += step) {
        const uchar* a = page.constScanLine(y + r) + 3 * x;
        const uchar* b = picture.constScanLine(r);
        for (int c = 0; c < 3 * picture.width(); c += 3 * step, count += 3)
            sum += std::abs(int(a[c]) - int(b[c])) + std::abs(int(a[c + 1]) - int(b[c + 1]))
                   + std::abs(int(a[c + 2]) - int(b[c + 2]));
    }
    return count ? double(sum) / double(count) : std::numeric_limits<double>::max();
}

struct Match
{
    int x = 0;
    int y = 0;
    double meanDifference = std::numeric_limits<double>::max();
};

// Where on the page the picture fits best: every position on pages shrunk
// eightfold, then the neighbourhood of the best one at full size.
Match bestMatch(const QImage& page, const QImage& picture)
{
    Match best;
    if (picture.width() > page.width() || picture.height() > page.height())
        return best;
    constexpr int kShrink = 8;
    const QImage smallPage = page.scaled(page.size() / kShrink, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage smallPicture = picture.scaled(picture.size() / kShrink, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    Match coarse;
    for (int y = 0; y + smallPicture.height() <= smallPage.height(); ++y)
        for (int x = 0; x + smallPicture.width() <= smallPage.width(); ++x)
            if (double d = difference(smallPage, smallPicture, x, y, 1); d < coarse.meanDifference)
                coarse = {x, y, d};
    for (int y = coarse.y * kShrink - 2 * kShrink; y <= coarse.y * kShrink + 2 * kShrink; ++y) {
        for (int x = coarse.x * kShrink - 2 * kShrink; x <= coarse.x * kShrink + 2 * kShrink; ++x) {
            if (x < 0 || y < 0 || x + picture.width() > page.width() || y + picture.height() > page.height())
                continue;
            if (double d = difference(page, picture, x, y, 3); d < best.meanDifference)
                best = {x, y, d};
        }
    }
    if (best.meanDifference < std::numeric_limits<double>::max())
        best.meanDifference = difference(page, picture, best.x, best.y, 1);
    return best;
}

// A picture set off the pixel grid comes back resampled: 3 to 8 levels per
// channel on average. Another screen shot of the same window, with other bars
// and texts, differs by 26 or more.
constexpr double kSamePicture = 15.0;

class ManualPdf : public ::testing::Test
{
protected:
    QImage renderedPage(int page, int dpi)
    {
        const QString key = QStringLiteral("%1@%2").arg(page).arg(dpi);
        if (!m_pages.contains(key)) {
            const QString prefix = m_dir.filePath(key);
            const ProgramRun run = runProgram(QStringLiteral("pdftoppm"),
                {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                 QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                 m_pdf, prefix});
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
            m_pages.insert(key, rgb(QImage(prefix + QStringLiteral(".ppm"))));
        }
        return m_pages.value(key);
    }

    const QString m_markdown = configuredPath("TAVRIX_MANUAL_MD");
    const QString m_pdf = configuredPath("TAVRIX_MANUAL_PDF");
    QTemporaryDir m_dir;
    QMap<QString, QImage> m_pages;
};

} // namespace

TEST_F(ManualPdf, ShowsEveryPictureTheManualRefersTo)
{
    const std::vector<Reference> refs = referencedPictures(m_markdown);
    ASSERT_FALSE(refs.empty()) << "the manual refers to no picture";
    const std::vector<Embedded> embedded = embeddedImages(m_pdf);

    for (const Reference& ref : refs) {
        SCOPED_TRACE(ref.path.toStdString());
        EXPECT_FALSE(ref.caption.isEmpty()) << "a picture without a caption";
        const QImage picture = rgb(QImage(ref.path));
        ASSERT_FALSE(picture.isNull()) << "cannot read the picture";

        Match best;
        for (const Embedded& e : embedded) {
            if (e.width != picture.width() || e.height != picture.height())
                continue;
            // Rendered at the density it is set at, the picture keeps its pixels.
            if (Match m = bestMatch(renderedPage(e.page, e.ppi), picture); m.meanDifference < best.meanDifference)
                best = m;
        }
        EXPECT_LT(best.meanDifference, kSamePicture) << "not found on any page";
    }
}

TEST_F(ManualPdf, SetsPicturesLargeEnoughToRead)
{
    // Screen shots thinner than 100 pixels to the inch have texts smaller
    // than the manual's own; denser than 300 they are needlessly small.
    for (const Embedded& e : embeddedImages(m_pdf)) {
        EXPECT_GE(e.ppi, 100) << "page " << e.page;
        EXPECT_LE(e.ppi, 300) << "page " << e.page;
    }
}
