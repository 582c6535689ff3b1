#pragma once

#include "log/LogFile.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class DeviceRecord;

// The log writer: one per logging run, the queue and the thread in front of
// a LogFile. It appends every posted packet as one record; each batch goes
// to the kernel in one write that ends on a whole record, so the file is
// whole up to its last record if the program dies.
//
// Posting never waits for the disk: the link thread appends the packet to a
// byte queue under a short lock, and the writer swaps the whole queue out and
// writes it unlocked. The writer takes the queue every kBatchMs rather than
// being woken for each packet: at the line rate a wake-up per packet cost
// more than the writing, so a crash may lose the last kBatchMs of packets.
// A queue that reaches kWakeBytes (a fast USB link) wakes it at once, and so
// does the first post after a take found nothing (the device fell silent).
// The queue is bounded at kQueueBytes: over an hour of the serial line rate,
// and room for a burst from a fast USB link while a slow disk (a stick, a
// network share) stalls for seconds. Memory is only taken while there is a
// backlog. A packet that does not fit is counted in droppedCount() instead
// of blocking the link.
//
// Stopping (Terminate, stop, stopAndWait, or WorkerThread::shutdownAll) writes
// every packet accepted before the stop, then closes the file. Posts that
// arrive after the writer has closed are ignored.
//
// The file is locked, cut back and watched as LogFile says; a file deleted
// (or replaced) while logging is noticed at the next wake-up, at most a
// second later, and started again with a new header.
class TLog_Router : public WorkerThread
{
    Q_OBJECT
public:
    using ErrorHandler = std::function<void(const std::string& message)>;
    using NoticeHandler = std::function<void(const std::string& message)>;

    static constexpr size_t kQueueBytes = 16u << 20;
    static constexpr int kBatchMs = 50;
    static constexpr int kIdleWaitMs = 1000;
    // How long the writer sleeps when idle before it looks at its terminate
    // flag again; set before start.
    int idleWaitMs = kIdleWaitMs;
    static constexpr size_t kWakeBytes = 64u << 10;

    // Starts running at once unless createSuspended (then call start()). The
    // header of a new file is taken from device when the thread opens the file.
    // onError is called at most once, from the writer thread, with the text to
    // show ("Could Not Create Log File!!! ..." or "Could Not Write Log File!!!
    // ..."); the writer then discards everything and ends.
    TLog_Router(const std::string& fileName, DeviceRecord& device,
                ErrorHandler onError = {}, bool createSuspended = false);
    ~TLog_Router() override;

    // Before start(): onNotice is called from the writer thread, at most once
    // for each kind, with a text to show while logging goes on (the file cut
    // back, deleted and started again, packets dropped).
    void setNoticeHandler(NoticeHandler onNotice) { m_onNotice = std::move(onNotice); }
    // Before start(): a new file's header waits until the device record holds more
    // settings replies than repliesBefore (the device's answer to the request
    // that came with Log Data), or until timeout; packets meanwhile queue.
    void waitForSettings(uint32_t repliesBefore, std::chrono::milliseconds timeout)
    {
        m_waitForSettings = true;
        m_repliesBefore = repliesBefore;
        m_settingsTimeout = timeout;
    }

    // Link thread. packet points at the length field; count = L + 2.
    void PostRecord(const uint8_t* packet, int count);

    // Window thread: the file's current size in whole kB (0 if it cannot be
    // examined).
    int32_t MeasureFileSize();

    // Packets refused because the queue was full or the packet was malformed.
    uint64_t droppedCount() const { return m_dropped.load(); }
    // Records written to the file since the start of this run (header excluded).
    uint64_t writtenCount() const { return m_written.load(); }
    // Its last take found nothing: the next post wakes it.
    bool idle() const;
    bool failed() const { return m_failed.load(); }
    const std::string& fileName() const { return m_fileName; }

    // Asks the writer to finish without waiting for it.
    void stop();
    // Finishes and joins: every accepted packet is on disk when this returns.
    void stopAndWait();

    const ErrorHandler onError;

protected:
    void Execute() override;

private:
    bool OpenLogFile();
    void WaitForSettingsReply();
    // asTheReplyFoundIt: from the record as the awaited settings reply left it.
    bool WriteHeader(bool asTheReplyFoundIt = false);
    bool StartAgain();
    void TellDrops();
    void notice(const std::string& message);
    void fail(const char* what, bool withReason = true);
    bool takeQueued(std::vector<uint8_t>& out);

    const std::string m_fileName;
    DeviceRecord& m_record;
    NoticeHandler m_onNotice;
    // The name is looked at about once a second of batches.
    LogFile m_file{m_fileName, 1000 / kBatchMs};
    bool m_dropsTold = false;

    bool m_waitForSettings = false;
    uint32_t m_repliesBefore = 0;
    std::chrono::milliseconds m_settingsTimeout{0};

    Event m_logEvent;
    // Set while the writer waits for the settings reply: then each post wakes it.
    std::atomic<bool> m_wakeEachPost{false};
    mutable std::mutex m_queueMutex;
    // Records, each a 16-bit little-endian count and its bytes.
    std::vector<uint8_t> m_queue;
    bool m_closed = false;
    bool m_idle = false; // the last take found nothing: the next post wakes the writer

    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_written{0};
    std::atomic<bool> m_failed{false};
};
