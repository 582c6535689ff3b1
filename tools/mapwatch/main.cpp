// tavrix-mapwatch: prints the map points the data logger exports, for
// checking a mapping application's side of the exchange.
#include "MapWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrix-mapwatch"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints each map point of the Tavrix data logger, one line per point."));
    parser.addHelpOption();
    QCommandLineOption poll(QStringLiteral("poll"),
                            QStringLiteral("Poll the block every MS milliseconds instead of "
                                           "waiting for the ZKT_MAP_UPDATE signal."),
                            QStringLiteral("MS"));
    QCommandLineOption count(QStringLiteral("count"),
                             QStringLiteral("Exit after N points."), QStringLiteral("N"));
    QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line."));
    QCommandLineOption name(QStringLiteral("name"),
                            QStringLiteral("Shared memory block name (default ZKTPELLORN)."),
                            QStringLiteral("NAME"), QStringLiteral("ZKTPELLORN"));
    QCommandLineOption timeout(QStringLiteral("timeout"),
                               QStringLiteral("Give up with exit code 2 after MS milliseconds."),
                               QStringLiteral("MS"));
    parser.addOptions({poll, count, json, name, timeout});
    parser.process(app);

    MapWatcher::Options options;
    options.blockName = parser.value(name);
    options.pollMs = parser.value(poll).toInt();
    options.count = parser.value(count).toInt();
    options.timeoutMs = parser.value(timeout).toInt();
    options.json = parser.isSet(json);
    if (parser.isSet(poll) && options.pollMs <= 0) {
        std::fprintf(stderr, "tavrix-mapwatch: --poll needs a period above 0\n");
        return 1;
    }

    MapWatcher watcher(options);
    if (!watcher.start())
        return 1;
    return app.exec();
}
