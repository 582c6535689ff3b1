#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

// The .KLF file a logging run appends to, used by the writer thread alone.
//
// The file is the writer's alone: open() takes an exclusive flock on it, and
// a second writer, in this or another program, is refused. A file continued
// from an earlier run is first cut back to its last whole record, as is a
// record that a failed write left half on disk, so that appending never
// follows a cut-off record. stillThere() notices a file deleted or replaced
// under its name, so that the writer can start it again.
class LogFile
{
public:
    static constexpr size_t kMaxFileName = 511;

    // nameCheckEvery: calls of stillThere() between two looks at the name.
    LogFile(std::string name, int nameCheckEvery);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file or continues it, and locks it; false with errno set
    // (inUse() when another writer holds the lock). Closes what was open.
    bool open();
    bool inUse() const { return m_inUse; }
    // Created, or nothing whole was left in it: it needs a header first.
    bool needsHeader() const { return m_needHeader; }
    // The last open cut a continued file back to its last whole record.
    bool wasCutBack() const { return m_wasCutBack; }

    // One write: a crash cannot leave half of a header. False with errno set,
    // the file cut back to its last whole record.
    bool appendHeader(const std::vector<uint8_t>& header);
    // Records, each behind a 16-bit little-endian count as the writer's queue
    // holds them, in one write; the batch is rearranged in place. Returns how
    // many went whole to the file; on a failed write (errno set) the file is
    // cut back to the last of them and failed is set.
    uint64_t appendBatch(std::vector<uint8_t>& batch, bool& failed);

    // False once the file has been deleted, or its name leads elsewhere
    // (looked at every nameCheckEvery calls, or at the next call after
    // checkNameNext()).
    bool stillThere();
    void checkNameNext() { m_callsSinceNameCheck = m_nameCheckEvery; }

    // Makes the run durable and closes; false with errno set.
    bool close();
    // Closes without waiting for the disk (the run has failed).
    void abandon();

    const std::string& name() const { return m_name; }

private:
    off_t cutToLastWholeRecord(off_t size);
    bool writeAll(const uint8_t* bytes, size_t count, size_t& written);
    void cutBack();

    const std::string m_name;
    const int m_nameCheckEvery;
    int m_fd = -1;
    dev_t m_device = 0; // of the file m_fd has open, to see it replaced
    ino_t m_inode = 0;
    off_t m_goodSize = 0;             // bytes up to the end of the last whole record
    std::vector<size_t> m_recordEnds; // within the batch being written
    int m_callsSinceNameCheck = 0;
    bool m_inUse = false;
    bool m_needHeader = false;
    bool m_wasCutBack = false;
};
