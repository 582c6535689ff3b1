#include "ReportDocument.h"

#include "ReportCharts.h"
#include "ReportHtml.h"
#include "ReportMap.h"
#include "ReportPages.h"
#include "TileMath.h"
#include "platform/ReplacingFile.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

enum class Format { Html, Pdf, Unknown };

Format formatOf(const std::string& path)
{
    const QString name = QString::fromStdString(path).toLower();
    if (name.endsWith(QLatin1String(".html")) || name.endsWith(QLatin1String(".htm")))
        return Format::Html;
    if (name.endsWith(QLatin1String(".pdf")))
        return Format::Pdf;
    return Format::Unknown;
}

struct Sizes
{
    QSize map;
    QSize chart;
    double chartRatio;
};

Sizes sizesFor(const AcceptanceReport& report)
{
    // Wide as an A4 page's text; smaller, and charts without hi-dpi detail,
    // when hundreds of sections would make the file too heavy to open.
    if (report.sections.size() > ReportHtml::kManySections)
        return {QSize(480, 300), QSize(325, 180), 1};
    return {QSize(680, 450), QSize(325, 210), 2};
}

QRectF worldBounds(const AcceptanceReport& report)
{
    QRectF r;
    auto add = [&r](double north, double west, double south, double east) {
        const QRectF b(TileMath::worldFromGeo(north, west), TileMath::worldFromGeo(south, east));
        r = r.isNull() ? b : r.united(b);
    };
    for (const auto& s : report.sections)
        for (const auto& t : s.tiles)
            add(t.bounds.north, t.bounds.west, t.bounds.south, t.bounds.east);
    for (const auto& polygon : report.area.polygons())
        for (const auto& pt : polygon.exterior)
            add(pt.latitude, pt.longitude, pt.latitude, pt.longitude);
    return r;
}

std::vector<double> testedValues(const AcceptanceSection& s)
{
    std::vector<double> v;
    for (const auto& t : s.tiles)
        if (t.tested())
            v.push_back(t.valueDbm);
    return v;
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// One section's pictures, each handed to `place`, which returns what the HTML's src says.
ReportHtml::SectionPictures sectionPictures(const AcceptanceReport& report, size_t index, ReportMap* map,
                                            const Sizes& sizes,
                                            const std::function<QString(const QString&, const QImage&)>& place)
{
    const AcceptanceSection& s = report.sections[index];
    ReportHtml::SectionPictures p;
    if (map) {
        p.map = {place(QStringLiteral("map"), map->render(s, report.area)), sizes.map};
    }
    const std::vector<double> values = testedValues(s);
    p.histogram = {place(QStringLiteral("histogram"),
                         ReportCharts::histogram(values, report.thresholdDbm, sizes.chart, sizes.chartRatio)),
                   sizes.chart};
    p.cumulative = {place(QStringLiteral("cumulative"),
                          ReportCharts::cumulative(values, report.thresholdDbm, sizes.chart, sizes.chartRatio)),
                    sizes.chart};
    return p;
}

// 0, or the errno of the write that failed.
int writeHtml(const AcceptanceReport& report, ReportMap* map, std::FILE* out)
{
    int failed = 0;
    auto put = [&](const QString& text) {
        const QByteArray bytes = text.toUtf8();
        if (failed == 0 && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) != size_t(bytes.size()))
            failed = errno ? errno : EIO;
    };
    const Sizes sizes = sizesFor(report);
    auto inline_ = [](const QString&, const QImage& image) {
        return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png(image).toBase64());
    };
    put(ReportHtml::pageStart(report));
    put(ReportHtml::front(report));
    // Written section by section: a section's pictures are let go before the next is drawn.
    for (size_t i = 0; i < report.sections.size() && failed == 0; ++i) {
        put(ReportHtml::pageBreak());
        put(ReportHtml::section(report, i, sectionPictures(report, i, map, sizes, inline_)));
    }
    put(ReportHtml::pageBreak());
    put(ReportHtml::back(report));
    put(ReportHtml::pageEnd());
    return failed;
}

bool writePdf(const AcceptanceReport& report, ReportMap* map, std::FILE* out, std::string& error)
{
    QFile file;
    // The stream stays the ReplacingFile's to flush, sync and close.
    if (!file.open(out, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        error = "cannot write the PDF: " + file.errorString().toStdString();
        return false;
    }
    const Sizes sizes = sizesFor(report);
    const QString footer = QStringLiteral("Coverage acceptance report, made %1")
                               .arg(QString::fromStdString(report.createdUtc));
    ReportPages pages(&file, QStringLiteral("Coverage acceptance report"), footer);
    pages.add(ReportHtml::front(report), {});
    for (size_t i = 0; i < report.sections.size() && file.error() == QFileDevice::NoError; ++i) {
        std::vector<std::pair<QString, QImage>> images;
        auto resource = [&images, i](const QString& name, const QImage& image) {
            const QString url = QStringLiteral("report:%1/%2").arg(name).arg(i);
            images.emplace_back(url, image);
            return url;
        };
        const ReportHtml::SectionPictures pictures = sectionPictures(report, i, map, sizes, resource);
        pages.add(ReportHtml::section(report, i, pictures), images);
    }
    pages.add(ReportHtml::back(report), {});
    const bool painted = pages.finish();
    file.flush();
    if (file.error() != QFileDevice::NoError) {
        error = "cannot write the PDF: " + file.errorString().toStdString();
        return false;
    }
    if (!painted) {
        error = "cannot draw the PDF's pages";
        return false;
    }
    return true;
}

} // namespace

bool ReportDocument::write(const AcceptanceReport& report, const std::string& path, const BaseMap& base,
                           std::string& error)
{
    const Format format = formatOf(path);
    if (format == Format::Unknown) {
        error = "cannot tell what to write to " + path + ": the name ends neither in .html, .htm nor .pdf";
        return false;
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        error = "drawing the report needs a QGuiApplication";
        return false;
    }

    ReportMap map;
    const ReportMap::Base kind = base.grid ? ReportMap::Base::Grid
                                 : base.mbtiles.empty() ? ReportMap::Base::Network
                                                        : ReportMap::Base::MbTiles;
    if (!map.open(kind, base.mbtiles, qEnvironmentVariable("TAVRIX_MAP_TILE_URL").toStdString(), error))
        return false;
    const QRectF bounds = worldBounds(report);
    const bool withMap = bounds.isValid();
    if (withMap) {
        map.frame(bounds, sizesFor(report).map);
        map.prepare(kTileWaitMs);
    }

    ReplacingFile out(path);
    if (!out.open(error))
        return false;
    if (format == Format::Html) {
        if (const int failed = writeHtml(report, withMap ? &map : nullptr, out.stream())) {
            error = "cannot write " + path + ": " + std::strerror(failed);
            return false;
        }
    } else if (!writePdf(report, withMap ? &map : nullptr, out.stream(), error)) {
        error = path + ": " + error;
        return false;
    }
    return out.commit(error);
}
