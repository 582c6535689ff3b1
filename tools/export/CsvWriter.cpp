#include "CsvWriter.h"

#include <bit>

CsvWriter::CsvWriter(std::FILE* out)
    : ExportWriter(out), m_fields(kFieldSlots)
{
    for (int v = -128; v < 128; ++v) {
        char* text = m_rssi[uint8_t(v)];
        char* end = TextBuffer::formatInteger(text, v);
        *end++ = '\n';
        text[7] = char(end - text);
    }
    m_out << "time,latitude,longitude,receiver,mode,channel,frequency_mhz,rssi_dbm\n";
}

const CsvWriter::Fields& CsvWriter::fieldsOf(const DriveSample& s)
{
    const uint64_t bits = std::bit_cast<uint64_t>(s.frequencyMHz);
    const uint64_t key = bits ^ (uint64_t(uint32_t(s.channel)) << 3) ^ (uint64_t(s.receiver) << 2) ^ uint64_t(s.mode);
    Fields& f = m_fields[size_t((key * 0x9E3779B97F4A7C15ull) >> 56) % kFieldSlots];
    if (f.valid && f.frequencyBits == bits && f.channel == s.channel && f.receiver == s.receiver && f.mode == s.mode)
        return f;
    f.frequencyBits = bits;
    f.channel = s.channel;
    f.receiver = s.receiver;
    f.mode = s.mode;
    f.valid = true;
    char* p = f.text;
    *p++ = char('1' + s.receiver);
    *p++ = ',';
    for (const char* m = modeName(s.mode); *m; ++m)
        *p++ = *m;
    *p++ = ',';
    if (s.channel != 0)
        p = TextBuffer::formatInteger(p, s.channel);
    *p++ = ',';
    if (s.frequencyMHz > 0)
        p = TextBuffer::formatShortFixed(p, s.frequencyMHz, 6);
    *p++ = ',';
    f.length = uint8_t(p - f.text);
    return f;
}

void CsvWriter::sample(const DriveSample& s)
{
    if (!s.placed)
        return;
    if (s.record != m_prefixRecord) {
        m_prefixRecord = s.record;
        char* p = m_out.formatIsoTime(m_prefix, s.timeMs);
        *p++ = ',';
        p = TextBuffer::formatFixed(p, s.latitude, 7);
        *p++ = ',';
        p = TextBuffer::formatFixed(p, s.longitude, 7);
        *p++ = ',';
        m_prefixLength = size_t(p - m_prefix);
    }
    const Fields& f = fieldsOf(s);
    // Whole arrays, a few wide moves each, rather than a copy of variable
    // length; what lies past the text is overwritten or left uncommitted.
    char* p = m_out.reserve(sizeof m_prefix + sizeof f.text + 8);
    std::memcpy(p, m_prefix, sizeof m_prefix);
    p += m_prefixLength;
    std::memcpy(p, f.text, sizeof f.text);
    p += f.length;
    const char* rssi = m_rssi[uint8_t(s.rssi)];
    std::memcpy(p, rssi, 8);
    m_out.commit(p + rssi[7]);
}

bool CsvWriter::finish(const DriveSummary&)
{
    return m_out.flush();
}
