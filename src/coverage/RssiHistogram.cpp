#include "coverage/RssiHistogram.h"

#include <algorithm>
#include <charconv>

void RssiHistogram::widenAndAdd(int dbm, uint64_t n)
{
    if (n == 0)
        return;
    if (m_counts.empty()) {
        m_low = dbm;
        m_counts.assign(1, n);
        return;
    }
    if (dbm < m_low) {
        m_counts.insert(m_counts.begin(), size_t(m_low - dbm), 0);
        m_low = dbm;
    } else {
        m_counts.resize(size_t(dbm - m_low + 1), 0);
    }
    m_counts[size_t(dbm - m_low)] += n;
}

void RssiHistogram::add(const RssiHistogram& other)
{
    for (size_t i = 0; i < other.m_counts.size(); ++i)
        if (other.m_counts[i])
            add(other.m_low + int(i), other.m_counts[i]);
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
    if (text.empty())
        return true;
    const char* p = text.data();
    const char* end = p + text.size();
    int low = 0;
    auto r = std::from_chars(p, end, low);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':' || low < kLowest || low > kHighest)
        return false;
    p = r.ptr + 1;
    uint64_t total = 0;
    for (int dbm = low;; ++dbm) {
        uint64_t c = 0;
        r = std::from_chars(p, end, c);
        if (r.ec != std::errc() || dbm > kHighest || c > kMaxCount - total)
            return false;
        total += c;
        out.add(dbm, c);
        if (r.ptr == end)
            return true;
        if (*r.ptr != ',')
            return false;
        p = r.ptr + 1;
    }
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
