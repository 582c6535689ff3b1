#pragma once

#include "CoverageTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <string>
#include <unistd.h>

// A throwaway PostgreSQL 15 cluster with PostGIS, reachable only through a
// socket in its own folder, so that tests side by side never meet. The
// server refuses to run as root: as root the cluster belongs to the
// postgres user (or nobody).
class PgCluster
{
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
    static constexpr const char* kPostgis = "/usr/share/postgresql/15/extension/postgis.control";

    // Empty when the cluster runs; otherwise why not.
    std::string start()
    {
        namespace fs = std::filesystem;
        if (!fs::exists(std::string(kBin) + "/initdb") || !fs::exists(std::string(kBin) + "/pg_ctl"))
            return std::string("PostgreSQL 15 server binaries not found in ") + kBin
                   + " (Debian package postgresql-15-postgis-3)";
        if (!fs::exists(kPostgis))
            return std::string("PostGIS 3 for PostgreSQL 15 not installed (") + kPostgis + ")";
        char dir[] = "/tmp/tavrix-pg-XXXXXX";
        if (!::mkdtemp(dir))
            return "cannot make a folder for the cluster";
        m_dir = dir;
        if (::geteuid() == 0) {
            const passwd* user = ::getpwnam("postgres");
            if (!user)
                user = ::getpwnam("nobody");
            if (!user || ::chown(dir, user->pw_uid, user->pw_gid) != 0)
                return "running as root, and no unprivileged user to run the server";
            m_as = std::string("runuser -u ") + user->pw_name + " -- ";
        }
        const CoverageTest::Ran init = CoverageTest::run(m_as + kBin + "/initdb -D " + m_dir
                                                         + "/data -U postgres -A trust -E UTF8 --no-sync 2>&1");
        if (init.status != 0)
            return "initdb failed: " + init.out;
        return resume();
    }

    // Stops the server as an administrator would (its clients' connections
    // end); empty when it stopped.
    std::string stop()
    {
        const CoverageTest::Ran down = CoverageTest::run(m_as + kBin + "/pg_ctl -D " + m_dir + "/data -m fast -w -t 120 stop 2>&1");
        if (down.status != 0)
            return "the server did not stop: " + down.out;
        m_running = false;
        return {};
    }

    // Starts the stopped server again, with what it held.
    std::string resume()
    {
        const CoverageTest::Ran up = CoverageTest::run(
            m_as + kBin + "/pg_ctl -D " + m_dir + "/data -l " + m_dir + "/log -w -t 120 -o \"-k " + m_dir
            + " -c listen_addresses= -c fsync=off -c synchronous_commit=off\" start 2>&1");
        if (up.status != 0)
            return "the server did not start: " + up.out;
        m_running = true;
        return {};
    }

    ~PgCluster()
    {
        if (m_running)
            CoverageTest::run(m_as + kBin + "/pg_ctl -D " + m_dir + "/data -m immediate -w stop >/dev/null 2>&1");
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }

    // A user who must give a password (the others are trusted); empty when
    // the server has taken the rule.
    std::string addPasswordUser(const std::string& user, const std::string& password)
    {
        const CoverageTest::Ran made = sql("CREATE ROLE " + user + " LOGIN PASSWORD '" + password + "'");
        if (made.status != 0)
            return "cannot make the user: " + made.out;
        const std::string hba = m_dir + "/data/pg_hba.conf";
        std::ifstream in(hba);
        const std::string rules((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The first rule that matches decides.
        std::ofstream(hba, std::ios::trunc) << "local all " << user << " scram-sha-256\n" << rules;
        const CoverageTest::Ran reload = CoverageTest::run(m_as + kBin + "/pg_ctl -D " + m_dir + "/data reload 2>&1");
        if (reload.status != 0)
            return "the server did not take the rule: " + reload.out;
        // pg_ctl reload only signals: the rule holds once a new connection is refused without the password.
        for (int i = 0; i < 1000; ++i)
            if (CoverageTest::run("psql -X -q -At -w '" + conninfo() + " user=" + user + "' -c 'SELECT 1' 2>&1").status != 0)
                return {};
        return "the server did not take the rule";
    }

    // libpq's connection string for a database of the cluster.
    std::string conninfo(const std::string& db = "postgres") const
    {
        return "host=" + m_dir + " port=5432 user=postgres dbname=" + db;
    }
    std::string gdal(const std::string& db = "postgres") const { return "PG:" + conninfo(db); }

    // psql's unaligned output of one statement.
    CoverageTest::Ran sql(const std::string& statement, const std::string& db = "postgres") const
    {
        return CoverageTest::run("psql -X -q -At -v ON_ERROR_STOP=1 '" + conninfo(db) + "' -c \"" + statement + "\" 2>&1");
    }

    std::string psqlCommand(const std::string& db) const
    {
        return "psql -X -q -At -v ON_ERROR_STOP=1 '" + conninfo(db) + "'";
    }

private:
    std::string m_dir;
    std::string m_as; // runs a server command as the cluster's owner
    bool m_running = false;
};
