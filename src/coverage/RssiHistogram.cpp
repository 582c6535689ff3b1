#include "coverage/RssiHistogram.h"

#include <algorithm>
#include <array>
#include <charconv>

void RssiHistogram::widenAndAdd(int dbm, uint64_t n)
{
    if (n == 0)
        return;
    widen(dbm, dbm);
    m_counts[size_t(dbm - m_low)] += n;
}

void RssiHistogram::widen(int low, int high)
{
    // Room is taken in steps of a few levels: the histograms of a map's tiles
    // grow a few times each, and blocks of a handful of sizes are used again
    // as they are freed instead of fragmenting the heap.
    constexpr size_t kStep = 16;
    const auto room = [](size_t levels) { return (levels + kStep - 1) / kStep * kStep; };
    if (m_counts.empty()) {
        m_low = low;
        m_counts.reserve(room(size_t(high - low + 1)));
        m_counts.assign(size_t(high - low + 1), 0);
        return;
    }
    const int top = m_low + int(m_counts.size()) - 1;
    if (low >= m_low) {
        if (high > top) {
            const size_t levels = size_t(high - m_low + 1);
            if (levels > m_counts.capacity())
                m_counts.reserve(room(levels));
            m_counts.resize(levels, 0);
        }
        return;
    }
    const size_t levels = size_t(std::max(high, top) - low + 1);
    if (levels <= m_counts.capacity()) {
        m_counts.insert(m_counts.begin(), size_t(m_low - low), 0);
        m_counts.resize(levels, 0);
    } else {
        std::vector<uint64_t> wider;
        wider.reserve(room(levels));
        wider.assign(size_t(m_low - low), 0);
        wider.insert(wider.end(), m_counts.begin(), m_counts.end());
        wider.resize(levels, 0);
        m_counts.swap(wider);
    }
    m_low = low;
}

void RssiHistogram::add(const RssiHistogram& other)
{
    add(other.m_low, other.m_counts);
}

void RssiHistogram::add(int low, std::span<const uint64_t> counts)
{
    // Zeros at the ends widen nothing: the counts stay trimmed.
    size_t first = 0, last = counts.size();
    while (first < last && counts[first] == 0)
        ++first;
    while (last > first && counts[last - 1] == 0)
        --last;
    if (first == last)
        return;
    low += int(first);
    widen(low, low + int(last - first) - 1);
    uint64_t* to = m_counts.data() + (low - m_low);
    for (size_t i = first; i < last; ++i)
        *to++ += counts[i];
}

uint64_t RssiHistogram::count() const
{
    uint64_t n = 0;
    for (uint64_t c : m_counts)
        n += c;
    return n;
}

uint64_t RssiHistogram::countAt(int dbm) const
{
    if (dbm < m_low || dbm >= m_low + int(m_counts.size()))
        return 0;
    return m_counts[size_t(dbm - m_low)];
}

int RssiHistogram::percentile(int p) const
{
    const uint64_t n = count();
    if (n == 0)
        return 0;
    const uint64_t rank = std::max<uint64_t>(1, (uint64_t(p) * n + 99) / 100);
    uint64_t seen = 0;
    for (size_t i = 0; i < m_counts.size(); ++i) {
        seen += m_counts[i];
        if (seen >= rank)
            return m_low + int(i);
    }
    return m_low + int(m_counts.size()) - 1;
}

CellFigures RssiHistogram::figures() const
{
    CellFigures f;
    int64_t sum = 0;
    for (size_t i = 0; i < m_counts.size(); ++i) {
        f.count += m_counts[i];
        sum += int64_t(m_counts[i]) * (m_low + int(i));
    }
    if (f.count == 0)
        return f;
    f.minimum = m_low;
    f.maximum = m_low + int(m_counts.size()) - 1;
    f.mean = double(sum) / double(f.count);
    // The three ranks in one walk, as percentile() finds each.
    const auto rank = [n = f.count](uint64_t p) { return std::max<uint64_t>(1, (p * n + 99) / 100); };
    const uint64_t r10 = rank(10), r50 = rank(50), r90 = rank(90);
    int* const out[] = {&f.p10, &f.median, &f.p90};
    const uint64_t ranks[] = {r10, r50, r90};
    size_t next = 0;
    uint64_t seen = 0;
    for (size_t i = 0; i < m_counts.size() && next < 3; ++i) {
        seen += m_counts[i];
        for (; next < 3 && seen >= ranks[next]; ++next)
            *out[next] = m_low + int(i);
    }
    return f;
}

std::string RssiHistogram::text() const
{
    std::string s;
    text(s);
    return s;
}

void RssiHistogram::text(std::string& out) const
{
    out.clear();
    if (m_counts.empty())
        return;
    char number[24];
    out.append(number, std::to_chars(number, number + sizeof number, m_low).ptr);
    out += ':';
    for (size_t i = 0; i < m_counts.size(); ++i) {
        if (i)
            out += ',';
        out.append(number, std::to_chars(number, number + sizeof number, m_counts[i]).ptr);
    }
}

bool RssiHistogram::fromText(const std::string& text, RssiHistogram& out)
{
    out = RssiHistogram();
    return out.addText(text);
}

bool RssiHistogram::addText(std::string_view text)
{
    if (text.empty())
        return true;
    const char* p = text.data();
    const char* end = p + text.size();
    int low = 0;
    auto r = std::from_chars(p, end, low);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':' || low < kLowest || low > kHighest)
        return false;
    p = r.ptr + 1;
    // Read whole before any is added, so that damage leaves this as it was.
    std::array<uint64_t, kHighest - kLowest + 1> counts;
    size_t n = 0;
    uint64_t total = 0;
    for (int dbm = low;; ++dbm) {
        uint64_t c = 0;
        r = std::from_chars(p, end, c);
        if (r.ec != std::errc() || dbm > kHighest || c > kMaxCount - total)
            return false;
        total += c;
        counts[n++] = c;
        if (r.ptr == end)
            break;
        if (*r.ptr != ',')
            return false;
        p = r.ptr + 1;
    }
    add(low, std::span<const uint64_t>(counts.data(), n));
    return true;
}

std::vector<uint64_t> RssiHistogram::fromLowest() const
{
    if (m_counts.empty())
        return {};
    std::vector<uint64_t> v(size_t(m_low - kLowest), 0);
    v.insert(v.end(), m_counts.begin(), m_counts.end());
    return v;
}

bool RssiHistogram::operator==(const RssiHistogram& o) const
{
    // Zeros at the ends (from widening past levels later left empty) do not count.
    for (int dbm = std::min(m_low, o.m_low); dbm < std::max(m_low + int(m_counts.size()), o.m_low + int(o.m_counts.size()));
         ++dbm)
        if (countAt(dbm) != o.countAt(dbm))
            return false;
    return true;
}
