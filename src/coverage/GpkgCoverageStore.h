#pragma once

#include "coverage/CoverageGrid.h"
#include "coverage/CoverageStore.h"

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class GDALDataset;

// A coverage map in a GeoPackage file, for one machine. The cells already
// in the file are read once; the drives added merge into them in memory,
// and finish() writes what changed in one transaction, so a run that fails
// leaves the file as it was. A new map is made under a temporary name in
// the same folder and takes its own name only once finish() has written it
// whole: a run that fails, or is killed, never leaves an empty or partial
// map where the user looks for one.
class GpkgCoverageStore : public CoverageStore
{
public:
    GpkgCoverageStore(std::string path, Settings settings);
    ~GpkgCoverageStore() override;

    bool open(std::string& error) override;
    bool contains(const std::string& sha256, bool& found, std::string&) override
    {
        found = m_hashes.count(sha256) > 0;
        return true;
    }
    bool identityLengths(std::vector<uint64_t>& lengths, std::string& error) override;
    bool find(const std::map<uint64_t, std::string>& digests, const std::string& fileName, Known& known,
              std::string& error) override;
    bool add(DriveCoverage drive, bool& already, std::string& error) override;
    bool finish(std::string& error) override;
    uint64_t cellRows() const override { return m_cells.size() + m_cellRows; }
    // Whether this run is making the map (it did not exist before).
    bool making() const override { return m_making; }

private:
    bool create(std::string& error);
    bool load(std::string& error);
    bool addIdentityFields(std::string& error);
    bool update(DriveCoverage& drive, bool& already, std::string& error);
    bool addRoute(const DriveCoverage& drive, const std::string& sha256, std::string& error);
    bool writeCells(std::string& error);
    bool publish(std::string& error);
    void close();
    // Makes a failure's message the user's: SQLite's reason without GDAL's
    // quoted statement, and the way out when another writer held the file
    // or the disk is full. Returns false.
    bool explained(std::string& error) const;

    std::string m_path;
    std::string m_file; // what GDAL writes: m_path, or a new map's temporary name until publish()
    bool m_making = false;
    Settings m_settings;
    CoverageGrid m_grid;
    std::unique_ptr<GDALDataset> m_ds;
    CoverageCells m_cells;
    std::unordered_map<CoverageCells::Key, int64_t, CoverageCells::KeyHash> m_fids; // rows in the file
    std::vector<const CoverageCells::Entry*> m_changed; // entries of m_cells, may repeat one
    std::set<std::string> m_hashes;
    struct KnownDrive
    {
        int64_t fid = 0;
        std::string fileName;
        std::string logId; // empty for a drive added before logs were known by their beginning
        uint64_t logIdBytes = 0;
        uint64_t bytesRead = 0;
        std::string readSha256;
    };
    std::vector<KnownDrive> m_drives;
    bool m_identityFields = false; // the drives layer has them, or gets them in this run's transaction
    uint64_t m_cellRows = 0; // written by finish(), which lets go of m_cells
    bool m_inTransaction = false;
};
