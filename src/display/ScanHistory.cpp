#include "ScanHistory.h"

#include "platform/UtcTime.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <ostream>
#include <stdexcept>

namespace {

using Kind = SampleReport::Kind;

std::vector<HistorySection::Column> columnsFor(Kind kind, const ReceiverSettings& s)
{
    std::vector<HistorySection::Column> columns;
    auto add = [&](uint32_t value) { columns.push_back({s.displayChannelOf(value), s.valueMHz(value)}); };
    switch (kind) {
    case Kind::Single: add(s.current); break;
    case Kind::Scan:
        for (uint32_t value : s.scanChannels)
            add(value);
        break;
    case Kind::Table: {
        const int64_t positions = int64_t(s.highEdge()) - int64_t(s.lowEdge()) + 1;
        const int n = int(std::clamp<int64_t>(positions, 1, ScanHistory::kMaxTableColumns));
        for (int p = 1; p <= n; ++p)
            add(s.valueOfPosition(int16_t(p)));
        break;
    }
    case Kind::Settings: break;
    }
    return columns;
}

} // namespace

ScanHistory::ScanHistory(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1))
{
}

void ScanHistory::clear()
{
    m_end = 0;
    m_size = 0;
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_sections.clear();
}

void ScanHistory::resetHolds()
{
    for (HistorySection& s : m_sections)
        s.clearHolds();
}

bool ScanHistory::sameColumns(const HistorySection& s, Kind kind, const ReceiverSettings& settings) const
{
    if (s.kind != kind || s.settings.block() != settings.block())
        return false;
    switch (kind) {
    case Kind::Single: return s.settings.current == settings.current;
    case Kind::Scan: return s.settings.scanChannels == settings.scanChannels;
    default: return true;
    }
}

void ScanHistory::startSection(Kind kind, const ReceiverSettings& settings)
{
    HistorySection s;
    s.kind = kind;
    s.settings = settings;
    s.columns = columnsFor(kind, settings);
    s.firstRow = m_end;
    s.clearHolds();
    s.lastRead.assign(s.columns.size(), HistorySection::kNeverRead);
    // A section that never got a row has nothing to show; one that did
    // gets no more rows, so no more checkpoints.
    if (!m_sections.empty() && m_sections.back().firstRow == m_end)
        m_sections.pop_back();
    else if (!m_sections.empty())
        m_sections.back().lastRead = {};
    m_sections.push_back(std::move(s));
}

int ScanHistory::columnOf(const HistorySection& s, const SampleReport::Entry& e) const
{
    int column = -1;
    switch (s.kind) {
    case Kind::Single: column = 0; break;
    case Kind::Scan: column = e.index; break;
    // The table index stands for the channel number; the column is its band position.
    case Kind::Table: column = s.settings.positionOf(int16_t(e.index + 1)) - 1; break;
    case Kind::Settings: break;
    }
    return column >= 0 && column < int(s.columns.size()) ? column : -1;
}

void ScanHistory::dropOldest()
{
    --m_size;
    const uint64_t first = firstRow();
    while (m_sections.size() > 1 && m_sections[1].firstRow <= first)
        m_sections.pop_front();
    // A checkpoint at or before the oldest row kept names only rows that are gone.
    std::deque<HistorySection::Checkpoint>& checkpoints = m_sections.front().checkpoints;
    while (!checkpoints.empty() && checkpoints.front().row <= first)
        checkpoints.pop_front();
}

void ScanHistory::add(const SampleReport& report, const ReceiverSettings& now)
{
    if (report.kind == Kind::Settings) {
        if (report.settings) {
            m_settings = *report.settings;
            m_settingsKnown = true;
        }
        return;
    }
    if (report.count == 0)
        return;
    ReceiverSettings settings = m_settingsKnown ? m_settings : now;
    // Single blocks carry no channel: the one the receiver is tuned to now.
    if (report.kind == Kind::Single)
        settings.current = now.current;
    if (m_sections.empty() || !sameColumns(m_sections.back(), report.kind, settings))
        startSection(report.kind, settings);

    HistorySection& s = m_sections.back();
    HistoryRow row;
    row.utcMs = report.utcMs;
    for (int i = 0; i < report.count && i < SampleReport::kMaxEntries; ++i) {
        const int column = columnOf(s, report.entries[i]);
        if (column < 0)
            continue;
        const int8_t v = report.entries[i].dBm;
        row.column[row.count] = uint16_t(column);
        row.dBm[row.count] = v;
        ++row.count;
        s.maxHold[column] = std::max(s.maxHold[column], v);
        s.minHold[column] = std::min(s.minHold[column], v);
        s.sum[column] += v;
        ++s.count[column];
        s.lastRead[std::size_t(column)] = m_end;
    }
    if (m_size == m_capacity)
        dropOldest();
    if (m_rows.size() < m_capacity) {
        // Doubling, but never past the ring's size.
        if (m_rows.size() == m_rows.capacity())
            m_rows.reserve(std::min(m_capacity, std::max<std::size_t>(1024, 2 * m_rows.capacity())));
        m_rows.push_back(row);
    } else {
        m_rows[m_end % m_capacity] = row;
    }
    ++m_end;
    ++m_size;
    if ((m_end - s.firstRow) % kCheckpointRows == 0)
        s.checkpoints.push_back({m_end, s.lastRead});
}

const HistorySection& ScanHistory::sectionOf(uint64_t n) const
{
    if (m_sections.empty())
        throw std::out_of_range("empty history");
    // Few sections: the newest first, as most lookups are for recent rows.
    for (auto it = m_sections.rbegin(); it != m_sections.rend(); ++it)
        if (it->firstRow <= n)
            return *it;
    return m_sections.front();
}

void ScanHistory::apply(uint64_t n, std::vector<int>& levels) const
{
    const HistoryRow& r = row(n);
    for (int i = 0; i < r.count; ++i)
        if (r.column[i] < levels.size())
            levels[r.column[i]] = r.dBm[i];
}

int ScanHistory::readingIn(uint64_t n, int column) const
{
    if (n == HistorySection::kNeverRead || n < firstRow())
        return kNoLevel;
    const HistoryRow& r = row(n);
    for (int i = r.count - 1; i >= 0; --i)
        if (r.column[i] == column)
            return r.dBm[i];
    return kNoLevel;
}

std::vector<int> ScanHistory::levelsAt(uint64_t n) const
{
    const HistorySection& s = sectionOf(n);
    const HistorySection::Checkpoint* checkpoint = s.checkpointFor(n);
    std::vector<int> levels(s.columns.size(), kNoLevel);
    std::size_t missing = levels.size();
    // Back from n to the checkpoint (or the section's start, or the oldest
    // row kept), the first reading of each column met is its level; the
    // checkpoint names the rows of the rest.
    const uint64_t stop = std::max({s.firstRow, firstRow(), checkpoint ? checkpoint->row : 0});
    for (uint64_t k = n + 1; k > stop && missing > 0; --k) {
        const HistoryRow& r = row(k - 1);
        for (int i = r.count - 1; i >= 0; --i) {
            int& level = levels[r.column[i]];
            if (level == kNoLevel) {
                level = r.dBm[i];
                --missing;
            }
        }
    }
    if (checkpoint && missing > 0)
        for (std::size_t c = 0; c < levels.size(); ++c)
            if (levels[c] == kNoLevel)
                levels[c] = readingIn(checkpoint->lastRead[c], int(c));
    return levels;
}

int ScanHistory::levelAt(uint64_t n, int column) const
{
    const HistorySection& s = sectionOf(n);
    if (column < 0 || std::size_t(column) >= s.columns.size())
        return kNoLevel;
    const HistorySection::Checkpoint* checkpoint = s.checkpointFor(n);
    const uint64_t stop = std::max({s.firstRow, firstRow(), checkpoint ? checkpoint->row : 0});
    for (uint64_t k = n + 1; k > stop; --k) {
        const HistoryRow& r = row(k - 1);
        for (int i = r.count - 1; i >= 0; --i)
            if (r.column[i] == column)
                return r.dBm[i];
    }
    return checkpoint ? readingIn(checkpoint->lastRead[std::size_t(column)], column) : kNoLevel;
}

void ScanHistory::writeCsv(std::ostream& out) const
{
    // Every channel of every section kept, in frequency order; a section's
    // columns map onto them.
    std::map<double, int> order;
    for (const HistorySection& s : m_sections)
        for (const HistorySection::Column& c : s.columns)
            order.emplace(c.mhz, 0);
    int next = 0;
    out << "UTC";
    for (auto& [mhz, index] : order) {
        index = next++;
        char text[64];
        const auto [end, error] = std::to_chars(text, text + sizeof text, mhz, std::chars_format::fixed, 5);
        out << ',' << std::string_view(text, error == std::errc() ? std::size_t(end - text) : 0);
    }
    out << '\n';

    std::vector<int> mapping;
    std::vector<int> cells(order.size(), kNoLevel);
    const HistorySection* section = nullptr;
    for (uint64_t n = firstRow(); n < endRow(); ++n) {
        const HistorySection& s = sectionOf(n);
        if (&s != section) {
            section = &s;
            mapping.clear();
            for (const HistorySection::Column& c : s.columns)
                mapping.push_back(order.at(c.mhz));
        }
        const HistoryRow& r = row(n);
        for (int i = 0; i < r.count; ++i)
            cells[std::size_t(mapping[r.column[i]])] = r.dBm[i];
        char time[32];
        out.write(time, std::streamsize(UtcTime::iso8601(r.utcMs, time)));
        for (int& cell : cells) {
            out << ',';
            if (cell != kNoLevel)
                out << cell;
            cell = kNoLevel;
        }
        out << '\n';
    }
}

std::size_t ScanHistory::memoryBytes() const
{
    std::size_t bytes = m_rows.capacity() * sizeof(HistoryRow);
    for (const HistorySection& s : m_sections) {
        bytes += sizeof s + s.columns.capacity() * sizeof(HistorySection::Column)
            + s.columns.size() * (2 * sizeof(int8_t) + sizeof(int64_t) + sizeof(uint32_t))
            + (s.lastRead.capacity() + s.checkpoints.size() * s.columns.size()) * sizeof(uint64_t)
            + s.checkpoints.size() * sizeof(HistorySection::Checkpoint);
    }
    return bytes;
}
