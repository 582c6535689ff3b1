#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Walks a .KLF file front to back in a fixed buffer, however large the file:
// the streaming counterpart of KlfReader, with the same rules. A header is
// recognised by its first 23 bytes; a record whose body does not XOR to zero
// is handed out marked bad and the walk goes on; a length outside 1..2047
// ends the walk as malformed, a record cut short by the end of the file ends
// it as truncated.
class KlfFileReader
{
public:
    enum class Status { Ok, Malformed, Truncated, Unreadable };

    static constexpr uint16_t kMaxLength = 2047;
    static constexpr size_t kBufferSize = size_t(1) << 20;

    struct Record
    {
        uint64_t offset = 0;  // of the length field
        uint16_t length = 0;  // L: bytes after the length field
        uint8_t type = 0;
        bool checksumOk = true;
        std::span<const uint8_t> bytes; // L + 2 bytes from the length field; valid until the next call

        std::span<const uint8_t> payload() const { return bytes.subspan(3, length >= 2 ? length - 2u : 0u); }
    };

    // The file is read, not owned.
    explicit KlfFileReader(std::FILE* file);

    // Reads the header when the file starts with one. False when the file
    // ends or breaks inside the header.
    bool readHeader();
    // The next packet record; false at the end of the file or where it stops
    // making sense (status() and error() tell which).
    bool next(Record& out);

    Status status() const { return m_status; }
    const std::string& error() const { return m_error; }
    uint64_t errorOffset() const { return m_errorOffset; }
    uint64_t checksumErrors() const { return m_checksumErrors; }
    // Bytes taken as header and whole records so far.
    uint64_t offset() const { return m_offset; }

    bool hasHeader() const { return m_hasHeader; }
    const std::string& serialNumber() const { return m_serial; }
    uint8_t receiverFlags() const { return m_receiverFlags; }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const std::array<uint8_t, 12>& settingsBlock(int r) const { return m_blocks[size_t(r)]; }
    // The header's channel information record from its length field on; empty if none.
    const std::vector<uint8_t>& channelInfo() const { return m_channelInfo; }

private:
    // Makes at least n bytes available at m_pos unless the file ends first;
    // returns how many are available (at most n is not promised).
    size_t fill(size_t n);
    bool readRecord(Record& out);
    void setError(Status status, uint64_t offset, const std::string& text);

    std::FILE* m_file;
    std::unique_ptr<uint8_t[]> m_buffer; // kBufferSize bytes, left uninitialised
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
    uint64_t m_offset = 0;

    Status m_status = Status::Ok;
    std::string m_error;
    uint64_t m_errorOffset = 0;
    uint64_t m_checksumErrors = 0;
    bool m_headerRead = false;
    bool m_stopped = false;

    bool m_hasHeader = false;
    std::string m_serial;
    uint8_t m_receiverFlags = 0;
    std::array<std::array<uint8_t, 12>, 2> m_blocks{};
    std::vector<uint8_t> m_channelInfo;
    // The record after the header when it is not channel information.
    bool m_held = false;
    Record m_heldRecord;
};
