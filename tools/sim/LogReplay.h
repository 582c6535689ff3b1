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
// packets in their order, at the pace of its GPS messages (one second from
// one GPS message to the next, divided by the speed), the packets between
// two of them spread evenly over that second. Flat out, everything is due at
// once. Requests are answered as the device would have answered them at
// that point of the drive: from the log's header at first, then from the
// latest serial number, settings and channel information played.
//
// The log is read a stretch at a time (up to the next GPS message, at most
// kLookAhead packets), so a log of any size plays in bounded memory. A
// stretch longer than that has no GPS message to pace it and goes out as
// fast as the line takes it.
class LogReplay
{
public:
    static constexpr size_t kLookAhead = 65536;

    LogReplay(double speed, bool flatOut);
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
    // Why the log ended early, if it did.
    std::string logProblem() const;

private:
    struct Pending
    {
        SimFrame frame;
        double dueAt = 0;
    };

    void readStretch();
    void remember(const SimFrame& frame);

    double m_interval;
    bool m_flatOut;
    std::FILE* m_file = nullptr;
    std::unique_ptr<KlfPullReader> m_log;
    bool m_logEnded = false;
    std::deque<Pending> m_pending;
    bool m_seenGps = false;
    double m_lastGpsAt = 0;
    uint64_t m_played = 0;
    uint64_t m_skipped = 0;

    // What the device would answer now.
    SimFrame m_serialNumber;
    SimFrame m_receiverSetup;
    SimFrame m_channelInfo;
};
