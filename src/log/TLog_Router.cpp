#include "TLog_Router.h"

#include "link/ByteOrder.h"
#include "log/KlfHeader.h"
#include "protocol/DeviceRecord.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

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
        uint8_t length[2];
        ByteOrder::putle16(length, uint16_t(count));
        m_queue.insert(m_queue.end(), length, length + 2);
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

// Opens the file and says when it had to be cut back.
bool TLog_Router::OpenLogFile()
{
    if (!m_file.open())
        return false;
    if (m_file.wasCutBack())
        notice("Log File Cut Back To Its Last Whole Record!!! " + m_fileName);
    return true;
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

bool TLog_Router::WriteHeader(bool asTheReplyFoundIt)
{
    KlfHeader header;
    auto fill = [&](const DeviceRecord::Data& d, bool channelInfoPresent) {
        header.serialNumber.assign(d.serialNumber, strnlen(d.serialNumber, 8));
        for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
            header.receiverActive[r] = d.receiverActive[r] ? 1 : 0;
            header.settingsBlocks[r] = d.receiverSettings[r].block();
        }
        const RecordSlot& info = d.channelInfoRecord;
        if (channelInfoPresent && info.count > 0)
            header.channelInfo.assign(info.bytes.begin(), info.bytes.begin() + info.count);
    };
    // The header the reply was awaited for describes the device as the reply
    // found it, not as it stood whenever this thread got to run: the same
    // packets then always give the same header (a replayed drive logs the
    // same file).
    if (asTheReplyFoundIt)
        m_record.readAtLastReply(fill);
    else
        m_record.read([&](const DeviceRecord::Data& d) { fill(d, m_record.channelInfoPresent.load() != 0); });
    return m_file.appendHeader(header.bytes());
}

bool TLog_Router::StartAgain()
{
    if (!OpenLogFile()) {
        fail(m_file.inUse() ? "Log File In Use!!!" : "Could Not Create Log File!!!", !m_file.inUse());
        return false;
    }
    if (m_file.needsHeader() && !WriteHeader()) {
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
    m_file.abandon();
    if (onError)
        onError(message);
}

void TLog_Router::Execute()
{
    if (!OpenLogFile()) {
        fail(m_file.inUse() ? "Log File In Use!!!" : "Could Not Create Log File!!!", !m_file.inUse());
        return;
    }
    if (m_file.needsHeader()) {
        if (m_waitForSettings)
            WaitForSettingsReply();
        if (!WriteHeader(m_waitForSettings && m_record.settingsReplies() != m_repliesBefore)) {
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
            m_file.checkNameNext(); // a second or more went by
            if (posted && !Terminated())
                m_logEvent.wait(kBatchMs);
        } else {
            m_logEvent.wait(kBatchMs);
        }
        // Reset before taking, so a post that lands after the take wakes us again.
        m_logEvent.reset();
        if (!m_file.stillThere() && !StartAgain())
            return;
        idle = !takeQueued(batch);
        if (!idle) {
            bool failed = false;
            m_written += m_file.appendBatch(batch, failed);
            if (failed) {
                fail("Could Not Write Log File!!!");
                return;
            }
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
    if (!m_file.close()) {
        fail("Could Not Write Log File!!!");
        return;
    }
    MeasureFileSize();
}
