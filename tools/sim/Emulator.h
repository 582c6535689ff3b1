#pragma once

#include "CommandFramer.h"
#include "DeviceModel.h"
#include "FaultInjector.h"
#include "LogReplay.h"
#include "PtyPort.h"
#include "SimOptions.h"
#include "SimStats.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>

// The emulator's single-threaded loop: one poll over the line and stdin,
// pacing output at the line rate, answering commands, streaming the
// measurement and the once-a-second GPS or clock message, and pulling the
// plug when asked.
class Emulator
{
public:
    static constexpr double kLineBytesPerSecond = 3840.0; // 38400 baud, 10 bits a byte
    static constexpr double kReplugSeconds = 1.0;
    // How often the loop looks whether a program has opened the line: a pty
    // master raises no event for it, and a tighter loop would steal a core
    // from the program it waits for.
    static constexpr double kPeerCheckSeconds = 0.05;

    explicit Emulator(const SimOptions& options);
    int run();

    // Async-signal-safe: only sets a flag the loop checks.
    static void requestStop() { s_stop.store(true); }

private:
    double now() const;
    bool plugIn(std::string& error);
    void pullPlug(double t);
    void enqueue(const SimFrame& frame);
    void enqueue(const std::vector<SimFrame>& frames);
    void dropQueue();
    double pieceDue() const;
    void chunkWritten(const OutChunk& chunk);
    void writeOutput(double t);
    void readInput();
    void readControl(double t);
    void applyControl(const std::string& line, double t);
    void generate(double t);
    void writeStats() const;
    void answerDrain();
    bool countReached() const;
    int pollTimeoutMs(double t) const;
    void generateReplay(double t);
    // A replay is paced by its GPS messages, not by the line rate.
    bool lineRatePaced() const { return !m_options.flatOut && !m_replay; }

    SimOptions m_options;
    PtyPort m_port;
    DeviceModel m_model;
    FaultInjector m_faults;
    CommandFramer m_framer;
    SimStats m_stats;
    std::chrono::steady_clock::time_point m_start;

    std::deque<OutChunk> m_queue;
    std::size_t m_offset = 0;       // bytes of the front chunk already written
    uint8_t m_piece[4096];          // the bytes of one write, gathered from the queue
    int m_measurementsQueued = 0;
    double m_credit = 0.0;          // bytes the line rate allows now
    double m_lastCredit = 0.0;
    double m_nextWriteAt = 0.0;     // split pause
    double m_nextTickAt = 0.0;
    double m_nextMeasurementAt = 0.0;
    double m_nextUnplugAt = 0.0;
    double m_measurementDoneAt = -1.0; // last measurement frame fully written, not yet answered
    double m_replugAt = -1.0;       // >= 0 while unplugged
    bool m_listening = false;
    bool m_heardSinceConnect = false;
    bool m_quit = false;
    bool m_paused = false;
    bool m_drainAsked = false;
    bool m_stdinOpen = true;
    std::string m_stdinLine;
    std::unique_ptr<LogReplay> m_replay;
    double m_replayTime = 0.0;      // seconds the replay has been playing
    double m_lastGenerate = 0.0;
    bool m_waitingForLogging = false; // --wait-logging, until logging is switched on
    int m_settingsRequests = 0;        // since the program opened the line

    static std::atomic<bool> s_stop;
};
