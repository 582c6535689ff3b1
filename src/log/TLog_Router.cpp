#include "TLog_Router.h"

#include "log/KlfHeader.h"
#include "protocol/MeasurementState.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TLog_Router::TLog_Router(const std::string& fileName, MeasurementState& state, ErrorHandler onError,
                         bool createSuspended)
    : onError(std::move(onError))
    , m_fileName(fileName)
    , m_state(state)
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
    if (isRunning())
        wait();
}

void TLog_Router::PostRecord(const uint8_t* packet, int count)
{
    if (!packet || count <= 0 || count > RecordSlot::kCapacity) {
        ++m_dropped;
        return;
    }
    const size_t need = size_t(count) + 2;
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
    }
    m_logEvent.set();
}

bool TLog_Router::takeQueued(std::vector<uint8_t>& out)
{
    out.clear(); // keeps its capacity: the two buffers take turns
    std::lock_guard lock(m_queueMutex);
    m_queue.swap(out);
    return !out.empty();
}

int32_t TLog_Router::MeasureFileSize()
{
    struct stat st;
    int64_t kb = 0;
    if (::stat(m_fileName.c_str(), &st) == 0)
        kb = int64_t(st.st_size) / 1024;
    const int32_t value = int32_t(std::min<int64_t>(kb, INT32_MAX));
    m_fileSizeKB.store(value);
    return value;
}

bool TLog_Router::OpenLogFile()
{
    if (m_fileName.size() > size_t(kMaxFileName)) {
        errno = ENAMETOOLONG;
        return false;
    }
    // O_EXCL makes "does it exist" and "create it" one step, so a file that
    // appears in between is continued rather than truncated.
    m_fd = ::open(m_fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd >= 0) {
        KlfHeader header;
        {
            std::lock_guard guard(m_state.lock);
            header.serialNumber.assign(m_state.serialNumber, strnlen(m_state.serialNumber, 8));
            for (int r = 0; r < 2; ++r) {
                header.receiverActive[r] = m_state.receiverActive[r].load() & 1;
                header.settingsBlocks[r] = m_state.receiverSettings[r]->block();
            }
            const RecordSlot& info = m_state.channelInfoRecord;
            if (m_state.channelInfoPresent.load() && info.count > 0)
                header.channelInfo.assign(info.bytes.begin(), info.bytes.begin() + info.count);
        }
        // One write for the whole header: a crash cannot leave half of it.
        const std::vector<uint8_t> bytes = header.bytes();
        if (!WriteRecord(bytes.data(), bytes.size()))
            return false;
    } else if (errno == EEXIST) {
        m_fd = ::open(m_fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_fd < 0)
            return false;
    } else {
        return false;
    }
    MeasureFileSize();
    return true;
}

// A plain descriptor has no user-space buffer: once write() returns, the
// record belongs to the kernel and survives the process being killed, which is
// what a flush after every record is for.
bool TLog_Router::WriteRecord(const uint8_t* bytes, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(m_fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        count -= size_t(n);
    }
    return true;
}

void TLog_Router::fail(const char* what)
{
    const std::string message = std::string(what) + " " + m_fileName + ": " + std::strerror(errno);
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
        fail("Could Not Create Log File!!!");
        return;
    }
    std::vector<uint8_t> batch;
    for (;;) {
        m_logEvent.wait(1000);
        // Reset before taking, so a post that lands after the take wakes us again.
        m_logEvent.reset();
        if (takeQueued(batch)) {
            size_t at = 0;
            while (at + 2 <= batch.size()) {
                const size_t count = size_t(batch[at] | (batch[at + 1] << 8));
                if (!WriteRecord(&batch[at + 2], count)) {
                    fail("Could Not Write Log File!!!");
                    return;
                }
                ++m_written;
                at += 2 + count;
            }
        }
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
