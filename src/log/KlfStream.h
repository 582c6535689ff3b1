#pragma once

#include "log/KlfHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The one parser of .KLF files: it walks a log by its length fields as its
// bytes arrive, in any chunks, holding no more than one record, so a file of
// any size is checked in constant memory. It has two faces over one state
// machine: push, where feed() hands every record to a handler (klf-inspect,
// the log writer's cut-back), and pull, where next() takes bytes from the
// caller's buffer until one record is whole (KlfPullReader over a file, for
// the drive model and the replay).
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
        // The channel information record that ends a header.
        bool isChannelInfo = false;
        // L + 2 bytes from the length field on; valid until the parser is
        // called again and, when they lie in the caller's buffer, while it is.
        std::span<const uint8_t> bytes;

        std::span<const uint8_t> payload() const { return bytes.subspan(3, length >= 2 ? length - 2u : 0u); }
    };
    // Called for every whole record with its bytes, as in the record.
    using RecordHandler = std::function<void(const Record&, std::span<const uint8_t> bytes, bool isChannelInfo)>;

    explicit KlfStream(HeaderMode mode = HeaderMode::Detect, RecordHandler onRecord = {});

    // Push: every record whole after these bytes goes to the handler.
    void feed(std::span<const uint8_t> bytes);
    // Pull: takes bytes from the front of in until a record is whole (true,
    // out set) or in is used up or the walk has stopped (false).
    bool next(std::span<const uint8_t>& in, Record& out);
    // The end of the file: whatever is half-read is cut short.
    void finish();
    // Following a log as it is written: the bytes of a header or record not
    // yet whole are given back, so the next bytes fed must start at
    // bytesTaken(), where the whole records end. The writer may cut that tail
    // back and write other bytes in its place; held here, they would be
    // joined to what follows. Call it only when next() has returned false.
    void rewindToWholeRecords();

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
    // Bytes taken from the file so far.
    size_t bytesTaken() const { return m_size; }

    bool hasHeader() const { return m_hasHeader; }
    const std::string& serialNumber() const { return m_header.serialNumber; }
    uint8_t receiverFlags() const { return m_header.receiverFlags; }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const KlfHeader::SettingsBlock& settingsBlock(int r) const { return m_header.settingsBlocks[size_t(r)]; }
    // Where the header's channel information lay; its bytes are not kept.
    std::optional<Record> channelInfo() const { return m_channelInfo; }

    // Formats where a problem lies, as every message of the log layer does.
    static std::string at(size_t offset);

private:
    enum class Phase { Probe, Header, FirstRecord, Records, Stopped };

    // Takes bytes into m_pending until it holds want bytes; true when it does.
    bool gather(const uint8_t*& p, const uint8_t* end, size_t want);
    void readHeader();
    // A whole record at m_offset: bytes are its L + 2 bytes.
    void takeRecord(std::span<const uint8_t> bytes, Record& out);
    bool badLength(uint16_t length);
    void setError(Status status, size_t offset, std::string text);

    HeaderMode m_mode;
    RecordHandler m_onRecord;
    Phase m_phase;
    std::vector<uint8_t> m_pending; // a header or a record split across calls
    bool m_pendingHandedOut = false; // m_pending is the last record handed out
    size_t m_offset = 0;            // of the first byte not yet placed
    size_t m_size = 0;              // bytes taken so far

    Status m_status = Status::Ok;
    size_t m_errorOffset = 0;
    std::string m_error;
    size_t m_checksumErrors = 0;
    size_t m_end = 0;
    std::optional<size_t> m_truncatedAt;
    size_t m_recordCount = 0;
    bool m_hasHeader = false;
    KlfHeader::Stored m_header;
    std::optional<Record> m_channelInfo;
};
