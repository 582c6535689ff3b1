// The tavrix-map program as a user starts it: its options, the man page that
// documents them, and screenshots of a drive and of a live point.
#include "drive/DriveTestLog.h"
#include "gps/MapTestSupport.h"
#include "map/TestBlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <memory>

namespace {

QString tool()
{
    return QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR")) + QStringLiteral("/tavrix-map");
}

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The process ends by itself; the limit only guards against a hang.
Finished run(const QStringList& args, QProcess* started = nullptr)
{
    QProcess own;
    QProcess& p = started ? *started : own;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Never the real tile server, whatever the options say.
    env.insert(QStringLiteral("TAVRIX_MAP_TILE_URL"), QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
    p.setProcessEnvironment(env);
    if (!started)
        p.start(tool(), args);
    EXPECT_TRUE(p.waitForFinished(30000)) << args.join(' ').toStdString();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

TEST(MapTool, TheManPageCoversEveryHelpOption)
{
    const Finished help = run({QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0);
    QFile page(QStringLiteral(TAVRIX_SOURCE_DIR "/tools/map/tavrix-map.1.scd"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString man = QString::fromUtf8(page.readAll());
    const QRegularExpression option(QStringLiteral("(?:^|\\s)(--?[a-z][a-z-]*)"));
    int options = 0;
    for (auto it = option.globalMatch(QString::fromUtf8(help.out)); it.hasNext();) {
        const QString name = it.next().captured(1);
        ++options;
        EXPECT_TRUE(man.contains(QStringLiteral("*%1*").arg(name))) << name.toStdString() << " is not in the man page";
    }
    EXPECT_GE(options, 10);
}

// The help and the man page say the same: the file is optional, a map is
// meant wherever a log is, Alt+T moves the time slider, and the page points
// to the tool that makes the maps.
TEST(MapTool, TheHelpAndTheManPageAgree)
{
    const Finished help = run({QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0);
    const QString text = QString::fromUtf8(help.out);
    QFile page(QStringLiteral(TAVRIX_SOURCE_DIR "/tools/map/tavrix-map.1.scd"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString man = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("[options] [FILE.KLF|MAP.gpkg]"))) << text.toStdString();
    EXPECT_TRUE(man.contains(QStringLiteral("[_FILE.KLF_ | _MAP.gpkg_]")));
    for (const QString& both : {QStringLiteral("Alt+T"), QStringLiteral("coverage map")}) {
        EXPECT_TRUE(text.contains(both)) << both.toStdString() << " missing in --help";
        EXPECT_TRUE(man.contains(both)) << both.toStdString() << " missing in the man page";
    }
    EXPECT_FALSE(text.contains(QStringLiteral("the log or the MBTiles file"))) << "a .gpkg is meant too";
    EXPECT_TRUE(man.contains(QStringLiteral("*klf-coverage*(1)")));
}

TEST(MapTool, ARecordedDriveBecomesAScreenshot)
{
    QTemporaryDir dir;
    DriveTestLog log;
    log.header(0x03)
        .gps(40.5000, -74.4000, 0)
        .table({{0, 4, -50}})
        .gps(40.5010, -74.3970, 8);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString png = dir.filePath(QStringLiteral("shot.png"));
    const Finished r = run({QStringLiteral("--grid"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                       QStringLiteral("--screenshot"), png, drive});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    int red = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            red += shot.pixel(x, y) == qRgb(255, 0, 0);
    EXPECT_GT(red, 20) << "the dot at the range's maximum";
}

// A coverage map klf-coverage made is read on a worker; the picture is taken
// once its cells are drawn.
TEST(MapTool, ACoverageMapBecomesAScreenshot)
{
    QTemporaryDir dir;
    DriveTestLog log;
    log.header(0x03).gps(40.5000, -74.4000, 0);
    for (int s = 1; s <= 20; ++s)
        log.table({{0, 4, -50}}).gps(40.5000 + 0.0002 * s, -74.4000, s % 60);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString map = dir.filePath(QStringLiteral("c.gpkg"));
    QProcess coverage;
    coverage.start(QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR")) + QStringLiteral("/klf-coverage"),
                   {QStringLiteral("-o"), map, drive});
    ASSERT_TRUE(coverage.waitForFinished(30000));
    ASSERT_EQ(coverage.exitCode(), 0) << coverage.readAllStandardError().toStdString();
    const QString png = dir.filePath(QStringLiteral("shot.png"));
    const Finished r = run({QStringLiteral("--grid"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                            QStringLiteral("--screenshot"), png, map});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    int reddish = 0; // -50 dBm, red at the palette's top, seen through the cells' alpha
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            reddish += c.red() > 200 && c.green() < 120 && c.blue() < 120;
        }
    EXPECT_GT(reddish, 20) << "the cells at the range's maximum";
}

TEST(MapTool, ALivePointBecomesAScreenshot)
{
    QTemporaryDir dir;
    const std::string name = uniqueBlockName("maptool");
    TestBlock block(name);
    const QString png = dir.filePath(QStringLiteral("live.png"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    block.write(40.5471, -74.3803, -120);
    p.start(tool(), {QStringLiteral("--live"), QStringLiteral("--grid"), QStringLiteral("--poll"), QStringLiteral("--block"),
                     QString::fromStdString(name).mid(1), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                     QStringLiteral("--screenshot"), png});
    const Finished r = run({}, &p);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.pixel(shot.width() / 2, shot.height() / 2), qRgb(0, 0, 255)) << "the newest point, followed, in the middle";
}

TEST(MapTool, RefusesLiveAndALogTogether)
{
    const Finished r = run({QStringLiteral("--live"), QStringLiteral("x.KLF")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("either --live or one log")) << r.err.toStdString();
}

// Help, version and a mistake are answered before any window: they work
// where there is no display at all.
TEST(MapTool, AnswersHelpVersionAndMistakesWithoutADisplay)
{
    struct Case { QStringList args; int exitCode; const char* says; };
    const Case cases[] = {
        {{QStringLiteral("--help")}, 0, "--screenshot"},
        {{QStringLiteral("-h")}, 0, "--screenshot"},
        {{QStringLiteral("--version")}, 0, "tavrix-map "},
        {{QStringLiteral("--bogus")}, 1, "bogus"},
        {{QStringLiteral("--screenshot")}, 1, "screenshot"},
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool(), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
        EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, c.exitCode) << said.toStdString();
        EXPECT_TRUE(said.contains(c.says)) << said.toStdString();
        EXPECT_FALSE(said.contains("display")) << said.toStdString();
    }
}

// A screenshot of what cannot be read is an error with the reason, never a
// blank picture and exit status 0.
TEST(MapTool, AScreenshotOfWhatCannotBeOpenedSaysSoAndFails)
{
    QTemporaryDir dir;
    QFile(dir.filePath(QStringLiteral("empty.KLF"))).open(QIODevice::WriteOnly);
    QFile junk(dir.filePath(QStringLiteral("junk.mbtiles")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a database");
    junk.close();
    QFile notMap(dir.filePath(QStringLiteral("junk.gpkg")));
    ASSERT_TRUE(notMap.open(QIODevice::WriteOnly));
    notMap.write("not a coverage map");
    notMap.close();
    DriveTestLog log;
    log.header(0x03).gps(40.5, -74.4, 0).table({{0, 4, -80}}).gps(40.501, -74.399, 4);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString png = dir.filePath(QStringLiteral("shot.png"));
    const QString settings = dir.filePath(QStringLiteral("s.ini"));

    struct Case { QStringList args; QString named; };
    const Case cases[] = {
        {{dir.filePath(QStringLiteral("absent.KLF"))}, QStringLiteral("absent.KLF")},
        {{dir.filePath(QStringLiteral("empty.KLF"))}, QStringLiteral("empty.KLF")},
        {{dir.path()}, dir.path()},
        {{QStringLiteral("--mbtiles"), junk.fileName(), drive}, QStringLiteral("junk.mbtiles")},
        {{notMap.fileName()}, QStringLiteral("junk.gpkg")}, // found out on the worker, once the window runs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Finished r = run(QStringList{QStringLiteral("--grid"), QStringLiteral("--settings"), settings,
                                           QStringLiteral("--screenshot"), png} + c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("tavrix-map: cannot open ") && r.err.contains(c.named.toUtf8())) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(png));
    }
}

// Copies map to copy as a klf-coverage run killed while adding to it leaves
// it: pages of an unfinished transaction in the file, and beside it the
// journal that undoes them.
void copyWithHotJournal(const QString& map, const QString& copy)
{
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(map.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE,
                                                      nullptr, nullptr, nullptr));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->StartTransaction(), OGRERR_NONE);
    // A cache of a few pages and many new ones: SQLite writes pages into the
    // file before the transaction ends, as a long merge does.
    for (const char* sql : {"PRAGMA cache_size=2", "CREATE TABLE pad(b BLOB)",
                            "INSERT INTO pad WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 400) SELECT randomblob(2000) FROM n"})
        ds->ReleaseResultSet(ds->ExecuteSQL(sql, nullptr, nullptr));
    ASSERT_TRUE(QFile::copy(map, copy));
    ASSERT_TRUE(QFile::copy(map + QStringLiteral("-journal"), copy + QStringLiteral("-journal")));
    ASSERT_EQ(ds->RollbackTransaction(), OGRERR_NONE);
}

// A map left by a killed klf-coverage: tavrix-map says the real reason, what
// heals it and that the journal must stay; running klf-coverage on it again
// heals it.
TEST(MapTool, AMapLeftByAKilledCoverageRunSaysWhyAndHowToHealIt)
{
    QTemporaryDir dir;
    DriveTestLog log;
    log.header(0x03).gps(40.5000, -74.4000, 0);
    for (int s = 1; s <= 20; ++s)
        log.table({{0, 4, -50}}).gps(40.5000 + 0.0002 * s, -74.4000, s % 60);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString made = dir.filePath(QStringLiteral("made.gpkg"));
    const QString bin = QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR"));
    auto coverage = [&](const QString& map) {
        QProcess p;
        p.start(bin + QStringLiteral("/klf-coverage"), {QStringLiteral("-o"), map, drive});
        EXPECT_TRUE(p.waitForFinished(30000));
        return std::pair{p.exitCode(), p.readAllStandardError()};
    };
    ASSERT_EQ(coverage(made).first, 0);
    const QString map = dir.filePath(QStringLiteral("c.gpkg"));
    copyWithHotJournal(made, map);
    if (::testing::Test::HasFatalFailure())
        return;

    const QString png = dir.filePath(QStringLiteral("shot.png"));
    const QStringList args = {QStringLiteral("--grid"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                              QStringLiteral("--screenshot"), png, map};
    const Finished broken = run(args);
    EXPECT_EQ(broken.exitCode, 2);
    const QString said = QString::fromUtf8(broken.err);
    EXPECT_TRUE(said.contains(QStringLiteral("readonly"))) << "GDAL's own reason: " << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("not a coverage map"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("run klf-coverage -o c.gpkg again"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("Do not delete c.gpkg-journal"))) << said.toStdString();
    EXPECT_TRUE(QFile::exists(map + QStringLiteral("-journal")));

    // The log is in the map already: the run adds nothing, and heals it.
    const auto [healed, why] = coverage(map);
    EXPECT_EQ(healed, 0) << why.toStdString();
    EXPECT_FALSE(QFileInfo(map + QStringLiteral("-journal")).size() > 0);
    const Finished shown = run(args);
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_FALSE(QImage(png).isNull());
}

// A home that cannot be written (here: a file where the folders would be):
// one line about the tile cache, naming its folder, however many tiles are
// asked for, and the drive is drawn all the same.
TEST(MapTool, AHomeThatCannotBeWrittenGivesOneCacheWarning)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    QFile(home).open(QIODevice::WriteOnly);
    DriveTestLog log;
    log.header(0x03).gps(40.5, -74.4, 0).table({{0, 4, -80}}).gps(40.6, -74.2, 4);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString png = dir.filePath(QStringLiteral("shot.png"));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TAVRIX_MAP_TILE_URL"), QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
    for (const char* var : {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        env.insert(QLatin1String(var), home);
    p.setProcessEnvironment(env);
    p.start(tool(), {QStringLiteral("--screenshot"), png, drive});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    qsizetype cacheLines = 0;
    for (const QString& line : err.split(QLatin1Char('\n')))
        cacheLines += line.contains(QStringLiteral("cache"), Qt::CaseInsensitive);
    EXPECT_EQ(cacheLines, 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("cannot write the tile cache folder ") + home)) << err.toStdString();
    EXPECT_FALSE(QImage(png).isNull());
}

// A picture that cannot be written whole (a file size limit stands in for a
// full disk) fails the run and leaves the earlier picture as it was.
TEST(MapTool, AScreenshotThatCannotBeWrittenLeavesTheEarlierPicture)
{
    QTemporaryDir dir;
    DriveTestLog log;
    log.header(0x03).gps(40.5, -74.4, 0).table({{0, 4, -80}}).gps(40.501, -74.399, 4);
    const QString drive = QString::fromStdString(log.write(dir.filePath(QStringLiteral("d.KLF")).toStdString()));
    const QString png = dir.filePath(QStringLiteral("shot.png"));
    QFile old(png);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the earlier picture");
    old.close();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    // 512 bytes: below any picture of the window; the signal the limit raises is ignored.
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\""),
                                   tool(), QStringLiteral("--grid"), QStringLiteral("--settings"),
                                   dir.filePath(QStringLiteral("s.ini")), QStringLiteral("--screenshot"), png, drive});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2) << p.readAllStandardError().toStdString();
    QFile after(png);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), QByteArray("the earlier picture"));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_FALSE(left.join(' ').contains(QStringLiteral("shot.png."))) << "a temporary file stays behind: "
                                                                          << left.join(' ').toStdString();
}

} // namespace
