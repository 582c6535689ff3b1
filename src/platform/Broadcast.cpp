#include "Broadcast.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <atomic>

namespace {

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("tavrix-broadcast-%1").arg(counter.fetch_add(1));
}

} // namespace

Broadcast::Broadcast(QString path, QString interface, QString name)
    : m_path(std::move(path))
    , m_interface(std::move(interface))
    , m_name(std::move(name))
    , m_connectionName(uniqueConnectionName())
{
}

Broadcast::~Broadcast()
{
    if (m_tried)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool Broadcast::connectOnce()
{
    if (m_tried)
        return m_connected;
    m_tried = true;
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty()
        ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName)
        : QDBusConnection::connectToBus(QString::fromLocal8Bit(address), m_connectionName);
    m_connected = bus.isConnected();
    return m_connected;
}

bool Broadcast::send()
{
    std::lock_guard lock(m_mutex);
    if (!connectOnce())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(m_path, m_interface, m_name);
    return QDBusConnection(m_connectionName).send(signal);
}
