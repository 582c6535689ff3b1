// tavrix-map --follow: a log grown while the window follows it, appended in
// pieces cut inside records; once the window has taken what is whole, its
// picture shows the cells and tiles, and its running figures are what
// klf-report's run gives on the log as it stands.
#include "map/FollowTestDrive.h"

#include "ReportOptions.h"
#include "ReportRun.h"
#include "coverage/AcceptanceArea.h"
#include "coverage/CoverageCells.h"
#include "coverage/CoverageGrid.h"
#include "map/AcceptancePanel.h"
#include "map/CoverageController.h"
#include "map/CoverageLayer.h"
#include "map/CoveragePanel.h"
#include "map/EventWait.h"
#include "map/ReportFiguresCheck.h"
#include "map/FollowController.h"
#include "map/MapView.h"
#include "map/MapViewport.h"
#include "map/MapWindow.h"
#include "map/TileMath.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <tuple>

namespace {

void appendFile(const QString& path, const uint8_t* bytes, size_t count)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes, count), ssize_t(count));
    ::close(fd);
}

// An area of whole tiles round the drive's first 40 s, reaching a few tiles
// west of it where the drive never goes.
QString writeArea(const QString& path)
{
    const double south = followtest::kStartLatitude - 0.0003, north = followtest::kStartLatitude + 0.0045;
    const double west = followtest::kStartLongitude - 0.0040, east = followtest::kStartLongitude + 0.0045;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral(R"({"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {},
        "geometry": {"type": "Polygon", "coordinates": [[[%1, %2], [%3, %2], [%3, %4], [%1, %4], [%1, %2]]]}}]})")
                .arg(west, 0, 'f', 7)
                .arg(south, 0, 'f', 7)
                .arg(east, 0, 'f', 7)
                .arg(north, 0, 'f', 7)
                .toUtf8());
    return path;
}

// klf-report --json on the log as it stands now.
QJsonArray report(const QString& log, const QString& area, bool pooled, const QString& json)
{
    ReportOptions o;
    o.inputs = {log.toStdString()};
    o.area = area.toStdString();
    o.threshold = -95;
    o.tileMetres = 100;
    o.minSamples = 20;
    o.poolReceivers = pooled;
    o.json = json.toStdString();
    std::FILE* sink = std::tmpfile();
    EXPECT_EQ(ReportRun::run(o, sink, sink), ReportRun::kExitOk);
    std::fclose(sink);
    QFile f(json);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("sections")).toArray();
}

// The share of a rectangle's pixels that pass.
double share(const QImage& image, QRectF r, const std::function<bool(QColor)>& pass)
{
    r = r.normalized().intersected(QRectF(image.rect()));
    int n = 0, yes = 0;
    for (int y = int(r.top()) + 1; y < int(r.bottom()) - 1; ++y)
        for (int x = int(r.left()) + 1; x < int(r.right()) - 1; ++x) {
            ++n;
            yes += pass(image.pixelColor(x, y));
        }
    return n ? double(yes) / n : 0;
}

QRectF screenRect(const MapView& view, const CoverageGrid::Bounds& b)
{
    return QRectF(view.viewport().screenFromWorld(TileMath::worldFromGeo(b.north, b.west)),
                  view.viewport().screenFromWorld(TileMath::worldFromGeo(b.south, b.east)));
}

class MapFollowTest : public ::testing::Test
{
protected:
    MapWindow::Options options() const
    {
        MapWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("tavrix-map.ini"));
        o.grid = true;
        return o;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(MapFollowTest, AGrowingLogFillsInTheCellsAndTheReportsFigures)
{
    const QString path = dir.filePath(QStringLiteral("today.KLF"));
    const QString area = writeArea(dir.filePath(QStringLiteral("area.geojson")));
    const DriveTestLog full = followtest::drive(60);
    const size_t half = followtest::drive(30).bytes.size(); // a record ends here

    MapWindow window(options());
    window.resize(900, 700);
    window.show();
    FollowController::Options follow;
    follow.path = path; // not there yet: waited for
    follow.acceptance = true;
    follow.tiler.tileMetres = 100;
    follow.tiler.thresholdDbm = -95;
    follow.tiler.minSamples = 20;
    std::string error;
    ASSERT_TRUE(follow.area.read(area.toStdString(), error)) << error;
    window.follow(follow);
    FollowController* f = window.follower();
    LogFollowFeed* feed = f->feed();
    ASSERT_TRUE(until([&] { return window.statusMessage().contains(QStringLiteral("Waiting for today.KLF")); }))
        << window.statusMessage().toStdString();

    // The first half, in pieces of 211 bytes, and 7 bytes into the next record.
    for (size_t at = 0; at < half + 7; at += 211)
        appendFile(path, full.bytes.data() + at, std::min<size_t>(211, half + 7 - at));
    ASSERT_TRUE(until([&] { return feed->offset() == half; }, 30000)) << feed->offset() << " of " << half;

    // The report on the log as it stands, cut record and all.
    const QString standing = dir.filePath(QStringLiteral("standing.KLF"));
    ASSERT_TRUE(QFile::copy(path, standing));
    CoveragePanel* choices = window.coverage()->panel();
    for (int receiver : {1, 2, 0}) {
        SCOPED_TRACE("receiver " + std::to_string(receiver));
        choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(receiver));
        ASSERT_TRUE(f->section());
        EXPECT_EQ(f->section()->receiver, receiver);
        expectReportsFigures(*f->section(), report(standing, area, receiver == 0, dir.filePath(QStringLiteral("half.json"))));
    }

    // The rest in pieces of 97 bytes; the window takes it all.
    for (size_t at = half + 7; at < full.bytes.size(); at += 97)
        appendFile(path, full.bytes.data() + at, std::min<size_t>(97, full.bytes.size() - at));
    ASSERT_TRUE(until([&] { return feed->offset() == full.bytes.size(); }, 30000));
    EXPECT_GT(feed->batches(), 2u);
    for (int receiver : {1, 0}) {
        SCOPED_TRACE("receiver " + std::to_string(receiver));
        choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(receiver));
        ASSERT_TRUE(f->section());
        expectReportsFigures(*f->section(), report(path, area, receiver == 0, dir.filePath(QStringLiteral("full.json"))));
    }
    // The second channel of R1, chosen in the Coverage panel.
    choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(1));
    const int second = choices->frequencyBox()->count() - 1;
    ASSERT_EQ(second, 2) << "two frequencies on R1, one of them shared with R2";
    choices->frequencyBox()->setCurrentIndex(second);
    ASSERT_TRUE(f->section());
    EXPECT_EQ(f->section()->frequencyMHz, choices->frequencyBox()->itemData(second).toDouble());
    expectReportsFigures(*f->section(), report(path, area, false, dir.filePath(QStringLiteral("second.json"))));

    // The panel says it, and where to go: the drive left the area north-east,
    // the undriven tiles lie west.
    choices->frequencyBox()->setCurrentIndex(0);
    const AcceptanceFigures& figures = f->section()->figures;
    EXPECT_TRUE(f->panel()->testedLabel()->text().startsWith(QString::number(figures.tilesTested) + QStringLiteral(" of ")));
    EXPECT_TRUE(f->panel()->verdictLabel()->text().startsWith(QLatin1String(AcceptanceFigures::verdictText(figures.verdict))));
    ASSERT_TRUE(f->nearest());
    EXPECT_TRUE(f->nearest()->compass == "W" || f->nearest()->compass == "SW" || f->nearest()->compass == "NW")
        << f->nearest()->compass;
    EXPECT_TRUE(f->panel()->nearestLabel()->text().startsWith(QString::fromStdString(f->nearest()->compass) + QLatin1Char(',')));
    for (QLabel* l : f->panel()->findChildren<QLabel*>()) {
        if (l->textInteractionFlags() & Qt::TextSelectableByMouse) {
            EXPECT_FALSE(l->accessibleName().isEmpty()) << l->text().toStdString();
        }
    }

    // The picture: each passed tile green through, each failed one red, and
    // without the tiles each cell in its median's colour. The view followed
    // the vehicle; now the whole drive.
    window.view()->setFollowNewest(false);
    window.view()->fitDrive();
    QImage shot = window.view()->renderImage();
    int passed = 0, failed = 0;
    for (const AcceptanceTile& t : f->section()->tiles) {
        const QRectF r = screenRect(*window.view(), t.bounds);
        if (t.state == AcceptanceTile::State::Passed) {
            ++passed;
            EXPECT_GT(share(shot, r, [](QColor c) { return c.green() > c.red() + 20; }), 0.6) << "passed tile " << t.key;
        } else if (t.state == AcceptanceTile::State::Failed) {
            ++failed;
            EXPECT_GT(share(shot, r, [](QColor c) { return c.red() > c.green() + 40; }), 0.6) << "failed tile " << t.key;
        }
    }
    EXPECT_GT(passed, 0);
    EXPECT_GT(failed, 0);
    window.view()->setAcceptance(nullptr);
    choices->receiverBox()->setCurrentIndex(choices->receiverBox()->findData(2)); // one frequency: one colour a cell
    shot = window.view()->renderImage();
    const CoverageGrid cells(follow.cellMetres);
    const RssiPalette& palette = window.view()->legend();
    int checked = 0;
    for (int s = 2; s < 58; s += 6) {
        const double lat = followtest::kStartLatitude + s * followtest::kDegreesPerSecond;
        const double lon = followtest::kStartLongitude + s * followtest::kDegreesPerSecond;
        const CoverageGrid::Cell cell = cells.cellOf(lat, lon);
        const QString figures = window.coverage()->layer().describeAt(lat, lon);
        const int median = figures.section(QStringLiteral("median "), 1).section(QLatin1Char(' '), 0, 0).toInt();
        ASSERT_LT(median, 0) << figures.toStdString();
        const QColor want = QColor::fromRgb(palette.argb(median));
        EXPECT_GT(share(shot, screenRect(*window.view(), cells.bounds(cell)), [&](QColor c) {
            // The cell's colour at its alpha over the grid's land colour.
            const auto near = [](int got, int colour, int land) { return std::abs(got - (colour * 190 + land * 65) / 255) < 24; };
            return near(c.red(), want.red(), 242) && near(c.green(), want.green(), 239) && near(c.blue(), want.blue(), 233);
        }), 0.4) << "cell at second " << s << ": " << figures.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 9);
}

// Another log put at the name (the logger started again) is followed from
// its start, and the map says so and starts over; a log deleted is said,
// and the next one at its name followed.
TEST_F(MapFollowTest, ALogReplacedAtItsNameStartsTheMapOver)
{
    const QString path = dir.filePath(QStringLiteral("run.KLF"));
    const DriveTestLog first = followtest::drive(20);
    first.write(path.toStdString());
    MapWindow window(options());
    window.show();
    FollowController::Options follow;
    follow.path = path;
    window.follow(follow);
    LogFollowFeed* feed = window.follower()->feed();
    ASSERT_TRUE(until([&] { return feed->offset() == first.bytes.size(); }, 30000));
    EXPECT_EQ(window.view()->pointCount(), 19u) << "a dot at each fix after the first";

    QComboBox* receiver = window.coverage()->panel()->receiverBox();
    receiver->setCurrentIndex(receiver->findData(2));
    DriveTestLog second = followtest::drive(8);
    const QString other = dir.filePath(QStringLiteral("other.KLF"));
    second.write(other.toStdString());
    // In one step, as a file moved into place: never a moment without a log at the name.
    ASSERT_EQ(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    ASSERT_TRUE(until([&] { return feed->offset() == second.bytes.size() && window.view()->pointCount() == 7; }, 30000))
        << window.view()->pointCount();
    EXPECT_TRUE(window.statusMessage().contains(QStringLiteral("replaced"))) << window.statusMessage().toStdString();
    EXPECT_EQ(window.coverage()->layer().frequencies().size(), 2u);
    EXPECT_EQ(receiver->currentData().toInt(), 2) << "the receiver chosen stays through a log started over";
    EXPECT_EQ(window.coverage()->chosenReceiver(), 2);

    // Deleted: said, the map kept; the next file under the name is followed.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(until([&] { return window.statusMessage().contains(QStringLiteral("was deleted")); }))
        << window.statusMessage().toStdString();
    EXPECT_EQ(window.view()->pointCount(), 7u);
    const DriveTestLog third = followtest::drive(12);
    appendFile(path, third.bytes.data(), third.bytes.size());
    ASSERT_TRUE(until([&] { return feed->offset() == third.bytes.size() && window.view()->pointCount() == 11; }, 30000))
        << window.view()->pointCount();
}

// The program itself: --follow with --screenshot draws the log as it stood
// and exits; a wrong area is a usage error said before any window.
TEST_F(MapFollowTest, TheProgramFollowsALogIntoAScreenshot)
{
    const QString path = QString::fromStdString(followtest::drive(40).write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString png = dir.filePath(QStringLiteral("shot.png"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    const QString tool = QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR")) + QStringLiteral("/tavrix-map");
    p.start(tool, {QStringLiteral("--grid"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                   QStringLiteral("--follow"), path, QStringLiteral("--threshold"), QStringLiteral("-95"),
                   QStringLiteral("--min-samples"), QStringLiteral("20"), QStringLiteral("--screenshot"), png});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    int green = 0, red = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            green += c.green() > c.red() + 40 && c.green() > c.blue() + 40;
            red += c.red() > c.green() + 60 && c.red() > c.blue();
        }
    EXPECT_GT(green, 500) << "passed tiles";
    EXPECT_GT(red, 500) << "failed tiles";

    p.start(tool, {QStringLiteral("--follow"), path, QStringLiteral("--threshold"), QStringLiteral("-95"),
                   QStringLiteral("--area"), dir.filePath(QStringLiteral("none.gpkg"))});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("none.gpkg"));
}

// Cells updated batch by batch, under any choice of figure, receiver and
// frequency, draw and sum up as the same cells given whole: the places a
// batch touched are worked out again, and nothing else needs to be.
TEST(CoverageLayerLive, CellsUpdatedBatchByBatchAreTheWholeMap)
{
    const CoverageGrid grid(50);
    const CoverageGrid::Cell origin = grid.cellOf(52.2, 0.1);
    const double mhz[] = {851.0125, 851.1, 852.5};
    struct Choice { CoverageLayer::Figure figure; int receiver; double frequency; };
    const Choice choices[] = {{CoverageLayer::Figure::Median, 0, 0},
                              {CoverageLayer::Figure::P10, 2, 851.1},
                              {CoverageLayer::Figure::Count, 1, 0}};
    for (const Choice& choice : choices) {
        SCOPED_TRACE(int(choice.figure) * 100 + choice.receiver);
        std::mt19937 random(7);
        CoverageLayer live;
        live.setFigure(choice.figure);
        live.setReceiver(choice.receiver);
        live.setFrequency(choice.frequency);
        std::map<std::tuple<int64_t, int, double>, CoverageMapReader::Cell> state;
        for (int batch = 0; batch < 25; ++batch) {
            std::vector<CoverageMapReader::Cell> changed;
            const int n = 1 + int(random() % 30);
            for (int i = 0; i < n; ++i) {
                const CoverageGrid::Cell c{origin.row + int32_t(random() % 6), origin.column + int32_t(random() % 7)};
                CoverageMapReader::Cell cell;
                cell.cellKey = CoverageGrid::key(c);
                cell.bounds = grid.bounds(c);
                cell.receiver = 1 + int(random() % 2);
                cell.frequencyMHz = mhz[random() % 3];
                auto& s = state[{cell.cellKey, cell.receiver, cell.frequencyMHz}];
                cell.figures.count = s.figures.count + 1 + random() % 50; // readings only add
                cell.figures.median = -120 + int(random() % 70);
                cell.figures.p10 = cell.figures.median - int(random() % 10);
                cell.drives = 1;
                s = cell;
                changed.push_back(cell);
            }
            live.updateCells(changed);

            std::vector<CoverageMapReader::Cell> all;
            for (const auto& [key, cell] : state)
                all.push_back(cell);
            CoverageLayer whole;
            whole.setCells(all);
            whole.setFigure(choice.figure);
            whole.setReceiver(choice.receiver);
            whole.setFrequency(choice.frequency);
            ASSERT_EQ(live.shownCells(), whole.shownCells()) << "batch " << batch;
            ASSERT_EQ(live.maxCount(), whole.maxCount()) << "batch " << batch;
            ASSERT_EQ(live.frequencySummaries().size(), whole.frequencySummaries().size());
            for (size_t i = 0; i < whole.frequencySummaries().size(); ++i) {
                EXPECT_EQ(live.frequencySummaries()[i].mhz, whole.frequencySummaries()[i].mhz);
                EXPECT_EQ(live.frequencySummaries()[i].samples, whole.frequencySummaries()[i].samples);
                EXPECT_EQ(live.frequencySummaries()[i].cells, whole.frequencySummaries()[i].cells);
            }
            MapViewport viewport;
            viewport.setSize(QSizeF(240, 200));
            viewport.fit(whole.worldBounds());
            const RssiPalette palette;
            QImage a(240, 200, QImage::Format_ARGB32_Premultiplied), b = a;
            a.fill(Qt::white);
            b.fill(Qt::white);
            {
                QPainter pa(&a), pb(&b);
                live.draw(pa, viewport, palette);
                whole.draw(pb, viewport, palette);
            }
            ASSERT_TRUE(a == b) << "batch " << batch;
        }
        // A choice changed afterwards: the whole map is worked out again, as before.
        live.setReceiver(choice.receiver == 1 ? 2 : 1);
        live.updateCells({state.begin()->second});
        EXPECT_GT(live.shownCells(), 0u);
    }
}
