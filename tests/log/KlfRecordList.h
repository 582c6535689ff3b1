#pragma once

#include "log/KlfStream.h"

#include <cstdint>
#include <span>
#include <vector>

// A .KLF file held in memory and walked once by the parser into a list of
// records, for tests that look at a whole log at once. The bytes stay the
// caller's and must outlive the list.
class KlfRecordList
{
public:
    using Status = KlfStream::Status;
    using HeaderMode = KlfStream::HeaderMode;
    using Record = KlfStream::Record;

    explicit KlfRecordList(std::span<const uint8_t> data, HeaderMode mode = HeaderMode::Detect);

    Status status() const { return m_walk.status(); }
    // Offset of the first problem (bad checksum, bad length, cut record).
    size_t errorOffset() const { return m_walk.errorOffset(); }
    const std::string& error() const { return m_walk.error(); }
    size_t checksumErrors() const { return m_walk.checksumErrors(); }
    // Where the records end: the file size when nothing was cut short.
    size_t endOfRecords() const { return m_walk.endOfRecords(); }
    // Offset of a record cut short by the end of the file.
    std::optional<size_t> truncatedAt() const { return m_walk.truncatedAt(); }

    bool hasHeader() const { return m_walk.hasHeader(); }
    const std::string& serialNumber() const { return m_walk.serialNumber(); }
    uint8_t receiverFlags() const { return m_walk.receiverFlags(); }
    const KlfHeader::SettingsBlock& settingsBlock(int r) const { return m_walk.settingsBlock(r); }
    std::optional<Record> channelInfo() const { return m_walk.channelInfo(); }

    // Packet records after the header (the channel information excluded).
    const std::vector<Record>& records() const { return m_records; }
    // The record from its length field on: L + 2 bytes.
    std::span<const uint8_t> recordBytes(const Record& r) const
    {
        return m_data.subspan(r.offset, size_t(r.length) + 2);
    }
    std::span<const uint8_t> payload(const Record& r) const
    {
        return recordBytes(r).subspan(3, r.length >= 2 ? r.length - 2u : 0u);
    }

private:
    std::span<const uint8_t> m_data;
    KlfStream m_walk;
    std::vector<Record> m_records;
};
