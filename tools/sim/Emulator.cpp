#include "Emulator.h"

#include "ControlCommand.h"
#include "DeviceMessages.h"
#include "MessageTypes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <poll.h>
#include <unistd.h>

std::atomic<bool> Emulator::s_stop{false};

namespace {

constexpr double kBurstBytes = 128.0;
constexpr double kPieceBytes = 16.0; // a UART's receive FIFO
constexpr std::size_t kQueueTarget = 4; // keep few chunks ahead so replies are not held up

const char* modeName(MeasurementMode m)
{
    switch (m) {
    case MeasurementMode::Single: return "single";
    case MeasurementMode::Scan: return "scan";
    case MeasurementMode::Table: return "table";
    }
    return "";
}

const char* gpsName(GpsMode g)
{
    switch (g) {
    case GpsMode::On: return "on";
    case GpsMode::Off: return "off";
    case GpsMode::Cycle: return "cycle";
    }
    return "";
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
        out += buf;
    }
    return out;
}

} // namespace

Emulator::Emulator(const SimOptions& options)
    : m_options(options), m_model(options.device), m_faults(options.faults)
{
    if (!options.replayPath.empty())
        m_replay = std::make_unique<LogReplay>(options.replaySpeed, options.flatOut, options.rate);
}

double Emulator::now() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

bool Emulator::plugIn(std::string& error)
{
    const bool ok = m_options.devicePath.empty() ? m_port.openPty(m_options.linkPath, error)
                                                 : m_port.openDevice(m_options.devicePath, error);
    if (!ok)
        return false;
    m_stats.plugged();
    std::cout << "tavrix-sim: " << m_port.slavePath() << std::endl;
    return true;
}

void Emulator::pullPlug(double t)
{
    std::cerr << "tavrix-sim: unplugged" << std::endl;
    dropQueue();
    m_port.unplug();
    m_listening = false;
    m_replugAt = t + kReplugSeconds;
}

void Emulator::enqueue(const SimFrame& frame)
{
    // Nobody on the line, or told to wait for the program: the frame is lost
    // as it would be on a real cable.
    if (!m_listening || (m_options.waitRequest && !m_heardSinceConnect)) {
        m_stats.frameDropped();
        return;
    }
    if (sim::carriesRssi(frame.type))
        ++m_measurementsQueued;
    for (OutChunk& chunk : m_faults.wrap(frame))
        m_queue.push_back(std::move(chunk));
}

void Emulator::enqueue(const std::vector<SimFrame>& frames)
{
    for (const SimFrame& f : frames)
        enqueue(f);
}

void Emulator::dropQueue()
{
    for (const OutChunk& c : m_queue)
        if (c.kind == OutChunk::Frame)
            m_stats.frameDropped();
    m_queue.clear();
    m_offset = 0;
    m_measurementsQueued = 0;
}

bool Emulator::countReached() const
{
    return m_options.count > 0 && m_stats.measurementFramesSent() + m_measurementsQueued >= m_options.count;
}

void Emulator::generate(double t)
{
    if (m_replay) {
        generateReplay(t);
        return;
    }
    if (t >= m_nextTickAt) {
        if (!m_paused)
            enqueue(m_model.secondTick(t, std::time(nullptr)));
        writeStats();
        m_nextTickAt = std::max(m_nextTickAt + 1.0, std::floor(t));
    }
    if (!m_paused)
        enqueue(m_model.advance(t));

    // Paused, the device still answers requests but streams nothing, so a
    // driver can take exact counts around a logging run.
    const bool quiet = (m_options.waitRequest && !m_heardSinceConnect) || m_paused;
    if (!m_listening || quiet) {
        m_nextMeasurementAt = t;
        return;
    }
    while (m_queue.size() < kQueueTarget && !countReached()
           && (m_options.flatOut || t >= m_nextMeasurementAt)) {
        enqueue(m_model.nextMeasurement(t));
        m_nextMeasurementAt = std::max(m_nextMeasurementAt + 1.0 / m_options.rate, t - 1.0);
    }
}

// The replay clock runs only while someone listens and the stream is not
// paused, so a drive starts from its beginning whenever the program is ready.
void Emulator::generateReplay(double t)
{
    if (t >= m_nextTickAt) {
        writeStats();
        m_nextTickAt = std::max(m_nextTickAt + 1.0, std::floor(t));
    }
    const bool quiet = (m_options.waitRequest && !m_heardSinceConnect) || m_paused || m_waitingForLogging;
    if (m_listening && !quiet)
        m_replayTime += t - m_lastGenerate;
    m_lastGenerate = t;
    if (!m_listening || quiet)
        return;
    SimFrame frame;
    while (m_queue.size() < kQueueTarget && !countReached() && m_replay->nextDue(m_replayTime, frame))
        enqueue(frame);
}

// A UART driver hands received bytes over in FIFO-sized pieces, not one by
// one: the paced line writes a piece once the line rate has brought that
// much, or all that is queued when less is. Writing each byte as its credit
// came in kept this loop spinning and woke the reader for every byte.
double Emulator::pieceDue() const
{
    if (m_faults.splitting())
        return 1.0; // the fault run picks its own write sizes and gaps
    std::size_t queued = 0;
    for (const OutChunk& c : m_queue) {
        queued += c.bytes.size() - (&c == &m_queue.front() ? m_offset : 0);
        if (queued >= std::size_t(kPieceBytes))
            return kPieceBytes;
    }
    return double(queued);
}

void Emulator::chunkWritten(const OutChunk& chunk)
{
    switch (chunk.kind) {
    case OutChunk::Frame:
        m_stats.frameSent(chunk.type, chunk.bytes.size());
        if (sim::carriesRssi(chunk.type)) {
            --m_measurementsQueued;
            m_measurementDoneAt = now();
        }
        break;
    case OutChunk::Fault: m_stats.faultSent(chunk.bytes.size()); break;
    case OutChunk::Noise: m_stats.noiseSent(chunk.bytes.size()); break;
    }
}

void Emulator::writeOutput(double t)
{
    if (lineRatePaced()) {
        m_credit = std::min(kBurstBytes, m_credit + (t - m_lastCredit) * kLineBytesPerSecond);
        m_lastCredit = t;
        if (m_queue.empty() || m_credit < pieceDue())
            return;
    }
    if (!m_faults.splitting()) {
        // One write for the piece, across frame boundaries, as the line
        // delivers it.
        std::size_t budget = lineRatePaced() ? std::size_t(std::max(0.0, m_credit)) : sizeof m_piece;
        budget = std::min(budget, sizeof m_piece);
        std::size_t n = 0;
        std::size_t offset = m_offset;
        for (auto c = m_queue.begin(); c != m_queue.end() && n < budget; ++c, offset = 0) {
            const std::size_t take = std::min(budget - n, c->bytes.size() - offset);
            std::copy_n(c->bytes.data() + offset, take, m_piece + n);
            n += take;
        }
        if (n == 0)
            return;
        const ssize_t w = m_port.write(m_piece, n);
        if (w <= 0)
            return; // full, or gone: the next listening() check tells which
        if (lineRatePaced())
            m_credit -= double(w);
        for (std::size_t left = std::size_t(w); left > 0;) {
            OutChunk& chunk = m_queue.front();
            const std::size_t take = std::min(left, chunk.bytes.size() - m_offset);
            m_offset += take;
            left -= take;
            if (m_offset == chunk.bytes.size()) {
                chunkWritten(chunk);
                m_queue.pop_front();
                m_offset = 0;
            }
        }
        return;
    }
    for (int writes = 0; writes < 256 && !m_queue.empty() && t >= m_nextWriteAt; ++writes) {
        OutChunk& chunk = m_queue.front();
        std::size_t n = m_faults.nextWriteSize(chunk.bytes.size() - m_offset);
        if (lineRatePaced())
            n = std::min(n, std::size_t(std::max(0.0, m_credit)));
        if (n == 0)
            return;
        const ssize_t w = m_port.write(chunk.bytes.data() + m_offset, n);
        if (w <= 0)
            return; // full, or gone: the next listening() check tells which
        m_offset += std::size_t(w);
        if (lineRatePaced())
            m_credit -= double(w);
        if (m_offset == chunk.bytes.size()) {
            chunkWritten(chunk);
            m_queue.pop_front();
            m_offset = 0;
        }
        m_nextWriteAt = t + std::chrono::duration<double>(m_faults.nextGap()).count();
        return;
    }
}

void Emulator::readInput()
{
    uint8_t buf[256];
    for (;;) {
        const ssize_t n = m_port.read(buf, sizeof buf);
        if (n <= 0)
            return;
        for (const CommandFramer::Frame& f : m_framer.push(buf, std::size_t(n))) {
            std::cerr << "tavrix-sim: received " << hex(f.bytes) << " (" << DeviceMessages::commandName(f.type)
                      << ")" << std::endl;
            m_stats.requestReceived(f.type, f.bytes);
            if (f.type == sim::ChannelInfoRequest && m_measurementDoneAt >= 0) {
                m_stats.roundTrip((now() - m_measurementDoneAt) * 1e6);
                m_measurementDoneAt = -1.0;
            }
            m_heardSinceConnect = true;
            // Once it plays, a replay that waited for logging is the line as
            // it was recorded: the answers the device gave are in the log.
            if (m_options.waitLogging && m_replay && !m_waitingForLogging)
                continue;
            if (m_waitingForLogging && f.type == sim::SettingsRequest && ++m_settingsRequests >= 2) {
                // Logging is on and waits for this answer: the log's first
                // packets are what the device answered when it was recorded.
                m_waitingForLogging = false;
                std::cerr << "tavrix-sim: logging is on; the replay starts" << std::endl;
                continue;
            }
            enqueue(m_replay ? m_replay->answer(f.type) : m_model.answer(f.type));
        }
    }
}

void Emulator::applyControl(const std::string& line, double t)
{
    const ControlCommand c = ControlCommand::parse(line);
    switch (c.kind) {
    case ControlCommand::Invalid:
        if (!line.empty())
            std::cerr << "tavrix-sim: unknown command \"" << line << "\"" << std::endl;
        return;
    case ControlCommand::Mode:
        if (m_replay)
            break; // the log decides
        m_model.setCycle(c.cycle, t);
        enqueue(m_model.startMeasurement(c.mode, t));
        break;
    case ControlCommand::Gps: m_model.setGps(c.gps, t); break;
    case ControlCommand::Withhold: m_model.setWithholdChannelInfo(c.on); break;
    case ControlCommand::Unplug:
        if (m_replugAt < 0)
            pullPlug(t);
        break;
    case ControlCommand::Quit: m_quit = true; break;
    case ControlCommand::Pause: m_paused = c.on; break;
    case ControlCommand::Drain: m_drainAsked = true; break;
    case ControlCommand::Inject:
        // Paused or not: a test of line faults pauses the stream first and
        // injects exactly what it wants on a line that then stays quiet.
        if (m_listening) {
            m_queue.push_back({OutChunk::Fault, 0, c.bytes});
            for (int i = 0; i < c.measurements; ++i)
                enqueue(m_model.nextMeasurement(t));
        }
        break;
    case ControlCommand::Step:
        if (m_replay)
            break;
        // The device announces new settings, then its channels under them.
        m_model.setStep(c.stepRaw);
        enqueue(m_model.receiverSetup());
        enqueue(m_model.startMeasurement(m_model.mode(), t));
        break;
    }
    std::cerr << "tavrix-sim: " << line << std::endl;
}

void Emulator::readControl(double t)
{
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        m_stdinOpen = false;
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] == '\n') {
            applyControl(m_stdinLine, t);
            m_stdinLine.clear();
        } else if (buf[i] != '\r' && m_stdinLine.size() < 200) {
            m_stdinLine += buf[i];
        }
    }
}

void Emulator::writeStats() const
{
    if (m_options.statsPath.empty())
        return;
    m_stats.writeFile(m_options.statsPath, {{"mode", m_model.cycling() ? std::string("cycle") + "/" + modeName(m_model.mode())
                                                                          : modeName(m_model.mode())},
                                            {"gps", gpsName(m_model.gps())},
                                            {"stream", m_paused ? "paused" : "running"},
                                            {"line", m_listening ? "connected" : "waiting"},
                                            {"port", m_port.slavePath()}});
}

void Emulator::answerDrain()
{
    // Everything queued is on the line (or was dropped with it): the counts
    // written now are final until the next resume.
    if (!m_drainAsked || (m_listening && !m_queue.empty()))
        return;
    m_drainAsked = false;
    writeStats();
    std::cout << "tavrix-sim: drained " << m_stats.framesSent() << std::endl;
}

int Emulator::pollTimeoutMs(double t) const
{
    // Nobody on the line, paused, or waiting to be spoken to: no measurement
    // is due, so only the clock tick and the peer check wake the loop.
    const bool streaming = m_listening && !m_paused && !m_waitingForLogging && !(m_options.waitRequest && !m_heardSinceConnect);
    // Flat out, an empty queue means "make more now", not "wait".
    if (m_options.flatOut && m_queue.empty() && streaming && !countReached())
        return 0;
    double next = std::min(m_nextTickAt, t + (m_listening ? 0.02 : kPeerCheckSeconds)); // also the re-check of a silent line
    if (m_listening && !m_queue.empty()) {
        // Ready to write now: POLLOUT ends the wait, and only once the line
        // takes bytes, so a full line is not polled in a loop.
        if (m_nextWriteAt > t)
            next = std::min(next, m_nextWriteAt);
        const double due = lineRatePaced() ? pieceDue() : 0.0;
        if (m_credit < due)
            next = std::min(next, t + (due - m_credit) / kLineBytesPerSecond);
    } else if (m_replay) {
        const double due = m_replay->nextDueAt();
        if (due >= 0 && streaming)
            next = std::min(next, t + std::max(0.0, due - m_replayTime));
    } else if (streaming && !m_options.flatOut && !countReached()) {
        next = std::min(next, m_nextMeasurementAt);
    }
    if (m_replugAt >= 0)
        next = std::min(next, m_replugAt);
    return std::max(0, int(std::ceil((next - t) * 1000.0)));
}

int Emulator::run()
{
    m_start = std::chrono::steady_clock::now();
    std::string error;
    if (m_replay && !m_replay->open(m_options.replayPath, error)) {
        std::cerr << "tavrix-sim: " << error << std::endl;
        return 1;
    }
    if (!plugIn(error)) {
        std::cerr << "tavrix-sim: " << error << std::endl;
        return 1;
    }
    if (m_options.unplugEverySeconds > 0)
        m_nextUnplugAt = m_options.unplugEverySeconds;
    // The measurement runs from the start, whether anyone listens or not.
    if (!m_replay)
        m_model.startMeasurement(m_model.mode(), 0.0);

    bool finished = false;
    while (!s_stop.load() && !m_quit && !finished) {
        const double t = now();
        if (m_replugAt >= 0 && t >= m_replugAt) {
            m_replugAt = -1;
            if (!plugIn(error)) {
                std::cerr << "tavrix-sim: " << error << std::endl;
                return 1;
            }
        }
        if (m_options.unplugEverySeconds > 0 && m_replugAt < 0 && t >= m_nextUnplugAt) {
            pullPlug(t);
            m_nextUnplugAt = m_replugAt + m_options.unplugEverySeconds;
        }

        const bool listening = m_port.listening();
        if (listening != m_listening) {
            m_listening = listening;
            if (listening) {
                m_stats.connected();
                m_heardSinceConnect = false;
                m_credit = 0;
                std::cerr << "tavrix-sim: the program opened the line" << std::endl;
                if (m_options.waitLogging && m_replay && m_replay->played() == 0) {
                    m_waitingForLogging = true;
                    m_settingsRequests = 0;
                    // A measuring device has told the program its channels
                    // before logging starts, and the log's header holds them.
                    enqueue(m_replay->answer(sim::ChannelInfoRequest));
                }
            } else {
                dropQueue();
                std::cerr << "tavrix-sim: the program closed the line" << std::endl;
            }
        }
        if (m_listening)
            readInput();
        generate(t);
        if (m_listening)
            writeOutput(t);
        answerDrain();

        if (m_options.durationSeconds > 0 && t >= m_options.durationSeconds)
            finished = true;
        if (m_options.count > 0 && m_stats.measurementFramesSent() >= m_options.count && m_queue.empty())
            finished = true;
        if (m_replay && m_queue.empty() && m_replay->finished())
            finished = true;
        if (finished)
            break;

        pollfd fds[2];
        nfds_t nfds = 0;
        if (m_listening) {
            const bool wantWrite = !m_queue.empty() && t >= m_nextWriteAt && (!lineRatePaced() || m_credit >= pieceDue());
            fds[nfds++] = {m_port.fd(), short(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
        }
        const int controlIndex = int(nfds);
        if (m_options.control && m_stdinOpen)
            fds[nfds++] = {STDIN_FILENO, POLLIN, 0};
        ::poll(fds, nfds, pollTimeoutMs(t));
        if (m_options.control && m_stdinOpen && (fds[controlIndex].revents & (POLLIN | POLLHUP)))
            readControl(now());
    }

    if (finished)
        m_port.drain(10000);
    writeStats();
    m_port.close();
    bool nothingToPlay = false;
    if (m_replay) {
        std::cerr << "tavrix-sim: replayed " << m_replay->played() << " packets";
        if (m_replay->skipped() > 0)
            std::cerr << "; skipped " << m_replay->skipped() << " with a bad checksum, the first at offset "
                      << m_replay->firstSkippedAt();
        if (!m_replay->logProblem().empty())
            std::cerr << "; not played: the rest of the log, " << m_replay->logProblem();
        std::cerr << std::endl;
        nothingToPlay = finished && m_replay->played() == 0;
        if (nothingToPlay)
            std::cerr << "tavrix-sim: " << m_options.replayPath << " holds nothing that could be played" << std::endl;
    }
    std::cerr << "tavrix-sim: stopped after " << m_stats.framesSent() << " frames" << std::endl;
    return nothingToPlay ? 1 : 0;
}
