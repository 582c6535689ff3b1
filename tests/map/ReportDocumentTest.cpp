// The acceptance report's documents as a customer sees them: the HTML in a
// real browser (Chromium, offline), the PDF through poppler, and the map
// layer drawn by the map's renderer.
#include "map/AcceptanceLayer.h"
#include "map/MapRenderer.h"
#include "map/MapViewport.h"
#include "map/ReportCharts.h"
#include "map/ReportDocument.h"
#include "map/ReportHtml.h"
#include "map/ReportMap.h"
#include "map/TileMath.h"
#include "map/ReportFixture.h"
#include "protocol/RssiPalette.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <optional>
#include <sys/resource.h>

namespace {

using reportfixture::report;

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Runs a program to its end (the limit only guards against a hung one); its standard output.
QByteArray run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    const bool ended = p.waitForStarted(30000) && p.waitForFinished(180000);
    EXPECT_TRUE(ended) << program.toStdString() << " did not end: " << p.readAllStandardError().toStdString();
    if (exitCode)
        *exitCode = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// Where the look check keeps its pictures: TAVRIX_REPORT_LOOK_DIR, else a throwaway folder.
QString keepDir(const QTemporaryDir& fallback)
{
    const QString dir = qEnvironmentVariable("TAVRIX_REPORT_LOOK_DIR");
    if (dir.isEmpty())
        return fallback.path();
    QDir().mkpath(dir);
    return dir;
}

// Chromium, headless and kept off the network, draws a page into a PNG.
QImage screenshot(const QString& html, const QString& png, const QTemporaryDir& dir)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    int code = -1;
    run(chromium,
        {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
         QStringLiteral("--hide-scrollbars"), QStringLiteral("--no-first-run"),
         QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
         QStringLiteral("--disable-sync"), QStringLiteral("--proxy-server=http://127.0.0.1:9"),
         QStringLiteral("--host-resolver-rules=MAP * ~NOTFOUND"),
         QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("chromium-profile")),
         QStringLiteral("--screenshot=") + png, QStringLiteral("--window-size=1200,2400"),
         QUrl::fromLocalFile(html).toString()},
        &code);
    EXPECT_EQ(code, 0);
    return QImage(png);
}

struct ColourSpread
{
    int count = 0;
    double meanX = 0;
    double meanY = 0;
};

// Pixels of a strong hue: green where tiles passed, red where they failed.
// The report's other colours (verdict panels, chart bars) are pale or blue.
ColourSpread spread(const QImage& image, bool green)
{
    ColourSpread s;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            const bool hit = green ? g > 100 && g - r > 60 && g - b > 60 : r > 150 && r - g > 100 && r - b > 100;
            if (hit) {
                ++s.count;
                s.meanX += x;
                s.meanY += y;
            }
        }
    }
    if (s.count) {
        s.meanX /= s.count;
        s.meanY /= s.count;
    }
    return s;
}

bool havePoppler()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

std::string writeReport(const AcceptanceReport& r, const QString& path, ReportDocument::BaseMap base = {"", true})
{
    std::string error;
    EXPECT_TRUE(ReportDocument::write(r, path.toStdString(), base, error)) << error;
    return error;
}

// What a browser would fetch from elsewhere: a src, href or CSS url() that
// leaves the file.
QStringList remoteReferences(const QString& html)
{
    static const QRegularExpression remote(
        QStringLiteral(R"((?:\b(?:src|href|srcset|poster|data|action)\s*=\s*["']?\s*|url\(\s*["']?|@import\s+["']?)(?:[a-z][a-z0-9+.-]*:)?//)"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList found;
    for (auto it = remote.globalMatch(html); it.hasNext();)
        found << it.next().captured(0);
    return found;
}

TEST(ReportDocument, htmlInChromiumShowsPassedAndFailedTilesWhereTheyAre)
{
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    const QString keep = keepDir(dir);
    const QString html = keep + QStringLiteral("/report.html");
    writeReport(report(), html);
    const QString text = readText(html);

    EXPECT_TRUE(remoteReferences(text).isEmpty()) << remoteReferences(text).join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("<script"), Qt::CaseInsensitive));
    EXPECT_FALSE(text.contains(QLatin1String("<link"), Qt::CaseInsensitive));
    static const QRegularExpression image(QStringLiteral(R"(<img src="([^"]{0,40}))"));
    int images = 0;
    for (auto it = image.globalMatch(text); it.hasNext(); ++images)
        EXPECT_TRUE(it.next().captured(1).startsWith(QLatin1String("data:image/png;base64,")));
    EXPECT_EQ(images, 3); // map, histogram, cumulative distribution
    EXPECT_TRUE(text.contains(QLatin1String("Verdict: FAIL")));

    const QImage shot = screenshot(html, keep + QStringLiteral("/report-html.png"), dir);
    ASSERT_FALSE(shot.isNull());
    const ColourSpread passed = spread(shot, true);
    const ColourSpread failed = spread(shot, false);
    // Each state covers dozens of tiles of some 30 pixels a side on the map.
    EXPECT_GT(passed.count, 5000);
    EXPECT_GT(failed.count, 3000);
    // Passed tiles lie west of the failed ones, at the same height on the map.
    EXPECT_LT(passed.meanX + 100, failed.meanX);
    EXPECT_NEAR(passed.meanY, failed.meanY, 60);
}

TEST(ReportDocument, pdfHoldsTheVerdictFiguresAndSignatureOnA4Pages)
{
    if (!havePoppler())
        GTEST_SKIP() << "poppler-utils (pdftotext, pdftoppm) is not installed";
    QTemporaryDir dir;
    const QString keep = keepDir(dir);
    const QString pdf = keep + QStringLiteral("/Report.PDF");
    const AcceptanceReport r = report();
    writeReport(r, pdf);

    const QString text = QString::fromUtf8(run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}));
    const AcceptanceFigures& f = r.sections.front().figures;
    for (const QString& wanted :
         {QStringLiteral("Verdict: FAIL"), QStringLiteral("Tiles in the area"), QString::number(f.tilesInArea),
          QString::number(f.tilesTested), QString::number(f.tilesPassed), ReportHtml::percentText(f.reliability),
          QStringLiteral("Tested by"), QStringLiteral("Signature"), QStringLiteral("TVX-00417"),
          QStringLiteral("tuesday.KLF"), QStringLiteral("Wilson"), QStringLiteral("service-area.gpkg")})
        EXPECT_TRUE(text.contains(wanted)) << wanted.toStdString();

    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"), pdf,
                                     keep + QStringLiteral("/report-pdf")});
    const QStringList pages = QDir(keep).entryList({QStringLiteral("report-pdf-*.png")}, QDir::Files, QDir::Name);
    ASSERT_GE(pages.size(), 2);
    for (const QString& page : pages) {
        const QImage image(keep + QLatin1Char('/') + page);
        EXPECT_NEAR(image.width(), 595, 1) << page.toStdString(); // A4 at 72 dpi
        EXPECT_NEAR(image.height(), 842, 1) << page.toStdString();
    }
    // The map page shows its tiles in colour, not blank.
    bool coloured = false;
    for (const QString& page : pages) {
        const QImage image(keep + QLatin1Char('/') + page);
        coloured = coloured || (spread(image, true).count > 500 && spread(image, false).count > 300);
    }
    EXPECT_TRUE(coloured);
}

TEST(ReportDocument, severalSectionsGiveASummaryThenOnePartEach)
{
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("several.htm"));
    const AcceptanceReport r = report(3);
    writeReport(r, html);
    const QString text = readText(html);

    const qsizetype summary = text.indexOf(QLatin1String("<h2>Summary</h2>"));
    ASSERT_GE(summary, 0);
    const QString table = text.mid(summary, text.indexOf(QLatin1String("</table>"), summary) - summary);
    EXPECT_EQ(table.count(QLatin1String("<tr>")), 1 + 3); // the header and a row per section
    EXPECT_TRUE(table.contains(QLatin1String("446.03125")));
    qsizetype previous = summary;
    for (int i = 1; i <= 3; ++i) {
        const qsizetype at = text.indexOf(QStringLiteral("id=\"section-%1\"").arg(i));
        EXPECT_GT(at, previous) << "section " << i << " after the summary and the one before";
        EXPECT_EQ(text.count(QStringLiteral("id=\"section-%1\"").arg(i)), 1);
        previous = at;
    }
    EXPECT_EQ(text.count(QLatin1String("<img ")), 3 * 3);
    // The third section's 60 extra failed tiles and 40 of its own: a capped table.
    const size_t failed = r.sections[2].figures.tilesTested - r.sections[2].figures.tilesPassed;
    EXPECT_TRUE(text.contains(QStringLiteral("… and %1 more").arg(failed - ReportHtml::kMaxFailedRows)));

    if (!havePoppler())
        GTEST_SKIP() << "poppler-utils is not installed: the PDF's parts are not checked";
    const QString pdf = dir.filePath(QStringLiteral("several.pdf"));
    writeReport(r, pdf);
    const QString pdfText = QString::fromUtf8(run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}));
    EXPECT_TRUE(pdfText.contains(QLatin1String("Summary")));
    for (const auto& s : r.sections)
        EXPECT_TRUE(pdfText.contains(QStringLiteral("Receiver %1, %2 MHz").arg(s.receiver).arg(ReportHtml::frequencyText(s.frequencyMHz))))
            << s.frequencyMHz;
    // Each section starts its own page: the front, three parts, the back.
    const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {pdf}));
    static const QRegularExpression pagesLine(QStringLiteral(R"(Pages:\s+(\d+))"));
    EXPECT_GE(pagesLine.match(info).captured(1).toInt(), 5) << info.toStdString();
}

TEST(ReportDocument, withoutAnAreaTheReportClaimsNothingAboutUndrivenGround)
{
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("driven.html"));
    writeReport(report(1, false), html);
    const QString text = readText(html);
    EXPECT_TRUE(text.contains(QLatin1String("the area is the driven tiles")));
    EXPECT_TRUE(text.contains(QLatin1String("claims nothing about ground that was not driven")));
    EXPECT_FALSE(text.contains(QLatin1String("service-area")));
}

TEST(ReportDocument, theVerdictComesFirstInItsOwnWords)
{
    using V = AcceptanceFigures::Verdict;
    const struct
    {
        V verdict;
        std::optional<uint64_t> needed;
        const char* says;
    } cases[] = {
        {V::Pass, std::nullopt, "Verdict: PASS"},
        {V::Fail, std::nullopt, "Verdict: FAIL"},
        {V::Inconclusive, 214, "About 214 more tested tiles, passing at the same rate, would decide it."},
        {V::Inconclusive, std::nullopt, "No number of further tiles at this rate would decide it."},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        AcceptanceReport r = report();
        r.sections.front().figures.verdict = c.verdict;
        r.sections.front().figures.tilesNeeded = c.needed;
        const QString html = dir.filePath(QStringLiteral("verdict.html"));
        writeReport(r, html);
        const QString text = readText(html);
        const qsizetype says = text.indexOf(QLatin1String(c.says));
        EXPECT_GE(says, 0) << c.says;
        // Before the map, the charts and the figures.
        EXPECT_LT(says, text.indexOf(QLatin1String("<h3>Map</h3>"))) << c.says;
    }
}

TEST(ReportDocument, namesFromOutsideAreShownAsTheyAreNeverAsMarkup)
{
    AcceptanceReport r = report();
    r.drives[0].fileName = "<script>alert(1)</script> %1 & %7.KLF";
    r.drives[0].serialNumber = "TVX\x01\xff";
    r.areaFile = "area \"<b>\".gpkg";
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("names.html"));
    writeReport(r, html);
    const QString text = readText(html);
    EXPECT_FALSE(text.contains(QLatin1String("<script")));
    EXPECT_TRUE(text.contains(QLatin1String("&lt;script&gt;alert(1)&lt;/script&gt; %1 &amp; %7.KLF")));
    EXPECT_TRUE(text.contains(QStringLiteral("TVX\uFFFD"))) << "an invalid byte shows as U+FFFD";
    EXPECT_FALSE(text.contains(QLatin1String("<b>\"")));
}

TEST(ReportDocument, aReportWithoutSectionsSaysThereIsNothingToJudge)
{
    AcceptanceReport r = report(0);
    QTemporaryDir dir;
    for (const char* name : {"empty.html", "empty.pdf"}) {
        const QString path = dir.filePath(QLatin1String(name));
        writeReport(r, path);
        EXPECT_GT(QFileInfo(path).size(), 0) << name;
    }
    EXPECT_TRUE(readText(dir.filePath(QStringLiteral("empty.html"))).contains(QLatin1String("Nothing to judge")));
    if (havePoppler()) {
        const QString text = QString::fromUtf8(
            run(QStringLiteral("pdftotext"), {dir.filePath(QStringLiteral("empty.pdf")), QStringLiteral("-")}));
        EXPECT_TRUE(text.contains(QLatin1String("Nothing to judge")));
    }
}

// A file size limit makes every write past it fail, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST(ReportDocument, anExistingReportIsReplacedOnlyByAWholeOne)
{
    for (const char* name : {"kept.html", "kept.pdf"}) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QLatin1String(name));
        {
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("the signed report of last week\n");
        }
        std::string error;
        {
            const FileSizeLimit limit(16 * 1024);
            EXPECT_FALSE(ReportDocument::write(report(), path.toStdString(), {"", true}, error));
        }
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(readText(path), QStringLiteral("the signed report of last week\n"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QLatin1String(name)});

        writeReport(report(), path);
        EXPECT_GT(QFileInfo(path).size(), 16 * 1024);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QLatin1String(name)});
    }
}

TEST(ReportDocument, aNameOfNoKnownKindIsRefusedAndNothingWritten)
{
    QTemporaryDir dir;
    for (const char* name : {"report.txt", "report", "report.html.bak", "pdf"}) {
        std::string error;
        EXPECT_FALSE(ReportDocument::write(report(), dir.filePath(QLatin1String(name)).toStdString(), {"", true}, error))
            << name;
        EXPECT_NE(error.find("neither"), std::string::npos) << error;
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    std::string error;
    EXPECT_FALSE(ReportDocument::write(report(), "/no/such/folder/report.html", {"", true}, error));
    EXPECT_NE(error.find("/no/such/folder/report.html"), std::string::npos) << error;
    EXPECT_FALSE(ReportDocument::write(report(), dir.filePath(QStringLiteral("r.pdf")).toStdString(),
                                       {dir.filePath(QStringLiteral("missing.mbtiles")).toStdString(), false}, error));
    EXPECT_NE(error.find("missing.mbtiles"), std::string::npos) << error;
}

// The layer drawn by the map's renderer on the grid: each tile's centre in
// its state's look, the hole's tiles left out, the outline on the area's edge.
TEST(AcceptanceLayer, eachTileShowsItsStateWhereItLies)
{
    const AcceptanceSection s = reportfixture::section(1, 446.00625, 3);
    const AcceptanceArea area = reportfixture::area();
    AcceptanceLayer layer;
    layer.setTiles(s.tiles);
    layer.setArea(area);
    MapViewport viewport;
    viewport.setSize(QSizeF(800, 600));
    viewport.fit(layer.worldBounds(), 16, 40);
    MapRenderer renderer;
    renderer.setAcceptance(&layer);
    QImage image(800, 600, QImage::Format_RGB32);
    renderer.render(image, viewport, nullptr, {}, RssiPalette(), {});
    if (const QString keep = qEnvironmentVariable("TAVRIX_REPORT_LOOK_DIR"); !keep.isEmpty())
        image.save(keep + QStringLiteral("/acceptance-layer.png"));

    auto around = [&](double latitude, double longitude, const std::function<bool(QColor)>& test) {
        const QPointF at = viewport.screenFromWorld(TileMath::worldFromGeo(latitude, longitude));
        int hits = 0;
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx)
                hits += test(image.pixelColor(int(at.x()) + dx, int(at.y()) + dy));
        return hits;
    };
    const auto green = [](QColor c) { return c.green() - c.red() > 60; };
    const auto red = [](QColor c) { return c.red() - c.green() > 100; };
    const auto hatch = [](QColor c) { return c.red() < 180 && std::abs(c.red() - c.green()) < 12 && std::abs(c.red() - c.blue()) < 12; };
    int checked[4] = {};
    for (const auto& t : s.tiles) {
        const int n = 81;
        switch (t.state) {
        case AcceptanceTile::State::Passed: EXPECT_EQ(around(t.latitude, t.longitude, green), n); break;
        case AcceptanceTile::State::Failed: EXPECT_EQ(around(t.latitude, t.longitude, red), n); break;
        case AcceptanceTile::State::Untested:
        case AcceptanceTile::State::NotDriven:
            EXPECT_GE(around(t.latitude, t.longitude, hatch), 3);
            EXPECT_EQ(around(t.latitude, t.longitude, green) + around(t.latitude, t.longitude, red), 0);
            break;
        }
        ++checked[int(t.state)];
    }
    for (int c : checked)
        EXPECT_GT(c, 0);
    // The hole's tiles are not in the section: their centres stay bare ground.
    const CoverageGrid grid(reportfixture::kTileMetres);
    const auto origin = grid.cellOf(52.2, 0.1);
    const auto hole = grid.bounds(reportfixture::cellAt(grid, origin, 3, 5));
    EXPECT_EQ(around((hole.north + hole.south) / 2, (hole.east + hole.west) / 2, hatch), 0);
    // The outline runs along the area's western edge, between tile centres.
    const auto& edge = area.polygons().front().exterior;
    const QPointF a = viewport.screenFromWorld(TileMath::worldFromGeo((edge[0].latitude + edge[3].latitude) / 2, edge[0].longitude));
    const QColor outline = image.pixelColor(a.toPoint());
    EXPECT_GT(outline.blue() - outline.red(), 60) << outline.name().toStdString();
}

// A tile server on the loopback address: every tile one colour, counted.
class SolidTileServer : public QTcpServer
{
public:
    static constexpr QRgb kColour = qRgb(40, 70, 230);

    SolidTileServer()
    {
        QImage tile(256, 256, QImage::Format_RGB32);
        tile.fill(kColour);
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        tile.save(&buffer, "PNG");
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    m_pending[s] += s->readAll();
                    while (m_pending[s].contains("\r\n\r\n")) {
                        m_pending[s].remove(0, m_pending[s].indexOf("\r\n\r\n") + 4);
                        ++requests;
                        s->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nCache-Control: max-age=86400\r\n"
                                 "Content-Length: " + QByteArray::number(m_png.size()) + "\r\n\r\n" + m_png);
                    }
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString urlTemplate() const { return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(serverPort()); }

    int requests = 0;

private:
    QByteArray m_png;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

TEST(ReportMap, networkTilesAreAwaitedAndKeptInTavrixMapsCache)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    SolidTileServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const AcceptanceReport r = report();

    ReportMap map;
    std::string error;
    ASSERT_TRUE(map.open(ReportMap::Base::Network, "", server.urlTemplate().toStdString(), error)) << error;
    AcceptanceLayer layer;
    layer.setTiles(r.sections.front().tiles);
    map.frame(layer.worldBounds(), QSize(480, 320));
    EXPECT_EQ(map.prepare(60000), 0);
    EXPECT_GT(server.requests, 0);
    const QImage image = map.render(r.sections.front(), r.area);
    // A corner of the view, away from the tiles and the overlays, shows the server's tile.
    EXPECT_EQ(image.pixel(240, 4), SolidTileServer::kColour);
    EXPECT_FALSE(QDir(cache.path() + QStringLiteral("/Tavrix/tavrix-map/tiles")).isEmpty());
    qunsetenv("XDG_CACHE_HOME");
}

TEST(ReportMap, aServerThatRefusesGivesTheGridWithoutWaitingOut)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QTcpServer closed; // a port known free: listened on, then closed
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    const AcceptanceReport r = report();

    ReportMap map;
    std::string error;
    ASSERT_TRUE(map.open(ReportMap::Base::Network, "", QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port).toStdString(), error));
    AcceptanceLayer layer;
    layer.setTiles(r.sections.front().tiles);
    map.frame(layer.worldBounds(), QSize(480, 320));
    // Every tile failed: the wait ends on that, not on its limit (an hour here).
    EXPECT_GT(map.prepare(3600 * 1000), 0);
    const QImage image = map.render(r.sections.front(), r.area);
    const QColor corner = image.pixelColor(240, 4);
    EXPECT_GT(corner.red(), 200) << corner.name().toStdString(); // the grid's pale land
    qunsetenv("XDG_CACHE_HOME");
}

TEST(ReportCharts, aValueAtTheThresholdFallsInTheThresholdsOwnBin)
{
    const struct
    {
        double dbm;
        int bin;
    } cases[] = {{-95, -95}, {-95.0001, -96}, {-94.5, -95}, {-0.5, -1}, {0, 0}, {-120, -120}};
    for (const auto& c : cases)
        EXPECT_EQ(ReportCharts::binOf(c.dbm), c.bin) << c.dbm;
    // Values no receiver reports are left out, not drawn into a chart without end.
    const QImage h = ReportCharts::histogram({-80, std::nan(""), 1e300, -1e300}, -95, QSize(300, 200), 1);
    EXPECT_EQ(h.size(), QSize(300, 200));
}

} // namespace
