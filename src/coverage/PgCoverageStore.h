#pragma once

#include "coverage/CoverageGrid.h"
#include "coverage/CoverageStore.h"

#include <initializer_list>
#include <memory>
#include <string>

struct pg_conn;

// A coverage map in PostgreSQL with PostGIS, shared by a team. The server
// merges: each drive goes in one transaction whose upserts add its
// histograms to those already there in place and work the figures out of
// the sums, so uploads from several vehicles at once lose no counts, and an
// upload cut off leaves nothing of its drive. The drive's SHA-256 is unique,
// so the same log sent twice, even at once, goes in once.
//
// It talks to the server through libpq rather than GDAL: a drive's cells go
// in through COPY into a table of the transaction's own and one upsert from
// there, as parsing and planning a million rows of VALUES took longer than
// storing them.
class PgCoverageStore : public CoverageStore
{
public:
    static constexpr size_t kCopyChunk = size_t(1) << 20; // bytes handed to libpq at a time
    // Told, with the drive's SHA-256, after each upload commits.
    static constexpr const char* kNotifyChannel = "tavrix_coverage";
    static constexpr int kAttempts = 3; // when the server picks us as a deadlock's victim, or cannot serialise us

    PgCoverageStore(std::string connection, Settings settings);
    ~PgCoverageStore() override;

    bool open(std::string& error) override;
    bool contains(const std::string& sha256, bool& found, std::string& error) override;
    bool identityLengths(std::vector<uint64_t>& lengths, std::string& error) override;
    bool find(const std::map<uint64_t, std::string>& digests, const std::string& fileName, Known& known,
              std::string& error) override;
    bool add(DriveCoverage drive, bool& already, std::string& error) override;
    bool finish(std::string& error) override;
    uint64_t cellRows() const override { return m_cellRows; }
    // Whether this run made the map's tables (and its style).
    bool making() const override { return m_making; }
    // Whether the server is still there after a failure: a log that failed
    // on a live connection is passed over, the others still sent.
    bool connected() const override;
    // A transaction per log.
    bool oneTransaction() const override { return false; }

    // The statements that make the tables, functions and style, each safe to run again.
    static std::string schema(const Settings& settings);
    // The best view (each cell's strongest row) and its style.
    static std::string bestLayer(const Settings& settings);

private:
    struct Close
    {
        void operator()(pg_conn* c) const;
    };

    // The best view added to a map made before it, by its owner.
    bool addBestLayer(std::string& error);
    bool addOnce(const DriveCoverage& drive, bool& already, std::string& error);
    // The drive's row: a new one, or a grown log's moved on; sha256 is then the row's.
    bool writeDrive(const DriveCoverage& drive, std::string& sha256, std::string& error);
    bool copyCells(const DriveCoverage& drive, std::string& error);
    // Parameters, when given, go as $1, $2... (nullptr for NULL), never into the text.
    bool query(const std::string& sql, std::string& firstValue, std::string& error,
               std::initializer_list<const char*> parameters = {});
    bool execute(const std::string& sql, std::string& error, std::initializer_list<const char*> parameters = {});
    void rollback();

    std::string m_connection;
    Settings m_settings;
    CoverageGrid m_grid;
    std::unique_ptr<pg_conn, Close> m_conn;
    uint64_t m_cellRows = 0;
    bool m_making = false;
    std::string m_sqlState; // of the last failed statement, empty when none was given
};
