// tavrix-map: the drive on a map, live from the data logger's map block or
// recorded in a .KLF log.
#include "map/CoverageController.h"
#include "map/LivePointFeed.h"
#include "map/MapView.h"
#include "map/MapWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrix-map"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Tavrix"));
    QApplication::setDesktopFileName(QStringLiteral("tavrix-map"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows the signal strength along a Tavrix drive on a map: live from the data logger, "
        "or recorded in a .KLF log."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.KLF|MAP.gpkg"),
                                 QStringLiteral("A log to draw, or a coverage map made by klf-coverage."));
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
                                        QStringLiteral("Save the map as a PNG once the drive or the first "
                                                       "live point is drawn, then exit."),
                                        QStringLiteral("PNG"));
    parser.addOptions({live, tileUrl, mbtiles, grid, poll, block, settings, screenshot});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (parser.isSet(live) && !files.isEmpty())) {
        std::fprintf(stderr, "tavrix-map: give either --live or one log\n");
        return 1;
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

    const QString shot = parser.value(screenshot);
    auto saveAndQuit = [&] {
        const bool saved = window.exportImage(shot);
        if (!saved)
            std::fprintf(stderr, "tavrix-map: could not write %s\n", qPrintable(shot));
        QCoreApplication::exit(saved ? 0 : 1);
    };
    if (!files.isEmpty() && CoverageController::isCoverageFile(files.first())) {
        if (!window.openCoverage(files.first())) {
            std::fprintf(stderr, "tavrix-map: %s is not a coverage map\n", qPrintable(files.first()));
            return 1;
        }
        if (!shot.isEmpty())
            QTimer::singleShot(0, &window, saveAndQuit);
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
