#pragma once

#include "display/HistoryRow.h"
#include "display/HistorySection.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <vector>

// A receiver's recent reports, one row each, in a ring of fixed size: the
// newest rows push the oldest out, so memory stays bounded however long the
// program runs. Rows are grouped in sections of shared channels, each with
// its max, min and average holds since the last reset.
//
// Window thread only: the display thread hands the reports over inside its
// update.
class ScanHistory
{
public:
    // The line carries at most some 192 scan reports a second (20-byte frames
    // at 3840 bytes a second): 409600 rows hold 35 minutes of them, in
    // 409600 x 24 bytes = 9.4 MiB per receiver.
    static constexpr std::size_t kDefaultCapacity = 409600;
    static constexpr int kNoLevel = INT_MIN;
    // The table holds at most this many channels.
    static constexpr int kMaxTableColumns = 3072;
    // A section notes where each column was last read every this many rows:
    // a level is then found walking back at most this far, and a full
    // table's notes over a full ring take 409600 / 8192 x 3072 x 8 B = 1.2 MiB.
    static constexpr uint64_t kCheckpointRows = 8192;

    explicit ScanHistory(std::size_t capacity = kDefaultCapacity);

    // Adds one report. `now` is the receiver's settings as the display read
    // them: they name the channel of single blocks, and the channels of any
    // report that came before the first settings.
    void add(const SampleReport& report, const ReceiverSettings& now);
    // Clears every section's holds; the rows stay.
    void resetHolds();
    // Forgets everything.
    void clear();

    std::size_t capacity() const { return m_capacity; }
    // Rows firstRow() .. endRow() - 1 are kept; numbers keep counting as the
    // oldest go.
    uint64_t firstRow() const { return m_end - m_size; }
    uint64_t endRow() const { return m_end; }
    bool empty() const { return m_size == 0; }
    const HistoryRow& row(uint64_t n) const { return m_rows[n % m_capacity]; }

    // Sections with rows still kept, oldest first.
    const std::deque<HistorySection>& sections() const { return m_sections; }
    const HistorySection& sectionOf(uint64_t row) const;
    const HistorySection* newestSection() const { return m_sections.empty() ? nullptr : &m_sections.back(); }

    // The level each column of row n's section shows at that row: its last
    // reading at or before n within the section, kNoLevel if none.
    std::vector<int> levelsAt(uint64_t n) const;
    // The same for one column (of row n's section), walking back at most
    // kCheckpointRows rows: what a pointer's readout needs on every move.
    int levelAt(uint64_t n, int column) const;
    // Steps levels (those of row n - 1, same section) on to row n.
    void apply(uint64_t n, std::vector<int>& levels) const;

    // One line per report: UTC time, then one column per channel in MHz over
    // every section kept, empty where the report read nothing.
    void writeCsv(std::ostream& out) const;

    // Storage held by rows and sections. The ring grows as rows come, so a
    // short session holds no more than it needs.
    std::size_t memoryBytes() const;

private:
    bool sameColumns(const HistorySection& s, SampleReport::Kind kind, const ReceiverSettings& settings) const;
    void startSection(SampleReport::Kind kind, const ReceiverSettings& settings);
    int columnOf(const HistorySection& s, const SampleReport::Entry& e) const;
    void dropOldest();
    // Column's reading in row n, kNoLevel when n is gone or never read.
    int readingIn(uint64_t n, int column) const;

    std::size_t m_capacity;
    std::vector<HistoryRow> m_rows;
    uint64_t m_end = 0;
    std::size_t m_size = 0;
    std::deque<HistorySection> m_sections;
    ReceiverSettings m_settings;
    bool m_settingsKnown = false;
};
