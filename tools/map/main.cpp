// tavrix-map: the drive on a map, live from the data logger's map block or
// recorded in a .KLF log.
#include "CoverageOptions.h"
#include "ReportOptions.h"
#include "map/CoverageController.h"
#include "map/LivePointFeed.h"
#include "map/MapView.h"
#include "map/MapWindow.h"
#include "map/MbTilesSource.h"

#include "coverage/PgSource.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitCannotOpen = 2;

// Qt's own window-system options take a value; they are the window's business,
// not the command line's.
QStringList withoutQtOptions(int argc, char** argv)
{
    static const QStringList withValue = {QStringLiteral("-platform"), QStringLiteral("-platformpluginpath"),
                                          QStringLiteral("-platformtheme"), QStringLiteral("-plugin"),
                                          QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
                                          QStringLiteral("-qwindowicon"), QStringLiteral("-display"),
                                          QStringLiteral("-style"), QStringLiteral("-stylesheet")};
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (i > 0 && withValue.contains(a) && i + 1 < argc)
            ++i;
        else if (i > 0 && (a == QLatin1String("-reverse") || a == QLatin1String("-widgetcount")))
            continue;
        else
            args << a;
    }
    return args;
}

// What a run given on the command line needs that the window cannot show:
// a screenshot of a log that is not there is an error, not a blank picture.
QString cannotOpenLog(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("a folder, not a log");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (file.size() == 0)
        return QStringLiteral("empty file, no header");
    return QString();
}

// The acceptance test of a followed log or of a coverage map takes
// klf-report's options, parsed as klf-report parses them; the area is read
// before any window, so a wrong file is said at once. A map's tiles are its
// cells unless --tile says otherwise, so its area is checked once read.
bool acceptanceOptions(const QCommandLineParser& parser, const QStringList& names, bool forMap,
                       FollowController::Options& out, QString& error)
{
    ReportOptions report;
    for (const QString& name : names) {
        if (!parser.isSet(name))
            continue;
        std::string refusal;
        if (!ReportOptions::takeAcceptanceOption("--" + name.toStdString(), parser.value(name).toStdString(), report, refusal)) {
            error = QString::fromStdString(refusal);
            return false;
        }
        if (!report.threshold) {
            error = QStringLiteral("--%1 needs --threshold: the level, in dBm, that a tile must reach").arg(name);
            return false;
        }
    }
    out.cellMetres = CoverageOptions().cellMetres; // klf-coverage's cells
    out.acceptance = report.threshold.has_value();
    out.tileGiven = report.tileMetres.has_value() || !forMap;
    out.tiler = report.tilerSettings(report.tileMetres.value_or(100)); // as klf-report bins logs
    out.confidence = report.confidence / 100;
    std::string why;
    if (!report.area.empty() && !out.area.read(report.area, why)) {
        error = QStringLiteral("%1: %2").arg(QString::fromStdString(report.area), QString::fromStdString(why));
        return false;
    }
    if (out.tileGiven && !out.area.empty() && AcceptanceTiler(out.tiler, &out.area).areaTiles().empty()) {
        error = QStringLiteral("%1: the area holds no %2 m tile: no tile's centre lies inside it")
                    .arg(QString::fromStdString(report.area))
                    .arg(out.tiler.tileMetres);
        return false;
    }
    return true;
}

void setNames(QCoreApplication&)
{
    QCoreApplication::setApplicationName(QStringLiteral("tavrix-map"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Tavrix"));
}

} // namespace

int main(int argc, char** argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows the signal strength along a Tavrix drive on a map: live from the data logger, "
        "or recorded in a .KLF log. Options apply to this run only; the window's choices are kept.\n"
        "A shared coverage map in PostgreSQL is given as PG: and libpq's connection text (PG:dbname=fleet\n"
        "host=office); it refreshes by itself when another upload commits.\n"
        "Keys: + and - zoom, arrows pan, Ctrl+F fits the drive, Ctrl+O opens a log or a map, Ctrl+L live,\n"
        "Ctrl+E exports the view, Alt+T then arrows or Page Up/Down move a drive's time slider, Ctrl+Q quits.\n"
        "Files: ~/.config/Tavrix/tavrix-map.conf (the settings, or --settings FILE);\n"
        "~/.cache/Tavrix/tavrix-map/tiles (the tile cache).\n"
        "With --follow, the log is drawn as the logger writes it. With --threshold and --follow or a coverage\n"
        "map (file or PG:), the acceptance test of the Coverage panel's receiver and frequency runs beside it,\n"
        "with klf-report's figures; a shared map's are read again whenever another upload commits.\n"
        "Exit status: 0 success; 1 usage error (an unreadable --area, or with --screenshot a map's tiles\n"
        "refused, --tile smaller than its cells included); 2 with --screenshot: the log,\n"
        "the coverage map (file or database) or the MBTiles file cannot be opened, or the picture cannot be\n"
        "written."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.KLF|MAP.gpkg"),
                                 QStringLiteral("A log to draw, or a coverage map made by klf-coverage, in a file or "
                                                "as PG:CONNINFO in a PostgreSQL database (optional)."),
                                 QStringLiteral("[FILE.KLF|MAP.gpkg]"));
    const QCommandLineOption live(QStringLiteral("live"),
                                  QStringLiteral("Follow the data logger's map points as they come."));
    const QCommandLineOption tileUrl(QStringLiteral("tile-url"),
                                     QStringLiteral("Tile server URL template with {z}, {x} and {y} "
                                                    "(also TAVRIX_MAP_TILE_URL)."),
                                     QStringLiteral("URL"));
    const QCommandLineOption mbtiles(QStringLiteral("mbtiles"),
                                     QStringLiteral("Base map from an MBTiles file instead of a tile server."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption grid(QStringLiteral("grid"), QStringLiteral("No base map: a plain grid."));
    const QCommandLineOption poll(QStringLiteral("poll"),
                                  QStringLiteral("Look for new points every 200 ms instead of waiting "
                                                 "for ZKT_MAP_UPDATE."));
    const QCommandLineOption block(QStringLiteral("block"),
                                   QStringLiteral("Shared memory block name (default ZKTPELLORN)."),
                                   QStringLiteral("NAME"), QStringLiteral("ZKTPELLORN"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Keep the settings in FILE instead of the user's."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the map as a PNG once the drive, the first "
                                                       "live point or the followed log as it first stood is drawn, then exit."),
                                        QStringLiteral("PNG"));
    const QCommandLineOption follow(QStringLiteral("follow"),
                                    QStringLiteral("Draw a log as the logger writes it: the drive and its coverage cells "
                                                   "fill in; waits for a log not there yet."),
                                    QStringLiteral("FILE.KLF"));
    // The acceptance test of a followed log or a coverage map, as klf-report runs it.
    const QList<QCommandLineOption> acceptance = {
        {QStringLiteral("threshold"), QStringLiteral("With --follow or a coverage map: the acceptance test's level a tile "
                                                     "must reach, -150 to 0 dBm."),
         QStringLiteral("DBM")},
        {QStringLiteral("area"), QStringLiteral("With --threshold: the service area, polygons in any vector file GDAL reads "
                                                "(default: the driven tiles)."), QStringLiteral("FILE")},
        {QStringLiteral("tile"), QStringLiteral("With --threshold: tile size, 10 to 1000 m (default 100 with --follow; a map's "
                                                "cell size, and no smaller, with a map)."), QStringLiteral("METRES")},
        {QStringLiteral("min-samples"), QStringLiteral("With --threshold: samples a tile needs to be tested (default 36)."),
         QStringLiteral("N")},
        {QStringLiteral("reliability"), QStringLiteral("With --threshold: the share of tiles that must pass, 1 to 99.9 % (default 95)."),
         QStringLiteral("PCT")},
        {QStringLiteral("confidence"), QStringLiteral("With --threshold: one-sided confidence of the verdict, 50 to 99.9 % (default 90)."),
         QStringLiteral("PCT")},
    };
    parser.addOptions({live, tileUrl, mbtiles, grid, poll, block, settings, screenshot, follow});
    parser.addOptions(acceptance);
    {
        // Help, version and mistakes are answered without a display.
        QCoreApplication plain(argc, argv);
        setNames(plain);
        parser.process(withoutQtOptions(argc, argv));
    }

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (parser.isSet(live) && !files.isEmpty())) {
        std::fprintf(stderr, "tavrix-map: give either --live or one log or map\n");
        return kExitUsage;
    }
    QStringList names;
    QString acceptanceGiven; // the first acceptance option given
    for (const QCommandLineOption& o : acceptance) {
        names << o.names().first();
        if (parser.isSet(o) && acceptanceGiven.isEmpty())
            acceptanceGiven = o.names().first();
    }
    FollowController::Options followed;
    std::optional<FollowController::Options> mapTest;
    if (parser.isSet(follow)) {
        if (parser.isSet(live) || !files.isEmpty()) {
            std::fprintf(stderr, "tavrix-map: give --follow alone, without --live or another log or map\n");
            return kExitUsage;
        }
        QString why;
        followed.path = parser.value(follow);
        if (!acceptanceOptions(parser, names, false, followed, why)) {
            std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(why));
            return kExitUsage;
        }
    } else if (!acceptanceGiven.isEmpty()) {
        if (files.isEmpty() || !CoverageController::isCoverageFile(files.first())) {
            std::fprintf(stderr, "tavrix-map: --%s goes with --follow or a coverage map (MAP.gpkg or PG:...)\n",
                         qPrintable(acceptanceGiven));
            return kExitUsage;
        }
        QString why;
        mapTest.emplace();
        if (!acceptanceOptions(parser, names, true, *mapTest, why)) {
            std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(why));
            return kExitUsage;
        }
    }
    const QString shot = parser.value(screenshot);
    if (!shot.isEmpty() && !files.isEmpty() && !PgSource::is(files.first().toStdString())) {
        if (const QString why = cannotOpenLog(files.first()); !why.isEmpty()) {
            std::fprintf(stderr, "tavrix-map: cannot open %s: %s\n", qPrintable(files.first()), qPrintable(why));
            return kExitCannotOpen;
        }
    }

    QApplication app(argc, argv);
    setNames(app);
    QApplication::setDesktopFileName(QStringLiteral("tavrix-map"));
    if (!shot.isEmpty() && parser.isSet(mbtiles)) {
        MbTilesSource source;
        if (!source.open(parser.value(mbtiles))) {
            std::fprintf(stderr, "tavrix-map: cannot open %s: %s\n", qPrintable(parser.value(mbtiles)),
                         qPrintable(source.error()));
            return kExitCannotOpen;
        }
    }

    MapWindow::Options options;
    options.settingsFile = parser.value(settings);
    options.tileUrl = parser.isSet(tileUrl) ? parser.value(tileUrl) : qEnvironmentVariable("TAVRIX_MAP_TILE_URL");
    options.mbtiles = parser.value(mbtiles);
    options.grid = parser.isSet(grid);
    options.blockName = parser.value(block);
    options.poll = parser.isSet(poll);

    MapWindow window(options);
    window.show();

    auto saveAndQuit = [&] {
        const bool saved = window.exportImage(shot);
        if (!saved)
            std::fprintf(stderr, "tavrix-map: could not write %s\n", qPrintable(shot));
        QCoreApplication::exit(saved ? 0 : kExitCannotOpen);
    };
    if (parser.isSet(follow)) {
        // The picture shows what the log held when it was first read.
        if (!shot.isEmpty())
            QObject::connect(window.follower(), &FollowController::opened, &window, saveAndQuit, Qt::QueuedConnection);
        window.follow(followed);
    } else if (!files.isEmpty() && CoverageController::isCoverageFile(files.first())) {
        // Only the map of the command line ends the run: one opened later
        // from the window is the user's to read or not.
        auto first = std::make_shared<QMetaObject::Connection>();
        *first = QObject::connect(window.coverage(), &CoverageController::opened, &window,
                                  [&, first](const QString& path, const QString& error) {
            QObject::disconnect(*first);
            if (path != files.first())
                return;
            if (!error.isEmpty()) {
                // The window stays, saying the same, so that another map can be opened.
                // A database is named without its password.
                const QString name = PgSource::is(path.toStdString()) ? CoverageController::shownName(path) : path;
                std::fprintf(stderr, "tavrix-map: cannot open %s: %s\n", qPrintable(name), qPrintable(error));
                if (!shot.isEmpty())
                    QCoreApplication::exit(kExitCannotOpen);
            } else if (!shot.isEmpty() && !mapTest) {
                saveAndQuit();
            }
        });
        if (mapTest) {
            // The picture waits for the tiles; a map whose tiles are refused
            // is said as klf-report says it.
            window.follower()->testMaps(*mapTest);
            auto tested = std::make_shared<QMetaObject::Connection>();
            *tested = QObject::connect(window.follower(), &FollowController::mapTested, &window,
                                       [&, tested](const QString& error) {
                if (window.follower()->testedMap() != files.first())
                    return;
                QObject::disconnect(*tested);
                if (!error.isEmpty()) {
                    std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(error));
                    if (!shot.isEmpty())
                        QCoreApplication::exit(kExitUsage);
                } else if (!shot.isEmpty()) {
                    saveAndQuit();
                }
            });
        }
        window.openCoverage(files.first());
    } else if (!files.isEmpty()) {
        if (!shot.isEmpty())
            QObject::connect(window.loader(), &DriveLoader::finished, &window, saveAndQuit, Qt::QueuedConnection);
        window.openDrive(files.first());
    } else if (parser.isSet(live)) {
        window.startLive();
        // The block may already hold a point, drawn as live starts.
        if (!shot.isEmpty() && window.view()->pointCount() > 0)
            QTimer::singleShot(0, &window, saveAndQuit);
        else if (!shot.isEmpty())
            QObject::connect(window.feed(), &LivePointFeed::pointArrived, &window, saveAndQuit, Qt::QueuedConnection);
    }
    return app.exec();
}
