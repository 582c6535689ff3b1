// tavrix-mapwatch: prints the map points the data logger exports, for
// checking a mapping application's side of the exchange.
#include "MapWatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrix-mapwatch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints each map point of the Tavrix data logger, one line per point.\n"
        "Exit status: 0 the points asked for with --count were printed; 1 bad options, or no session\n"
        "bus to listen on; 2 the time given with --timeout ran out."));
    parser.addHelpOption();
    parser.addVersionOption();
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
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavrix-mapwatch: takes no arguments: %s\n",
                     qPrintable(parser.positionalArguments().join(QLatin1Char(' '))));
        return 1;
    }

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
    for (const QCommandLineOption* o : {&count, &timeout}) {
        bool ok = false;
        if (parser.isSet(*o) && (parser.value(*o).toInt(&ok) <= 0 || !ok)) {
            std::fprintf(stderr, "tavrix-mapwatch: --%s needs a whole number above 0\n", qPrintable(o->names().first()));
            return 1;
        }
    }

    MapWatcher watcher(options);
    if (!watcher.start())
        return 1;
    return app.exec();
}
