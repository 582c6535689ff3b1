#include "coverage/PgNotifyListener.h"

#include "coverage/PgSource.h"

#include <libpq-fe.h>

namespace {

// libpq's message on one line: it adds hints on lines of their own
// ("This probably means the server terminated abnormally...").
std::string firstLine(const char* text, const char* fallback)
{
    std::string m = text ? text : "";
    if (const size_t end = m.find('\n'); end != std::string::npos)
        m.erase(end);
    while (!m.empty() && m.back() == ' ')
        m.pop_back();
    return m.empty() ? fallback : m;
}

} // namespace

PgNotifyListener::PgNotifyListener(std::string source, std::string channel)
    : m_conninfo(PgSource::conninfo(source)), m_channel(std::move(channel))
{
}

PgNotifyListener::~PgNotifyListener() = default;

void PgNotifyListener::Close::operator()(pg_conn* c) const
{
    PQfinish(c);
}

bool PgNotifyListener::connect(std::string& error)
{
    close();
    // Ours first: the user's connection text, expanded after them, overrides
    // any. Keepalives end a connection whose network went silent within
    // about half a minute instead of the system's two hours.
    const char* keywords[] = {"application_name", "connect_timeout", "keepalives", "keepalives_idle",
                              "keepalives_interval", "keepalives_count", "dbname", nullptr};
    const char* values[] = {"tavrix-map", "10", "1", "10", "5", "3", m_conninfo.c_str(), nullptr};
    std::unique_ptr<pg_conn, Close> conn(PQconnectdbParams(keywords, values, 1));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        error = conn ? firstLine(PQerrorMessage(conn.get()), "cannot connect") : std::string("cannot connect");
        return false;
    }
    PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
    char* channel = PQescapeIdentifier(conn.get(), m_channel.c_str(), m_channel.size());
    if (!channel) {
        error = firstLine(PQerrorMessage(conn.get()), "cannot name the channel");
        return false;
    }
    const std::string listen = std::string("LISTEN ") + channel;
    PQfreemem(channel);
    PGresult* r = PQexec(conn.get(), listen.c_str());
    const bool listening = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!listening)
        error = firstLine(r ? PQresultErrorMessage(r) : PQerrorMessage(conn.get()), "cannot listen");
    PQclear(r);
    if (!listening)
        return false;
    m_conn = std::move(conn);
    return true;
}

int PgNotifyListener::socket() const
{
    return m_conn ? PQsocket(m_conn.get()) : -1;
}

bool PgNotifyListener::take(std::vector<std::string>& payloads, std::string& error)
{
    if (!m_conn) {
        error = "not connected";
        return false;
    }
    const bool read = PQconsumeInput(m_conn.get()) == 1;
    // What came before a drop is still told.
    while (PGnotify* n = PQnotifies(m_conn.get())) {
        if (m_channel == n->relname)
            payloads.emplace_back(n->extra ? n->extra : "");
        PQfreemem(n);
    }
    if (read && PQstatus(m_conn.get()) == CONNECTION_OK)
        return true;
    error = firstLine(PQerrorMessage(m_conn.get()), "the connection to the server was lost");
    close();
    return false;
}

void PgNotifyListener::close()
{
    m_conn.reset();
}
