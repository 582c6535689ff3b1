#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Walks a .KLF file by its length fields as its bytes arrive, in any chunks,
// holding no more than one record: a file of any size is checked in constant
// memory.
//
// A header is recognised by its first 23 bytes (six zeros and the
// identification record); files that only ever received appended records have
// none. A record whose body does not XOR to zero is counted and the walk goes
// on, because its length still places the next record; a length outside
// 1..2047 ends the walk as malformed, and a record cut short by the end of the
// file (a crash during a write) ends it as truncated. A file with no bytes at
// all is malformed unless it is known to be headerless: a log always starts
// with its header.
class KlfStream
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
    // Called for every whole record with its bytes from the length field on
    // (L + 2), valid only during the call. The channel information record
    // that ends a header comes with isChannelInfo set.
    using RecordHandler = std::function<void(const Record&, std::span<const uint8_t> bytes, bool isChannelInfo)>;

    explicit KlfStream(HeaderMode mode = HeaderMode::Detect, RecordHandler onRecord = {});

    void feed(std::span<const uint8_t> bytes);
    // The end of the file: whatever is half-read is cut short.
    void finish();

    // True once nothing more can be placed (a bad header or length).
    bool stopped() const { return m_phase == Phase::Stopped; }
    Status status() const { return m_status; }
    // Offset of the first problem (bad checksum, bad length, cut record).
    size_t errorOffset() const { return m_errorOffset; }
    const std::string& error() const { return m_error; }
    size_t checksumErrors() const { return m_checksumErrors; }
    // Where the whole records end (a whole header counts as one); the file
    // size when nothing was cut short or went wrong.
    size_t endOfRecords() const { return m_end; }
    std::optional<size_t> truncatedAt() const { return m_truncatedAt; }
    size_t recordCount() const { return m_recordCount; }

    bool hasHeader() const { return m_hasHeader; }
    const std::string& serialNumber() const { return m_serial; }
    uint8_t receiverFlags() const { return m_receiverFlags; }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const std::array<uint8_t, 12>& settingsBlock(int r) const { return m_blocks[size_t(r)]; }
    std::optional<Record> channelInfo() const { return m_channelInfo; }

private:
    enum class Phase { Probe, Header, FirstRecord, Records, Stopped };

    // Takes bytes into m_pending until it holds want bytes; true when it does.
    bool gather(const uint8_t*& p, const uint8_t* end, size_t want);
    void readHeader();
    // A whole record at m_offset: bytes are its L + 2 bytes.
    void takeRecord(std::span<const uint8_t> bytes);
    bool badLength(uint16_t length);
    void setError(Status status, size_t offset, std::string text);

    HeaderMode m_mode;
    RecordHandler m_onRecord;
    Phase m_phase;
    std::vector<uint8_t> m_pending; // a header or a record split across feeds
    size_t m_offset = 0;            // of the first byte not yet placed
    size_t m_size = 0;              // bytes fed so far

    Status m_status = Status::Ok;
    size_t m_errorOffset = 0;
    std::string m_error;
    size_t m_checksumErrors = 0;
    size_t m_end = 0;
    std::optional<size_t> m_truncatedAt;
    size_t m_recordCount = 0;
    bool m_hasHeader = false;
    std::string m_serial;
    uint8_t m_receiverFlags = 0;
    std::array<std::array<uint8_t, 12>, 2> m_blocks{};
    std::optional<Record> m_channelInfo;
};
