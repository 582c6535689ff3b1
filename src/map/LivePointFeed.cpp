#include "LivePointFeed.h"

#include "MapPointReader.h"

#include <QDBusConnection>
#include <QDateTime>

#include <cmath>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kPath[] = "/com/zkt/Tavrix";
constexpr char kInterface[] = "com.zkt.Tavrix.Map";
constexpr char kSignal[] = "ZKT_MAP_UPDATE";

// A fix-less receiver reports 0, 0; nothing real is ever drawn there.
bool plausible(double latitude, double longitude)
{
    return std::isfinite(latitude) && std::isfinite(longitude) && std::abs(latitude) <= 90
        && std::abs(longitude) <= 180 && !(latitude == 0 && longitude == 0);
}
} // namespace

LivePointFeed::LivePointFeed(QString blockName, QObject* parent)
    : QObject(parent)
    , m_blockName(blockName.startsWith(QLatin1Char('/')) ? blockName : QLatin1Char('/') + blockName)
{
    m_timer.setInterval(kPollMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LivePointFeed::check);
}

LivePointFeed::~LivePointFeed()
{
    stop();
}

void LivePointFeed::start(bool forcePoll)
{
    stop();
    m_running = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!forcePoll && bus.isConnected()
        && bus.connect(QString(), QLatin1String(kPath), QLatin1String(kInterface),
                       QLatin1String(kSignal), this, SLOT(check()))) {
        m_subscribed = true;
    } else {
        m_timer.start();
    }
    check(); // the point already in the block, if any
}

void LivePointFeed::stop()
{
    m_timer.stop();
    if (m_subscribed) {
        QDBusConnection::sessionBus().disconnect(QString(), QLatin1String(kPath), QLatin1String(kInterface),
                                                 QLatin1String(kSignal), this, SLOT(check()));
        m_subscribed = false;
    }
    m_running = false;
}

bool LivePointFeed::blockReplaced()
{
    const QByteArray name = m_blockName.toLocal8Bit();
    const int fd = shm_open(name.constData(), O_RDONLY, 0);
    if (fd < 0) {
        m_reader.reset();
        m_inode = 0;
        return false;
    }
    struct stat st {};
    const bool known = fstat(fd, &st) == 0;
    ::close(fd);
    if (!known)
        return false;
    if (!m_reader || st.st_ino != m_inode) {
        m_reader = std::make_unique<MapPointReader>(name.toStdString());
        m_inode = st.st_ino;
        m_last.reset();
        return true;
    }
    return false;
}

void LivePointFeed::check()
{
    blockReplaced();
    if (!m_reader)
        return;
    const auto p = m_reader->read();
    // Never written, or caught mid-write on every attempt: nothing to draw.
    if (!p || p->name.empty() || !p->whole)
        return;
    const Seen seen{p->sequence, p->latitude, p->longitude, p->rssi, p->rangeMin, p->rangeMax, p->serial};
    if (m_last == seen)
        return;
    m_last = seen;
    if (!plausible(p->latitude, p->longitude))
        return;

    Point out;
    out.palette = RssiPalette(p->rangeMin, p->rangeMax);
    out.serial = QString::fromLatin1(p->serial.c_str());
    out.sequence = p->sequence;
    out.point.latitude = p->latitude;
    out.point.longitude = p->longitude;
    out.point.rssi = p->rssi;
    out.point.colour = out.palette.argb(p->rssi);
    out.point.timeMs = QDateTime::currentMSecsSinceEpoch();
    emit pointArrived(out);
}
