#pragma once

#include <memory>
#include <string>
#include <vector>

struct pg_conn;

// Listens on a PostgreSQL notification channel through a connection of its
// own. The server delivers a notification only once the transaction that
// sent it commits, so a rolled-back upload is never told.
//
// It never waits for the server after connecting: the caller watches
// socket() (a QSocketNotifier, poll) and calls take() when it is readable,
// which reads only what has arrived. A server that goes away closes the
// socket (readable, then take() fails); a network that goes silent is found
// by TCP keepalives, which the connection asks for unless the connection
// text says otherwise.
class PgNotifyListener
{
public:
    // source: "PG:" and libpq's connection text, or the text alone.
    PgNotifyListener(std::string source, std::string channel);
    ~PgNotifyListener();
    PgNotifyListener(const PgNotifyListener&) = delete;
    PgNotifyListener& operator=(const PgNotifyListener&) = delete;

    // Connects and listens, blocking until the server answers (or libpq's
    // connect_timeout, 10 s unless the text says otherwise): not on a
    // window thread. false with the reason on one line.
    bool connect(std::string& error);
    bool connected() const { return m_conn != nullptr; }
    int socket() const; // -1 when not connected
    // The payloads of the notifications that came, in commit order. false
    // with the reason when the connection dropped; it is then closed and
    // socket() is -1.
    bool take(std::vector<std::string>& payloads, std::string& error);
    void close();

private:
    struct Close
    {
        void operator()(pg_conn* c) const;
    };

    std::string m_conninfo;
    std::string m_channel;
    std::unique_ptr<pg_conn, Close> m_conn;
};
