#include "MapWatcher.h"

#include "platform/TextEscape.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// The announcement as the logger sends it; kept here, not shared with it.
constexpr char kPath[] = "/com/zkt/Tavrix";
constexpr char kInterface[] = "com.zkt.Tavrix.Map";
constexpr char kSignal[] = "ZKT_MAP_UPDATE";

bool samePoint(const MapPointReader::Point& a, const MapPointReader::Point& b)
{
    return a.sequence == b.sequence && a.name == b.name && a.version == b.version
        && a.latitude == b.latitude && a.longitude == b.longitude && a.kind == b.kind
        && a.rssi == b.rssi && a.text == b.text && a.rangeMin == b.rangeMin
        && a.rangeMax == b.rangeMax && a.flag == b.flag && a.serial == b.serial;
}

// JSON numbers always have a decimal point, whatever LC_NUMERIC says (Qt sets
// the locale from the environment, and printf follows it); std::to_chars
// ignores the locale and gives the shortest text that reads back exactly.
// A value JSON cannot hold is null.
std::string jsonNumber(double d)
{
    if (!std::isfinite(d))
        return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, d);
    return std::string(text, result.ptr);
}

} // namespace

MapWatcher::MapWatcher(const Options& options)
    : m_options(options)
    , m_reader(options.blockName.toStdString())
{
    connect(&m_pollTimer, &QTimer::timeout, this, &MapWatcher::onPoll);
}

bool MapWatcher::start()
{
    if (m_options.timeoutMs > 0) {
        QTimer::singleShot(m_options.timeoutMs, qApp, [] {
            std::fprintf(stderr, "tavrix-mapwatch: timed out\n");
            QCoreApplication::exit(2);
        });
    }
    if (m_options.pollMs > 0) {
        m_pollTimer.start(m_options.pollMs);
        std::fprintf(stderr, "tavrix-mapwatch: polling\n");
        return true;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "tavrix-mapwatch: no session bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return false;
    }
    if (!bus.connect(QString(), QLatin1String(kPath), QLatin1String(kInterface),
                     QLatin1String(kSignal), this, SLOT(onUpdate()))) {
        std::fprintf(stderr, "tavrix-mapwatch: cannot subscribe\n");
        return false;
    }
    // A round trip to the bus: once it returns, the match rule is in place
    // and whoever waits for "ready" may start sending.
    bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    std::fprintf(stderr, "tavrix-mapwatch: ready\n");
    return true;
}

void MapWatcher::onUpdate()
{
    // Announcements carry no block name: one meant for another block (a
    // second logger, a test) finds ours unchanged and prints nothing.
    printIfNew();
}

void MapWatcher::onPoll()
{
    printIfNew();
}

void MapWatcher::printIfNew()
{
    auto point = m_reader.read();
    // A block that exists but was never written holds no point.
    if (!point || point->name.empty())
        return;
    if (m_last && samePoint(*m_last, *point))
        return;
    print(*point);
}

void MapWatcher::print(const MapPointReader::Point& p)
{
    m_last = p;
    if (m_options.json) {
        std::printf("{\"name\":%s,\"version\":%u,\"latitude\":%s,\"longitude\":%s,"
                    "\"kind\":%u,\"rssi\":%d,\"text\":%s,\"rangeMin\":%d,\"rangeMax\":%d,"
                    "\"flag\":%u,\"serial\":%s,\"sequence\":%u,\"whole\":%s}\n",
                    TextEscape::json(p.name).c_str(), p.version, jsonNumber(p.latitude).c_str(),
                    jsonNumber(p.longitude).c_str(), p.kind,
                    p.rssi, TextEscape::json(p.text).c_str(), p.rangeMin, p.rangeMax, p.flag,
                    TextEscape::json(p.serial).c_str(), p.sequence, p.whole ? "true" : "false");
    } else {
        std::printf("name=%s version=%u lat=%.7f lon=%.7f kind=%u rssi=%d text=%s min=%d max=%d "
                    "flag=%u serial=%s seq=%u%s\n",
                    p.name.c_str(), p.version, p.latitude, p.longitude, p.kind, p.rssi,
                    p.text.c_str(), p.rangeMin, p.rangeMax, p.flag, p.serial.c_str(), p.sequence,
                    p.whole ? "" : " torn");
    }
    std::fflush(stdout);
    if (m_options.count > 0 && ++m_printed >= m_options.count)
        QCoreApplication::exit(0);
}
