#include "LogFile.h"

#include "link/ByteOrder.h"
#include "log/KlfStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

LogFile::LogFile(std::string name, int nameCheckEvery)
    : m_name(std::move(name)), m_nameCheckEvery(nameCheckEvery)
{
}

LogFile::~LogFile()
{
    abandon();
}

bool LogFile::open()
{
    abandon();
    m_inUse = false;
    m_wasCutBack = false;
    if (m_name.size() > kMaxFileName) {
        errno = ENAMETOOLONG;
        return false;
    }
    // O_EXCL makes "does it exist" and "create it" one step, so a file that
    // appears in between is continued rather than truncated.
    m_fd = ::open(m_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    const bool created = m_fd >= 0;
    if (!created) {
        if (errno != EEXIST)
            return false;
        m_fd = ::open(m_name.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        if (m_fd < 0 && errno == EACCES) // may write but not read: continued as it is
            m_fd = ::open(m_name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_fd < 0)
            return false;
    }
    // Taken before anything is written: two programs logging into one file
    // would mix two devices' records under one header.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_inUse = errno == EWOULDBLOCK;
        const int saved = errno;
        abandon();
        errno = saved;
        return false;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return false;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_goodSize = created || !S_ISREG(st.st_mode) ? 0 : cutToLastWholeRecord(st.st_size);
    m_needHeader = created || (S_ISREG(st.st_mode) && st.st_size > 0 && m_goodSize == 0);
    return true;
}

// A file continued from an earlier run may end in a record that a crash or a
// full disk cut off; records appended after it could never be read. Only a
// file that starts with a header is cut: anything else is not ours to shorten.
off_t LogFile::cutToLastWholeRecord(off_t size)
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
    m_wasCutBack = true;
    return end;
}

// A plain descriptor has no user-space buffer: once write() returns, the
// bytes belong to the kernel and survive the process being killed, which is
// what a write after every batch is for.
bool LogFile::writeAll(const uint8_t* bytes, size_t count, size_t& written)
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

// After a failed write (a full disk), so that the file still ends on a whole
// record; keeps the write's errno for the message.
void LogFile::cutBack()
{
    const int saved = errno;
    (void)!::ftruncate(m_fd, m_goodSize);
    errno = saved;
}

bool LogFile::appendHeader(const std::vector<uint8_t>& header)
{
    m_needHeader = false;
    size_t written = 0;
    if (!writeAll(header.data(), header.size(), written)) {
        cutBack();
        return false;
    }
    m_goodSize += off_t(header.size());
    return true;
}

// The length prefixes are dropped in place and the records go out in one
// write: a system call per record cost more than the writing.
uint64_t LogFile::appendBatch(std::vector<uint8_t>& batch, bool& failed)
{
    m_recordEnds.clear();
    size_t from = 0, to = 0;
    while (from + 2 <= batch.size()) {
        const size_t count = ByteOrder::getleu16(batch.data() + from);
        std::memmove(batch.data() + to, batch.data() + from + 2, count);
        from += 2 + count;
        to += count;
        m_recordEnds.push_back(to);
    }
    size_t written = 0;
    failed = !writeAll(batch.data(), to, written);
    const auto whole = std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), written) - m_recordEnds.begin();
    m_goodSize += off_t(whole > 0 ? m_recordEnds[size_t(whole) - 1] : 0);
    if (failed)
        cutBack();
    return uint64_t(whole);
}

// A deleted log shows on the open file (no links left) and is checked every
// call, as records written to it would be lost. A log renamed or replaced
// under its name still keeps what is written, so the name, which costs a path
// lookup, is looked at less often.
bool LogFile::stillThere()
{
    struct stat opened, named;
    if (::fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode))
        return true; // a device or the like: nothing to check
    if (opened.st_nlink == 0)
        return false;
    if (++m_callsSinceNameCheck < m_nameCheckEvery)
        return true;
    m_callsSinceNameCheck = 0;
    if (::stat(m_name.c_str(), &named) != 0)
        return false;
    return named.st_dev == m_device && named.st_ino == m_inode;
}

bool LogFile::close()
{
    // The run is over: make it durable once, rather than per record.
    ::fdatasync(m_fd);
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0;
}

void LogFile::abandon()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
