#include "KlfFollower.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The tail kept to notice a cut back: a header and its first record at most.
constexpr size_t kMaxTail = KlfHeader::kFixedSize + KlfStream::kMaxLength + 2;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

ssize_t preadAll(int fd, uint8_t* to, size_t count, uint64_t at)
{
    for (;;) {
        const ssize_t n = ::pread(fd, to, count, off_t(at));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

KlfFollower::KlfFollower(std::string path)
    : m_path(std::move(path)), m_stream(std::make_unique<KlfStream>()), m_buffer(new uint8_t[kBufferSize])
{
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (const int fd : {m_inotify, m_wakeFd}) {
        if (fd < 0 || m_epoll < 0)
            continue;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
    }
    // The folder tells a file created, deleted or moved under the name; the
    // file itself only what happens to it, wherever its name went.
    if (m_inotify >= 0)
        ::inotify_add_watch(m_inotify, folderOf(m_path).c_str(),
                            IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
}

KlfFollower::~KlfFollower()
{
    for (const int fd : {m_fd, m_epoll, m_wakeFd, m_inotify})
        if (fd >= 0)
            ::close(fd);
}

bool KlfFollower::reopen()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_stream = std::make_unique<KlfStream>();
    m_unread = {};
    m_readAt = 0;
    m_finished = false;
    m_rewritten = false;
    m_headerKnown = false;
    m_channelInfo.clear();
    m_size = 0;
    m_tail.clear();
    m_readError.clear();
    m_readErrorOffset = 0;
    m_streamErredFirst = false;

    // Watched before opening: a write between the two still wakes the waiter.
    watchFile();
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        m_readError = "cannot open " + m_path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        m_readError = "cannot examine " + m_path + ": " + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_size = uint64_t(st.st_size);
    return true;
}

void KlfFollower::watchFile()
{
    if (m_inotify < 0)
        return;
    if (m_fileWatch >= 0)
        ::inotify_rm_watch(m_inotify, m_fileWatch); // fails harmlessly for a file gone
    // IN_ATTRIB comes with an unlink, which IN_DELETE_SELF only follows once
    // the last descriptor (ours) closes.
    m_fileWatch = ::inotify_add_watch(m_inotify, m_path.c_str(),
                                      IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
}

void KlfFollower::drainNotifications()
{
    // The events say only that something may have changed; poll() looks.
    alignas(inotify_event) char events[4096];
    if (m_inotify >= 0)
        while (::read(m_inotify, events, sizeof events) > 0) {
        }
    uint64_t count;
    if (m_wakeFd >= 0)
        (void)!::read(m_wakeFd, &count, sizeof count);
}

bool KlfFollower::wait(int timeoutMs)
{
    pollfd p{m_epoll, POLLIN, 0};
    const int n = ::poll(&p, 1, timeoutMs);
    return n != 0; // an interrupted wait returns early, as a wake would
}

void KlfFollower::wake()
{
    const uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
}

bool KlfFollower::tailChanged()
{
    if (m_tail.empty())
        return false;
    uint8_t now[kMaxTail];
    const ssize_t n = preadAll(m_fd, now, m_tail.size(), m_tailAt);
    return n >= 0 && (size_t(n) < m_tail.size() || !std::equal(m_tail.begin(), m_tail.end(), now));
}

KlfFollower::Change KlfFollower::poll()
{
    drainNotifications();
    struct stat named;
    const bool nameLeads = ::stat(m_path.c_str(), &named) == 0;
    if (m_fd < 0)
        return nameLeads ? Change::Replaced : Change::Deleted;

    Change change = Change::None;
    struct stat st;
    if (::fstat(m_fd, &st) == 0) {
        const uint64_t size = uint64_t(st.st_size);
        // The logger cuts back only what it never finished writing.
        if (size < offset())
            m_rewritten = true;
        else if (size < m_size || tailChanged())
            change = Change::CutBack;
        else if (size > m_size)
            change = Change::Grew;
        m_size = size;
        if (st.st_nlink == 0)
            change = Change::Deleted;
    }
    if (!nameLeads)
        change = Change::Deleted;
    else if (named.st_dev != m_device || named.st_ino != m_inode)
        return Change::Replaced;
    return m_rewritten ? Change::Replaced : change;
}

bool KlfFollower::refill()
{
    const ssize_t got = preadAll(m_fd, m_buffer.get(), kBufferSize, m_readAt);
    if (got > 0) {
        m_readAt += uint64_t(got);
        m_unread = {m_buffer.get(), size_t(got)};
        return true;
    }
    if (got < 0 && m_readError.empty()) {
        m_streamErredFirst = m_stream->status() != KlfStream::Status::Ok;
        m_readErrorOffset = m_readAt;
        m_readError = std::string("read error: ") + std::strerror(errno) + KlfStream::at(m_readErrorOffset);
    }
    return false;
}

void KlfFollower::rewind()
{
    m_stream->rewindToWholeRecords();
    const uint64_t whole = m_stream->bytesTaken();
    m_tail.resize(size_t(std::min<uint64_t>(m_readAt - whole, kMaxTail)));
    const ssize_t n = m_tail.empty() ? 0 : preadAll(m_fd, m_tail.data(), m_tail.size(), whole);
    m_tail.resize(size_t(std::max<ssize_t>(n, 0)));
    m_tailAt = whole;
    m_readAt = whole;
    m_unread = {};
}

bool KlfFollower::pull(Record& out)
{
    for (;;) {
        if (m_stream->next(m_unread, out))
            return true;
        if (m_stream->stopped() || !m_readError.empty())
            return false;
        if (refill())
            continue;
        if (!m_readError.empty())
            return false;
        if (!m_finished) {
            rewind();
            return false;
        }
        // As a whole read: a file without a byte is an empty drive.
        if (m_stream->bytesTaken() > 0)
            m_stream->finish();
        return false;
    }
}

bool KlfFollower::next(Record& out)
{
    if (m_fd < 0 || m_rewritten)
        return false;
    while (pull(out)) {
        if (!m_headerKnown) {
            m_headerKnown = true;
            if (out.isChannelInfo) {
                m_channelInfo.assign(out.bytes.begin(), out.bytes.end());
                continue;
            }
        }
        return true;
    }
    return false;
}

void KlfFollower::finish()
{
    m_finished = true;
}

KlfFollower::Status KlfFollower::status() const
{
    if (!m_readError.empty())
        return Status::Unreadable;
    switch (m_stream->status()) {
    case KlfStream::Status::Ok: return Status::Ok;
    case KlfStream::Status::Malformed: return Status::Malformed;
    case KlfStream::Status::Truncated: return Status::Truncated;
    }
    return Status::Malformed;
}

const std::string& KlfFollower::error() const
{
    return m_readError.empty() || m_streamErredFirst ? m_stream->error() : m_readError;
}

uint64_t KlfFollower::errorOffset() const
{
    return m_readError.empty() || m_streamErredFirst ? m_stream->errorOffset() : m_readErrorOffset;
}

bool KlfFollower::writerHoldsLock() const
{
    if (m_fd < 0)
        return true;
    std::ifstream locks("/proc/locks");
    if (!locks)
        return true;
    // "1: FLOCK  ADVISORY  WRITE 4711 fd:01:123456 0 EOF": the device's
    // numbers in hex, the inode in decimal; "->" marks one still waiting.
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind == "->")
            continue;
        fields >> mode >> access >> pid >> file;
        if (kind != "FLOCK")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 && major == ::major(m_device)
            && minor == ::minor(m_device) && inode == static_cast<unsigned long long>(m_inode))
            return true;
    }
    return !locks.eof(); // a read cut short cannot tell
}
