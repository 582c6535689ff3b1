#pragma once

#include "coverage/DriveCoverage.h"
#include "protocol/RssiPalette.h"

#include <map>
#include <string>
#include <vector>

// Where coverage maps are kept: a GeoPackage file or a PostGIS database,
// with the same three layers (cells, drives, routes) and the same grid.
class CoverageStore
{
public:
    struct Settings
    {
        double cellMetres = 50;
        int rangeMin = RssiPalette::kDefaultMinimum; // dBm: the style's blue end
        int rangeMax = RssiPalette::kDefaultMaximum; // dBm: the style's red end
    };

    virtual ~CoverageStore() = default;

    // Opens the map, making it when new; fails when it was made with
    // another cell size, as its cells would not line up.
    virtual bool open(std::string& error) = 0;
    // found: whether a drive with this SHA-256 is in the map. False with
    // the reason when the map cannot tell, which is no answer of "not there".
    virtual bool contains(const std::string& sha256, bool& found, std::string& error) = 0;
    // What the map knows of a log: its drive, found by the log's beginning,
    // and drives of the same file name.
    struct Known
    {
        bool found = false;
        std::string logId;
        uint64_t logIdBytes = 0;
        uint64_t bytesRead = 0;     // how far into the log the map has read
        std::string readSha256;     // of what it read
        bool sameName = false;      // a drive of the name known by its beginning
        bool sameNameBefore = false; // one added before logs were known so, by its whole-file hash alone
    };
    // The lengths of beginning the map's logs are known by.
    virtual bool identityLengths(std::vector<uint64_t>& lengths, std::string& error) = 0;
    // digests: the log's beginning's SHA-256 by length.
    virtual bool find(const std::map<uint64_t, std::string>& digests, const std::string& fileName, Known& known,
                      std::string& error) = 0;
    // Adds a drive whole or not at all. already: a drive with the same
    // SHA-256 is in the map (or, for a grown log's later part, the map has
    // read past resumedFrom meanwhile), and nothing was added.
    virtual bool add(DriveCoverage drive, bool& already, std::string& error) = 0;
    // Makes what was added lasting.
    virtual bool finish(std::string& error) = 0;
    // Cell rows (cell, receiver, frequency) in the map after the last add.
    virtual uint64_t cellRows() const = 0;
    // Whether this run is making the map (it did not exist before).
    virtual bool making() const = 0;
    // False once the store can take nothing more (a server gone), when no
    // later log could be added either.
    virtual bool connected() const { return true; }
    // Whether the run is one transaction: then a log that fails gives up the
    // run, and an interrupted run is rolled back (a new map taken away).
    // Otherwise each log is its own transaction and the others go on.
    virtual bool oneTransaction() const { return true; }
};
