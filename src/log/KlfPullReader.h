#pragma once

#include "log/KlfStream.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The pull face of the .KLF parser over an open file: next() hands out one
// record at a time, read through a fixed buffer however large the file. It
// only feeds the file to a KlfStream and adds what reading a file brings: a
// read error, and the header read ahead with the channel information that
// ends it (the first record, held back when it is not that).
class KlfPullReader
{
public:
    enum class Status { Ok, Malformed, Truncated, Unreadable };
    using Record = KlfStream::Record;

    static constexpr size_t kBufferSize = size_t(1) << 20;

    // The file is read from where it stands, not owned.
    explicit KlfPullReader(std::FILE* file);

    // Reads the header and its channel information, when the file starts with
    // a header. False when the file breaks before its first record.
    bool readHeader();
    // The next packet record (never the header's channel information); false
    // at the end of the file or where it stops making sense (status() and
    // error() tell which). The record's bytes stay valid until the next call.
    bool next(Record& out);

    Status status() const;
    // The first problem, with its offset.
    const std::string& error() const;
    uint64_t errorOffset() const;
    uint64_t checksumErrors() const { return m_stream.checksumErrors(); }
    // Bytes taken as header and whole records so far.
    uint64_t offset() const { return m_stream.endOfRecords(); }

    bool hasHeader() const { return m_stream.hasHeader(); }
    const std::string& serialNumber() const { return m_stream.serialNumber(); }
    uint8_t receiverFlags() const { return m_stream.receiverFlags(); }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const KlfHeader::SettingsBlock& settingsBlock(int r) const { return m_stream.settingsBlock(r); }
    // The header's channel information record from its length field on; empty if none.
    const std::vector<uint8_t>& channelInfo() const { return m_channelInfo; }

private:
    bool pull(Record& out);
    void refill();

    std::FILE* m_file;
    KlfStream m_stream;
    std::unique_ptr<uint8_t[]> m_buffer; // kBufferSize bytes, left uninitialised
    std::span<const uint8_t> m_unread;
    bool m_eof = false;
    bool m_headerRead = false;
    bool m_headerOk = true;
    std::vector<uint8_t> m_channelInfo;
    // The first record after the header when it is not channel information.
    bool m_held = false;
    Record m_heldRecord;

    std::string m_readError; // with its offset
    uint64_t m_readErrorOffset = 0;
    bool m_streamErredFirst = false;
};
