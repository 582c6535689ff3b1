#pragma once

#include <QString>

#include <mutex>

// A fire-and-forget announcement: an argument-less D-Bus signal on the
// session bus, our counterpart of a broadcast registered window message.
//
// The bus is connected once, at the first send, on a private connection of
// this object. The address comes from DBUS_SESSION_BUS_ADDRESS when it is set
// (read at that moment, so a test can point it elsewhere), otherwise from the
// bus library's own session-bus rules. Without a bus every send quietly does
// nothing: the announcement is best effort and never waits for listeners.
class Broadcast
{
public:
    Broadcast(QString path, QString interface, QString name);
    ~Broadcast();
    Broadcast(const Broadcast&) = delete;
    Broadcast& operator=(const Broadcast&) = delete;

    // Queues the signal; false when there is no bus. Any thread.
    bool send();

    const QString& path() const { return m_path; }
    const QString& interface() const { return m_interface; }
    const QString& name() const { return m_name; }

private:
    bool connectOnce();

    QString m_path;
    QString m_interface;
    QString m_name;
    QString m_connectionName;
    std::mutex m_mutex;
    bool m_tried = false;
    bool m_connected = false;
};
