#pragma once

#include "FrameEncoder.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class KlfPullReader;

// A recorded drive played back as the device would send it: the log's
// packets in their order, at the pace of the device's once-a-second
// messages, a GPS message or, while the GPS is off, a clock marker (one
// second from one to the next, divided by the speed), the packets between
// two of them spread evenly over that second. What comes before the first
// of them goes out at once. A stretch with neither (a log recorded without
// either, or a longer gap than kLookAhead packets, or the tail after the
// last) is paced by the measurement rate instead: one measurement packet
// every 1 / (rate x speed) seconds. Flat out, everything is due at once.
// Requests are answered as the device would have answered them at that
// point of the drive: from the log's header at first, then from the latest
// serial number, settings and channel information played.
//
// The log is read a stretch at a time (up to the next once-a-second
// message, at most kLookAhead packets), so a log of any size plays in
// bounded memory.
class LogReplay
{
public:
    static constexpr size_t kLookAhead = 65536;
    // Below this a replay would look stalled: a second of the drive would
    // take over a minute and a half.
    static constexpr double kMinSpeed = 0.01;

    // measurementRate: measurement packets per second where no
    // once-a-second message paces the log.
    LogReplay(double speed, bool flatOut, double measurementRate = 40.0);
    ~LogReplay();
    LogReplay(const LogReplay&) = delete;
    LogReplay& operator=(const LogReplay&) = delete;

    bool open(const std::string& path, std::string& error);

    std::vector<SimFrame> answer(uint8_t command) const;
    // The next packet when it is due at replay time t (seconds of playing).
    bool nextDue(double t, SimFrame& out);
    // Replay time of the next packet; negative when none is left.
    double nextDueAt();
    bool finished();

    uint64_t played() const { return m_played; }
    uint64_t skipped() const { return m_skipped; } // bad checksums in the log
    uint64_t firstSkippedAt() const { return m_firstSkippedAt; } // offset of the first of them
    // Why the log ended before its last byte, if it did: nothing after that
    // point was played. Records skipped for their checksum do not end it.
    std::string logProblem() const;

private:
    struct Pending
    {
        SimFrame frame;
        double dueAt = 0;
    };

    void readStretch();
    void remember(const SimFrame& frame);

    double m_interval;        // seconds of replay per second of the drive
    double m_measurementGap;  // seconds of replay per measurement packet, unpaced stretches
    bool m_flatOut;
    uint64_t m_fileSize = 0;  // bytes; 0 when not a regular file
    std::FILE* m_file = nullptr;
    std::unique_ptr<KlfPullReader> m_log;
    bool m_logEnded = false;
    std::deque<Pending> m_pending;
    bool m_seenMarker = false;
    double m_clock = 0; // replay time the packets read so far reach
    uint64_t m_played = 0;
    uint64_t m_skipped = 0;
    uint64_t m_firstSkippedAt = 0;

    // What the device would answer now.
    SimFrame m_serialNumber;
    SimFrame m_receiverSetup;
    SimFrame m_channelInfo;
};
