#include "TLog_Router.h"

#include "log/KlfHeader.h"
#include "log/KlfStream.h"
#include "protocol/DeviceRecord.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A bare name in a message says nothing of the folder it was tried in (a
// program started from a desktop menu may work in a folder the user never
// sees): every message names the whole path, fixed when logging starts.
std::string absolutePath(const std::string& name)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(name, error);
    return error ? name : path.string();
}

} // namespace

TLog_Router::TLog_Router(const std::string& fileName, DeviceRecord& device, ErrorHandler onError,
                         bool createSuspended)
    : onError(std::move(onError))
    , m_fileName(absolutePath(fileName))
    , m_record(device)
{
    if (!createSuspended)
        start();
}

TLog_Router::~TLog_Router()
{
    stopAndWait();
}

void TLog_Router::stop()
{
    Terminate();
    m_logEvent.set();
}

void TLog_Router::stopAndWait()
{
    stop();
    // Also when the thread has ended already: the join is what orders its
    // last writes before the caller frees the queue.
    wait();
}

void TLog_Router::PostRecord(const uint8_t* packet, int count)
{
    if (!packet || count <= 0 || count > RecordSlot::kCapacity) {
        ++m_dropped;
        return;
    }
    const size_t need = size_t(count) + 2;
    bool wake;
    {
        std::lock_guard lock(m_queueMutex);
        if (m_closed)
            return;
        if (kQueueBytes - m_queue.size() < need) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(uint8_t(count & 0xFF));
        m_queue.push_back(uint8_t(count >> 8));
        m_queue.insert(m_queue.end(), packet, packet + count);
        wake = m_idle || m_queue.size() >= kWakeBytes;
        m_idle = false;
    }
    if (wake || m_wakeEachPost.load())
        m_logEvent.set();
}

bool TLog_Router::idle() const
{
    std::lock_guard lock(m_queueMutex);
    return m_idle;
}

bool TLog_Router::takeQueued(std::vector<uint8_t>& out)
{
    out.clear(); // keeps its capacity: the two buffers take turns
    std::lock_guard lock(m_queueMutex);
    m_queue.swap(out);
    m_idle = out.empty();
    return !out.empty();
}

int32_t TLog_Router::MeasureFileSize()
{
    struct stat st;
    int64_t kb = 0;
    if (::stat(m_fileName.c_str(), &st) == 0)
        kb = int64_t(st.st_size) / 1024;
    return int32_t(std::min<int64_t>(kb, INT32_MAX));
}

bool TLog_Router::OpenLogFile()
{
    m_inUse = false;
    if (m_fileName.size() > size_t(kMaxFileName)) {
        errno = ENAMETOOLONG;
        return false;
    }
    // O_EXCL makes "does it exist" and "create it" one step, so a file that
    // appears in between is continued rather than truncated.
    m_fd = ::open(m_fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    const bool created = m_fd >= 0;
    if (!created) {
        if (errno != EEXIST)
            return false;
        m_fd = ::open(m_fileName.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        if (m_fd < 0 && errno == EACCES) // may write but not read: continued as it is
            m_fd = ::open(m_fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_fd < 0)
            return false;
    }
    // Taken before anything is written: two programs logging into one file
    // would mix two devices' records under one header.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_inUse = errno == EWOULDBLOCK;
        const int saved = errno;
        ::close(m_fd);
        m_fd = -1;
        errno = saved;
        return false;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return false;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_goodSize = created || !S_ISREG(st.st_mode) ? 0 : CutToLastWholeRecord(st.st_size);
    m_needHeader = created || (S_ISREG(st.st_mode) && st.st_size > 0 && m_goodSize == 0);
    return true;
}

// A file continued from an earlier run may end in a record that a crash or a
// full disk cut off; records appended after it could never be read. Only a
// file that starts with a header is cut: anything else is not ours to shorten.
off_t TLog_Router::CutToLastWholeRecord(off_t size)
{
    KlfStream walk;
    std::vector<uint8_t> buffer(1 << 16);
    off_t at = 0;
    while (at < size && !walk.stopped()) {
        const ssize_t n = ::pread(m_fd, buffer.data(), size_t(std::min<off_t>(size - at, off_t(buffer.size()))), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return size; // unreadable: continued as it is
        walk.feed({buffer.data(), size_t(n)});
        at += n;
    }
    walk.finish();
    if (walk.status() != KlfStream::Status::Truncated || !walk.hasHeader())
        return size;
    const off_t end = off_t(walk.endOfRecords());
    if (::ftruncate(m_fd, end) != 0)
        return size;
    notice("Log File Cut Back To Its Last Whole Record!!! " + m_fileName);
    return end;
}

void TLog_Router::WaitForSettingsReply()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + m_settingsTimeout;
    // Every packet posted wakes us meanwhile, the settings reply among them.
    m_wakeEachPost = true;
    while (m_record.settingsReplies() == m_repliesBefore && !Terminated()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        m_logEvent.wait(int(std::min<int64_t>(left.count() + 1, 1000)));
        m_logEvent.reset();
    }
    m_wakeEachPost = false;
    m_logEvent.set(); // what was posted meanwhile is written at once
}

bool TLog_Router::WriteHeader()
{
    KlfHeader header;
    m_record.read([&](const DeviceRecord::Data& d) {
        header.serialNumber.assign(d.serialNumber, strnlen(d.serialNumber, 8));
        for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
            header.receiverActive[r] = d.receiverActive[r] ? 1 : 0;
            header.settingsBlocks[r] = d.receiverSettings[r].block();
        }
        const RecordSlot& info = d.channelInfoRecord;
        if (m_record.channelInfoPresent.load() && info.count > 0)
            header.channelInfo.assign(info.bytes.begin(), info.bytes.begin() + info.count);
    });
    // One write for the whole header: a crash cannot leave half of it.
    const std::vector<uint8_t> bytes = header.bytes();
    m_needHeader = false;
    return Append(bytes.data(), bytes.size());
}

// A plain descriptor has no user-space buffer: once write() returns, the
// bytes belong to the kernel and survive the process being killed, which is
// what a flush after every batch is for.
bool TLog_Router::WriteBytes(const uint8_t* bytes, size_t count, size_t& written)
{
    written = 0;
    while (written < count) {
        const ssize_t n = ::write(m_fd, bytes + written, count - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        written += size_t(n);
    }
    return true;
}

// A write that fails part-way (a full disk) is cut back, so that the file
// still ends on a whole record.
bool TLog_Router::Append(const uint8_t* bytes, size_t count)
{
    size_t written = 0;
    if (WriteBytes(bytes, count, written)) {
        m_goodSize += off_t(count);
        return true;
    }
    return CutBack();
}

// Cuts the file back to its last whole record after a failed write; keeps
// the write's errno for the message, and returns false for the caller.
bool TLog_Router::CutBack()
{
    const int saved = errno;
    (void)!::ftruncate(m_fd, m_goodSize);
    errno = saved;
    return false;
}

// The batch's records go out in one write, their length prefixes dropped in
// place: a system call per record cost more than the writing. Should the
// write stop part-way, the records it took whole are kept and counted, and
// the file is cut back to the last of them.
bool TLog_Router::AppendBatch(std::vector<uint8_t>& batch)
{
    m_recordEnds.clear();
    size_t from = 0, to = 0;
    while (from + 2 <= batch.size()) {
        const size_t count = size_t(batch[from] | (batch[from + 1] << 8));
        std::memmove(batch.data() + to, batch.data() + from + 2, count);
        from += 2 + count;
        to += count;
        m_recordEnds.push_back(to);
    }
    size_t written = 0;
    const bool ok = WriteBytes(batch.data(), to, written);
    const auto whole = std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), written) - m_recordEnds.begin();
    m_written += uint64_t(whole);
    m_goodSize += off_t(whole > 0 ? m_recordEnds[size_t(whole) - 1] : 0);
    return ok || CutBack();
}

// A deleted log shows on the open file (no links left) and is checked every
// batch, as records written to it would be lost. A log renamed or replaced
// under its name still keeps what is written, so the name, which costs a path
// lookup, is looked at once a second.
bool TLog_Router::FileStillThere()
{
    struct stat opened, named;
    if (::fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode))
        return true; // a device or the like: nothing to check
    if (opened.st_nlink == 0)
        return false;
    if (++m_batchesSinceNameCheck < kNameCheckBatches)
        return true;
    m_batchesSinceNameCheck = 0;
    if (::stat(m_fileName.c_str(), &named) != 0)
        return false;
    return named.st_dev == m_device && named.st_ino == m_inode;
}

bool TLog_Router::StartAgain()
{
    ::close(m_fd);
    m_fd = -1;
    if (!OpenLogFile()) {
        fail(m_inUse ? "Log File In Use!!!" : "Could Not Create Log File!!!", !m_inUse);
        return false;
    }
    if (m_needHeader && !WriteHeader()) {
        fail("Could Not Write Log File!!!");
        return false;
    }
    notice("Log File Deleted, Started Again!!! " + m_fileName);
    return true;
}

void TLog_Router::TellDrops()
{
    const uint64_t dropped = m_dropped.load();
    if (dropped == 0 || m_dropsTold)
        return;
    m_dropsTold = true;
    notice("Log Queue Full, " + std::to_string(dropped) + " Packets Not Logged!!! " + m_fileName);
}

void TLog_Router::notice(const std::string& message)
{
    if (m_onNotice)
        m_onNotice(message);
}

void TLog_Router::fail(const char* what, bool withReason)
{
    std::string message = std::string(what) + " " + m_fileName;
    if (withReason)
        message += std::string(": ") + std::strerror(errno);
    m_failed.store(true);
    {
        std::lock_guard lock(m_queueMutex);
        m_closed = true;
        std::vector<uint8_t>().swap(m_queue);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (onError)
        onError(message);
}

void TLog_Router::Execute()
{
    if (!OpenLogFile()) {
        fail(m_inUse ? "Log File In Use!!!" : "Could Not Create Log File!!!", !m_inUse);
        return;
    }
    if (m_needHeader) {
        if (m_waitForSettings)
            WaitForSettingsReply();
        if (!WriteHeader()) {
            fail("Could Not Create Log File!!!");
            return;
        }
    }
    MeasureFileSize();
    std::vector<uint8_t> batch;
    bool idle = false;
    for (;;) {
        // After a take that found nothing, the next post wakes the writer:
        // a silent device costs one wake-up a second (for the terminate
        // flag), not one a batch. Woken so, it still gathers a batch first.
        if (idle) {
            const bool posted = m_logEvent.wait(idleWaitMs);
            m_logEvent.reset();
            m_batchesSinceNameCheck = kNameCheckBatches; // a second or more went by
            if (posted && !Terminated())
                m_logEvent.wait(kBatchMs);
        } else {
            m_logEvent.wait(kBatchMs);
        }
        // Reset before taking, so a post that lands after the take wakes us again.
        m_logEvent.reset();
        if (!FileStillThere() && !StartAgain())
            return;
        idle = !takeQueued(batch);
        if (!idle && !AppendBatch(batch)) {
            fail("Could Not Write Log File!!!");
            return;
        }
        TellDrops();
        if (Terminated()) {
            std::lock_guard lock(m_queueMutex);
            if (m_queue.empty()) {
                m_closed = true;
                std::vector<uint8_t>().swap(m_queue);
                break;
            }
        }
    }
    // The run is over: make it durable once, rather than per record.
    ::fdatasync(m_fd);
    if (::close(m_fd) != 0) {
        m_fd = -1;
        fail("Could Not Write Log File!!!");
        return;
    }
    m_fd = -1;
    MeasureFileSize();
}
