#pragma once

#include "log/KlfPullReader.h"
#include "log/KlfStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

// A .KLF log followed while the logger writes it: next() hands out every
// record that is whole on disk, and never one still being written. The
// bytes of a record not yet whole are read again at the next look rather
// than kept, because the logger's rules may cut that tail back (a run killed
// mid-write, continued later) and append other records in its place.
//
// What the logger may do to its file, as poll() reports it:
//   Grew      records appended
//   CutBack   a half-written last record cut off (a continued run); only
//             bytes never handed out are gone
//   Deleted   the file has no name left, or its name leads nowhere: the
//             logger starts a new file under the name within a second
//   Replaced  another file is at the name (the logger started again, or a
//             file appeared where none was), or the file was cut below
//             records already handed out: it is another log, and reopen()
//             follows it from its start
// Deleted and Replaced hold until reopen(); the records the old file still
// receives (the logger notices a deletion only at its next wake-up) can be
// read meanwhile.
//
// Waiting costs nothing while the log is quiet: descriptor() becomes
// readable when the file is written, its name changes, or wake() is called;
// inotify underneath, on the file and on its folder. A thread calls wait();
// an event loop watches descriptor(). Either way poll() comes next, which
// empties the descriptor again. inotify sees the writes of this machine
// only: a log on a network share written from another machine wakes no
// one, and where inotify is not to be had (its limits reached) neither
// does a write; then only wake() and the caller's time limit end a wait.
//
// One thread at a time uses a follower; wake() may be called from any.
class KlfFollower
{
public:
    enum class Change { None, Grew, CutBack, Deleted, Replaced };
    using Status = KlfPullReader::Status;
    using Record = KlfStream::Record;

    static constexpr size_t kBufferSize = size_t(1) << 18;

    explicit KlfFollower(std::string path);
    ~KlfFollower();
    KlfFollower(const KlfFollower&) = delete;
    KlfFollower& operator=(const KlfFollower&) = delete;

    // Starts following the file at the name from its start; false with
    // error() set when it cannot be opened (it may not exist yet: poll()
    // says Replaced once it does). The watch is set up either way.
    bool reopen();
    bool isOpen() const { return m_fd >= 0; }

    // Looks at the file without waiting, and empties descriptor().
    Change poll();
    // Waits until the file or its name may have changed, wake() is called,
    // or timeoutMs passes (-1: no limit). True unless the time ran out.
    bool wait(int timeoutMs);
    // Ends a wait() in another thread; async-signal-safe.
    void wake();
    // Readable when wait() would return: for an event loop's notifier.
    int descriptor() const { return m_epoll; }

    // The next packet record that is whole now (never the header's channel
    // information); false when none is, or the log stopped making sense
    // (status()). The record's bytes stay valid until the next call.
    bool next(Record& out);
    // The writer is done (or following stops): reads what is left and ends
    // the walk as a read of the whole file would, a record cut short
    // included. next() then hands out nothing more.
    void finish();

    Status status() const;
    const std::string& error() const;
    uint64_t errorOffset() const;
    uint64_t checksumErrors() const { return m_stream->checksumErrors(); }
    // The end of the last whole record handed out (or of the header):
    // where a later reader can take up.
    uint64_t offset() const { return m_stream->endOfRecords(); }
    // The file's size at the last look.
    uint64_t size() const { return m_size; }
    // Whether a process holds a flock on the file followed, as the logger
    // does for as long as it writes it: once none does, the log is finished
    // unless logging is started again. Read from /proc/locks, so that the
    // follower never takes a lock itself (the logger would refuse the file).
    // True when it cannot tell (no file open, /proc unreadable): a log is
    // never taken for finished on a guess.
    bool writerHoldsLock() const;
    // The file followed, to read it again by a descriptor of one's own.
    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }
    const std::string& path() const { return m_path; }

    // The header is known once the record after it is whole.
    bool headerKnown() const { return m_headerKnown; }
    bool hasHeader() const { return m_stream->hasHeader(); }
    const std::string& serialNumber() const { return m_stream->serialNumber(); }
    uint8_t receiverFlags() const { return m_stream->receiverFlags(); }
    // Receiver 1's block holds 11 stored bytes; its last byte reads 0.
    const KlfHeader::SettingsBlock& settingsBlock(int r) const { return m_stream->settingsBlock(r); }
    // The header's channel information record from its length field on; empty if none.
    const std::vector<uint8_t>& channelInfo() const { return m_channelInfo; }

private:
    bool pull(Record& out);
    bool refill();
    void rewind();
    void watchFile();
    void drainNotifications();
    bool tailChanged();

    const std::string m_path;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    int m_inotify = -1;
    int m_wakeFd = -1;
    int m_epoll = -1;
    int m_fileWatch = -1;

    std::unique_ptr<KlfStream> m_stream;
    std::unique_ptr<uint8_t[]> m_buffer; // kBufferSize bytes, left uninitialised
    std::span<const uint8_t> m_unread;
    uint64_t m_readAt = 0; // file offset of the next byte to read
    bool m_finished = false;
    bool m_headerKnown = false;
    std::vector<uint8_t> m_channelInfo;
    uint64_t m_size = 0;
    // Cut below what was handed out: not the logger's doing, another log.
    bool m_rewritten = false;
    // The bytes past the whole records at the last read: a different tail
    // later means the logger cut it back, however soon it wrote again.
    std::vector<uint8_t> m_tail;
    uint64_t m_tailAt = 0;

    std::string m_readError; // with its offset
    uint64_t m_readErrorOffset = 0;
    bool m_streamErredFirst = false;
};
