#pragma once

#include "coverage/CoverageGrid.h"
#include "coverage/CoverageStore.h"

#include <memory>
#include <string>

class GDALDataset;

// A coverage map in PostgreSQL with PostGIS, shared by a team. The server
// merges: each drive goes in one transaction whose upserts add its
// histograms to those already there in place and work the figures out of
// the sums, so uploads from several vehicles at once lose no counts, and an
// upload cut off leaves nothing of its drive. The drive's SHA-256 is unique,
// so the same log sent twice, even at once, goes in once.
class PgCoverageStore : public CoverageStore
{
public:
    static constexpr size_t kRowsPerStatement = 1000;
    static constexpr int kAttempts = 3; // when the server picks us as a deadlock's victim

    PgCoverageStore(std::string connection, Settings settings);
    ~PgCoverageStore() override;

    bool open(std::string& error) override;
    bool contains(const std::string& sha256) override;
    bool add(DriveCoverage drive, bool& already, std::string& error) override;
    bool finish(std::string& error) override;
    uint64_t cellRows() const override { return m_cellRows; }

    // The statements that make the tables, functions and style, each safe to run again.
    static std::string schema(const Settings& settings);

private:
    bool addOnce(const DriveCoverage& drive, bool& already, std::string& error);
    bool query(const std::string& sql, std::string& firstValue, std::string& error);

    std::string m_connection;
    Settings m_settings;
    CoverageGrid m_grid;
    std::unique_ptr<GDALDataset> m_ds;
    uint64_t m_cellRows = 0;
};
