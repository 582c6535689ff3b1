#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A .KLF file held in memory, walked by KlfStream (which says what is whole
// and what is not) and kept as a list of records. The reader works on bytes
// the caller keeps alive; it never throws on bad input, it reports where the
// file stops making sense.
class KlfReader
{
public:
    enum class Status { Ok, Malformed, Truncated };
    enum class HeaderMode { Detect, Present, Absent };

    static constexpr uint16_t kMaxLength = 2047;

    struct Record
    {
        size_t offset = 0;   // of the length field
        uint16_t length = 0; // L: bytes after the length field
        uint8_t type = 0;
        bool checksumOk = true;
    };

    explicit KlfReader(std::span<const uint8_t> data, HeaderMode mode = HeaderMode::Detect);

    Status status() const { return m_status; }
    // Offset of the first problem (bad checksum, bad length, cut record).
    size_t errorOffset() const { return m_errorOffset; }
    const std::string& error() const { return m_error; }
    size_t checksumErrors() const { return m_checksumErrors; }
    // Where the records end: the file size when nothing was cut short.
    size_t endOfRecords() const { return m_end; }
    // Offset of a record cut short by the end of the file.
    std::optional<size_t> truncatedAt() const { return m_truncatedAt; }

    bool hasHeader() const { return m_hasHeader; }
    const std::string& serialNumber() const { return m_serial; }
    uint8_t receiverFlags() const { return m_receiverFlags; }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const std::array<uint8_t, 12>& settingsBlock(int r) const { return m_blocks[r]; }
    std::optional<Record> channelInfo() const { return m_channelInfo; }

    // Packet records after the header (the channel information excluded).
    const std::vector<Record>& records() const { return m_records; }
    // The record from its length field on: L + 2 bytes.
    std::span<const uint8_t> recordBytes(const Record& r) const;
    std::span<const uint8_t> payload(const Record& r) const;

private:
    std::span<const uint8_t> m_data;
    Status m_status = Status::Ok;
    size_t m_errorOffset = 0;
    std::string m_error;
    size_t m_checksumErrors = 0;
    size_t m_end = 0;
    std::optional<size_t> m_truncatedAt;
    bool m_hasHeader = false;
    std::string m_serial;
    uint8_t m_receiverFlags = 0;
    std::array<std::array<uint8_t, 12>, 2> m_blocks{};
    std::optional<Record> m_channelInfo;
    std::vector<Record> m_records;
};
