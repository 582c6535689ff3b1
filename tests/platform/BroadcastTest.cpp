#include "platform/Broadcast.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

namespace {

class Counter : public QObject
{
    Q_OBJECT
public:
    int count = 0;
public slots:
    void onSignal() { ++count; }
};

} // namespace

TEST(Broadcast, EachSendReachesAListenerOnTheSessionBus)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    QDBusConnection listener =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "broadcast-test-listener");
    ASSERT_TRUE(listener.isConnected());
    Counter counter;
    // A test-only member, so that other tests' announcements do not count here.
    ASSERT_TRUE(listener.connect(QString(), "/com/zkt/Test", "com.zkt.Test", "BROADCAST_TEST",
                                 &counter, SLOT(onSignal())));
    // A round trip on the listener's connection: its match rule is in place after it.
    listener.interface()->isServiceRegistered("org.freedesktop.DBus");

    Broadcast broadcast("/com/zkt/Test", "com.zkt.Test", "BROADCAST_TEST");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(broadcast.send());
    QDeadlineTimer deadline(10000);
    while (counter.count < 3 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(counter.count, 3);
    QDBusConnection::disconnectFromBus("broadcast-test-listener");
}

TEST(Broadcast, WithoutABusSendingQuietlyFails)
{
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavrix-test-bus");
    Broadcast broadcast("/com/zkt/Test", "com.zkt.Test", "BROADCAST_TEST");
    EXPECT_FALSE(broadcast.send());
    EXPECT_FALSE(broadcast.send()); // connected once per run, not retried every time
    if (saved.isNull())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}

#include "BroadcastTest.moc"
