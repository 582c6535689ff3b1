#pragma once

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MeasurementState;

// The log writer: one per logging run. It creates or continues a .KLF file and
// appends every posted packet as one record, each handed to the kernel on its
// own so that the file is whole up to its last record if the program dies.
//
// Posting never waits for the disk: the link thread appends the packet to a
// byte queue under a short lock and signals the writer, which swaps the whole
// queue out and writes it unlocked. The queue is bounded at kQueueBytes: over
// an hour of the serial line rate, and room for a burst from a fast USB link
// while a slow disk (a stick, a network share) stalls for seconds. Memory is
// only taken while there is a backlog. A packet that does not fit is counted
// in droppedCount() instead of blocking the link.
//
// Stopping (Terminate, stop, stopAndWait, or WorkerThread::shutdownAll) writes
// every packet accepted before the stop, then closes the file. Posts that
// arrive after the writer has closed are ignored.
class TLog_Router : public WorkerThread
{
    Q_OBJECT
public:
    using ErrorHandler = std::function<void(const std::string& message)>;

    static constexpr int kMaxFileName = 511;
    static constexpr size_t kQueueBytes = 16u << 20;

    // Starts running at once unless createSuspended (then call start()). The
    // header of a new file is taken from state when the thread opens the file.
    // onError is called at most once, from the writer thread, with the text to
    // show ("Could Not Create Log File!!! ..." or "Could Not Write Log File!!!
    // ..."); the writer then discards everything and ends.
    TLog_Router(const std::string& fileName, MeasurementState& state,
                ErrorHandler onError = {}, bool createSuspended = false);
    ~TLog_Router() override;

    // Link thread. packet points at the length field; count = L + 2.
    void PostRecord(const uint8_t* packet, int count);

    // Window thread: the file's current size in whole kB (0 if it cannot be
    // examined).
    int32_t MeasureFileSize();
    int32_t FileSizeKB() const { return m_fileSizeKB.load(); }

    // Packets refused because the queue was full or the packet was malformed.
    uint64_t droppedCount() const { return m_dropped.load(); }
    // Records written to the file since the start of this run (header excluded).
    uint64_t writtenCount() const { return m_written.load(); }
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
    bool WriteRecord(const uint8_t* bytes, size_t count);
    void fail(const char* what);
    bool takeQueued(std::vector<uint8_t>& out);

    const std::string m_fileName;
    MeasurementState& m_state;
    int m_fd = -1;

    Event m_logEvent;
    std::mutex m_queueMutex;
    // Records, each a 16-bit little-endian count and its bytes.
    std::vector<uint8_t> m_queue;
    bool m_closed = false;

    std::atomic<int32_t> m_fileSizeKB{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_written{0};
    std::atomic<bool> m_failed{false};
};
