// Link figures: framer throughput against the 38400 baud line, the delay from
// a frame's last byte to its decode on the link thread, and the link thread's
// CPU while the device is silent.
#include "link/LinkSettings.h"
#include "link/PacketFramer.h"
#include "link/TCom_Router.h"
#include "protocol/MessageCodec.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr double kLineBytesPerSecond = 38400.0 / 10.0; // 8N1: ten bits a byte

void append(Bytes& out, uint8_t type, const Bytes& payload)
{
    const PacketRecord r = buildFrame(type, payload.data(), int(payload.size()));
    out.insert(out.end(), r.bytes.begin(), r.bytes.begin() + r.length() + 3);
}

// About 1 MB of what the device sends: mostly scan reports and GPS messages,
// some channel tables, a little line noise.
Bytes deviceStream()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    auto randomBytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b)
            x = uint8_t(byte(rng));
        return b;
    };
    Bytes out;
    while (out.size() < (1u << 20)) {
        append(out, 0x11, randomBytes(40));
        append(out, 0x20, randomBytes(152));
        append(out, 0x12, randomBytes(600));
        const Bytes noise = randomBytes(3);
        out.insert(out.end(), noise.begin(), noise.end());
    }
    return out;
}

void setThroughputCounters(benchmark::State& state, const Bytes& stream)
{
    const double bytes = double(stream.size());
    state.counters["throughput_MBps"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["line_rate_ratio"] =
        benchmark::Counter(bytes / kLineBytesPerSecond, benchmark::Counter::kIsIterationInvariantRate);
}

// What the link thread does with each read: bulk feed, one call per packet.
void BM_FramerThroughput(benchmark::State& state)
{
    const Bytes stream = deviceStream();
    PacketFramer framer;
    PacketRecord record;
    size_t packets = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size();) {
            const size_t end = std::min(stream.size(), at + 4096); // one transport read
            while (at < end) {
                bool completed;
                at += framer.pushBytes(stream.data() + at, end - at, completed);
                if (completed) {
                    framer.copyTo(record);
                    ++packets;
                }
            }
        }
        benchmark::DoNotOptimize(packets);
        benchmark::DoNotOptimize(record);
    }
    setThroughputCounters(state, stream);
}
BENCHMARK(BM_FramerThroughput)->Unit(benchmark::kMillisecond);

// The plain byte-wise entry, for comparison.
void BM_FramerThroughputByteWise(benchmark::State& state)
{
    const Bytes stream = deviceStream();
    PacketFramer framer;
    size_t packets = 0;
    for (auto _ : state) {
        for (uint8_t b : stream)
            packets += framer.pushByte(b);
        benchmark::DoNotOptimize(packets);
    }
    setThroughputCounters(state, stream);
}
BENCHMARK(BM_FramerThroughputByteWise)->Unit(benchmark::kMillisecond);

// The same with the device's own types and the codec's length table, as the
// program runs it: scan reports, GPS messages, single-channel blocks.
Bytes deviceTypedStream()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    auto randomBytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b)
            x = uint8_t(byte(rng));
        return b;
    };
    Bytes out;
    while (out.size() < (1u << 20)) {
        append(out, Message::ScanReport, randomBytes(MessageCodec::kScanReportSize));
        append(out, Message::GpsMessage, randomBytes(MessageCodec::kGpsMessageSize));
        append(out, Message::SingleBlockR1, randomBytes(600));
        const Bytes noise = randomBytes(3);
        out.insert(out.end(), noise.begin(), noise.end());
    }
    return out;
}

void BM_FramerThroughputWithTable(benchmark::State& state)
{
    const Bytes stream = deviceTypedStream();
    PacketFramer framer(MessageCodec::frameLengths());
    PacketRecord record;
    size_t packets = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size();) {
            const size_t end = std::min(stream.size(), at + 4096);
            while (at < end) {
                bool completed;
                at += framer.pushBytes(stream.data() + at, end - at, completed);
                if (completed) {
                    framer.copyTo(record);
                    ++packets;
                }
            }
        }
        benchmark::DoNotOptimize(packets);
        benchmark::DoNotOptimize(record);
    }
    setThroughputCounters(state, stream);
}
BENCHMARK(BM_FramerThroughputWithTable)->Unit(benchmark::kMillisecond);

void BM_FramerThroughputByteWiseWithTable(benchmark::State& state)
{
    const Bytes stream = deviceTypedStream();
    PacketFramer framer(MessageCodec::frameLengths());
    size_t packets = 0;
    for (auto _ : state) {
        for (uint8_t b : stream)
            packets += framer.pushByte(b);
        benchmark::DoNotOptimize(packets);
    }
    setThroughputCounters(state, stream);
}
BENCHMARK(BM_FramerThroughputByteWiseWithTable)->Unit(benchmark::kMillisecond);

// A pty whose master plays the device.
struct Pty
{
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = ::ptsname(master);
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    bool write(const uint8_t* p, size_t n) const { return ::write(master, p, n) == ssize_t(n); }
    void drain(int ms) const
    {
        pollfd p{master, POLLIN, 0};
        uint8_t buf[256];
        while (::poll(&p, 1, ms) > 0 && ::read(master, buf, sizeof buf) > 0) {
        }
    }
    int master = -1;
    std::string slave;
};

// Counts decoded packets and remembers when the last one came and on which thread.
struct Decoded
{
    std::mutex mutex;
    std::condition_variable cond;
    uint64_t count = 0;
    Clock::time_point at;
    pthread_t thread{};

    TCom_Router::PacketHandler handler()
    {
        return [this](const PacketRecord&) {
            const auto now = Clock::now();
            {
                std::lock_guard lock(mutex);
                ++count;
                at = now;
                thread = pthread_self();
            }
            cond.notify_all();
        };
    }
    bool waitFor(uint64_t n, int ms)
    {
        std::unique_lock lock(mutex);
        return cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return count >= n; });
    }
};

// The link thread running on a pty, past its serial number request.
struct LiveLink
{
    explicit LiveLink(bool withTable = false)
    {
        settings.linkKind = LinkSettings::kSerial;
        settings.setDevicePath(pty.slave);
        router = std::make_unique<TCom_Router>(settings, decoded.handler(), true);
        if (withTable)
            router->setFrameLengths(MessageCodec::frameLengths());
        router->start();
        pty.drain(500);
    }

    Pty pty;
    LinkSettings settings;
    Decoded decoded;
    std::unique_ptr<TCom_Router> router;
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

void BM_LinkLatency(benchmark::State& state)
{
    LiveLink link;
    Pty& pty = link.pty;
    Decoded& decoded = link.decoded;

    const Bytes payload(40, 0x33);
    const PacketRecord frame = buildFrame(0x11, payload.data(), int(payload.size()));
    const size_t frameSize = frame.length() + 3u;
    constexpr int kFrames = 300;

    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        for (int i = 0; i < kFrames; ++i) {
            // Everything but the last byte, then a pause long enough for the
            // link thread to read it and go back to its idle wait.
            pty.write(frame.bytes.data(), frameSize - 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2 + i % 3));
            uint64_t expected;
            {
                std::lock_guard lock(decoded.mutex);
                expected = decoded.count + 1;
            }
            const auto sent = Clock::now();
            pty.write(frame.bytes.data() + frameSize - 1, 1);
            if (!decoded.waitFor(expected, 1000)) {
                state.SkipWithError("a frame was not decoded");
                return;
            }
            std::lock_guard lock(decoded.mutex);
            micros.push_back(std::chrono::duration<double, std::micro>(decoded.at - sent).count());
        }
    }
    state.counters["latency_median_us"] = percentile(micros, 0.5);
    state.counters["latency_p99_us"] = percentile(micros, 0.99);
    state.counters["latency_max_us"] = percentile(micros, 1.0);
}
BENCHMARK(BM_LinkLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

// A corrupt length (L = 2000) before 50 scan reports, then a quiet line:
// how many reports come out and how long after the last byte the last one
// does. Argument 0: the false frame's type byte is the next report's sync;
// argument 1: it is a single-channel block's type, which may be that long, so
// only the quiet line gives it up.
void BM_CorruptLengthRecovery(benchmark::State& state)
{
    LiveLink link(true);
    Decoded& decoded = link.decoded;
    Bytes burst{0xAA, 0xD0, 0x07};
    if (state.range(0) == 1)
        burst.push_back(Message::SingleBlockR1);
    constexpr int kReports = 50;
    for (int i = 0; i < kReports; ++i)
        append(burst, Message::ScanReport, Bytes{0, uint8_t(i % 10), 0xB5, 1, 2, 0xA0, 0, 3, 0xA1, 1, 4, 0xA2, 0, 5, 0xA3});
    std::vector<double> millis;
    uint64_t recovered = 0;
    for (auto _ : state) {
        uint64_t before;
        {
            std::lock_guard lock(decoded.mutex);
            before = decoded.count;
        }
        link.pty.write(burst.data(), burst.size());
        const auto sent = Clock::now();
        decoded.waitFor(before + kReports, 5000);
        std::lock_guard lock(decoded.mutex);
        recovered = decoded.count - before;
        millis.push_back(std::chrono::duration<double, std::milli>(decoded.at - sent).count());
    }
    state.counters["recovered_frames"] = double(recovered);
    // From the write of the last byte to the last report's decode.
    state.counters["recovery_median_ms"] = percentile(millis, 0.5);
    state.counters["recovery_max_ms"] = percentile(millis, 1.0);
}
BENCHMARK(BM_CorruptLengthRecovery)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);

// The floors the link figures are read against, in the same conditions: a
// bare thread blocked in poll() on a raw pty slave (its wake-up after the
// last byte), and the same thread echoing a 5-byte frame back (the round
// trip as the device sees it).
struct BareReader
{
    explicit BareReader(const Pty& pty, size_t frameSize, bool echo)
        : frameSize(frameSize)
        , echo(echo)
    {
        fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
        ::pipe2(stopPipe, O_CLOEXEC);
        thread = std::thread([this] { run(); });
    }
    ~BareReader()
    {
        ::write(stopPipe[1], "x", 1);
        thread.join();
        ::close(fd);
        ::close(stopPipe[0]);
        ::close(stopPipe[1]);
    }
    void run()
    {
        uint8_t buf[4096];
        size_t have = 0;
        for (;;) {
            pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN))
                return;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            have += size_t(n);
            if (have < frameSize)
                continue;
            have -= frameSize;
            if (echo) {
                static const uint8_t reply[5] = {0xAA, 0x02, 0x00, 0x30, 0x30};
                ::write(fd, reply, sizeof reply);
            }
            decoded.handler()(PacketRecord{});
        }
    }

    size_t frameSize;
    bool echo;
    int fd = -1;
    int stopPipe[2] = {-1, -1};
    Decoded decoded;
    std::thread thread;
};

// The frame BM_LinkLatency uses: 40 payload bytes, 45 on the line.
PacketRecord latencyFrame()
{
    const Bytes payload(40, 0x33);
    return buildFrame(0x11, payload.data(), int(payload.size()));
}

// Reads n bytes from the pty's master; false after a second without them.
bool readBack(const Pty& pty, size_t n)
{
    uint8_t buf[64];
    size_t got = 0;
    while (got < n) {
        pollfd p{pty.master, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false;
        const ssize_t r = ::read(pty.master, buf, std::min(sizeof buf, n - got));
        if (r > 0)
            got += size_t(r);
    }
    return true;
}

// Frame's last byte to the wake-up (decoded) or to the reply read back
// (roundTrip); the rest of the frame goes first, and then a pause lets the
// reader settle back into its wait, as between frames on the line.
void measureFrames(benchmark::State& state, Pty& pty, Decoded& decoded, bool roundTrip)
{
    const PacketRecord frame = latencyFrame();
    const size_t frameSize = frame.length() + 3u;
    constexpr int kFrames = 300;
    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        for (int i = 0; i < kFrames; ++i) {
            pty.write(frame.bytes.data(), frameSize - 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2 + i % 3));
            uint64_t expected;
            {
                std::lock_guard lock(decoded.mutex);
                expected = decoded.count + 1;
            }
            const auto sent = Clock::now();
            pty.write(frame.bytes.data() + frameSize - 1, 1);
            if (roundTrip) {
                if (!readBack(pty, 5)) {
                    state.SkipWithError("no reply");
                    return;
                }
                micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                continue;
            }
            if (!decoded.waitFor(expected, 1000)) {
                state.SkipWithError("a frame was not seen");
                return;
            }
            std::lock_guard lock(decoded.mutex);
            micros.push_back(std::chrono::duration<double, std::micro>(decoded.at - sent).count());
        }
    }
    state.counters["latency_median_us"] = percentile(micros, 0.5);
    state.counters["latency_p99_us"] = percentile(micros, 0.99);
}

void BM_PtyReaderWakeFloor(benchmark::State& state)
{
    Pty pty;
    BareReader reader(pty, latencyFrame().length() + 3u, false);
    measureFrames(state, pty, reader.decoded, false);
}
BENCHMARK(BM_PtyReaderWakeFloor)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PtyEchoFloor(benchmark::State& state)
{
    Pty pty;
    BareReader reader(pty, latencyFrame().length() + 3u, true);
    measureFrames(state, pty, reader.decoded, true);
}
BENCHMARK(BM_PtyEchoFloor)->Iterations(1)->Unit(benchmark::kMillisecond);

// The link thread answering every frame with a 5-byte command, as the
// decoder does while channel information is missing.
void BM_LinkRoundTrip(benchmark::State& state)
{
    Pty pty;
    LinkSettings settings;
    settings.linkKind = LinkSettings::kSerial;
    settings.setDevicePath(pty.slave);
    Decoded decoded;
    std::atomic<TCom_Router*> router{nullptr};
    auto handler = decoded.handler();
    auto link = std::make_unique<TCom_Router>(settings, [&](const PacketRecord& r) {
        if (TCom_Router* self = router.load())
            self->send(buildFrame(0x30, nullptr, 0));
        handler(r);
    });
    router = link.get();
    pty.drain(500);
    measureFrames(state, pty, decoded, true);
    router = nullptr;
}
BENCHMARK(BM_LinkRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);

double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock;
    timespec ts{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &ts) != 0)
        return -1;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void BM_LinkIdleCpu(benchmark::State& state)
{
    LiveLink link;
    Pty& pty = link.pty;
    Decoded& decoded = link.decoded;

    // One packet tells which OS thread is the link thread.
    const PacketRecord frame = buildFrame(0x01, nullptr, 0);
    pty.write(frame.bytes.data(), 5);
    if (!decoded.waitFor(1, 1000)) {
        state.SkipWithError("link thread did not decode");
        return;
    }
    pthread_t linkThreadId;
    {
        std::lock_guard lock(decoded.mutex);
        linkThreadId = decoded.thread;
    }

    constexpr double kSeconds = 3.0;
    double cpu = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds(linkThreadId);
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        cpu = threadCpuSeconds(linkThreadId) - before;
    }
    // For comparison, what a thread costs that looks at a flag every 10 ms
    // (the link thread's idle wait once did): a bare 10 ms poll() loop.
    std::atomic<bool> stop{false};
    std::thread bare([&] {
        while (!stop.load())
            ::poll(nullptr, 0, 10);
    });
    const double bareBefore = threadCpuSeconds(bare.native_handle());
    std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
    const double bareCpu = threadCpuSeconds(bare.native_handle()) - bareBefore;
    stop = true;
    bare.join();

    state.counters["idle_cpu_pct"] = 100.0 * cpu / kSeconds;
    state.counters["bare_10ms_poll_cpu_pct"] = 100.0 * bareCpu / kSeconds;
}
BENCHMARK(BM_LinkIdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// The link thread's CPU while a pty brings scan reports (19 bytes) or big
// single-mode blocks at the line rate, in the 16-byte pieces a UART driver
// hands over; the handler does nothing, so this is reading and framing.
void BM_LinkCpuAtLineRate(benchmark::State& state)
{
    LiveLink link;
    const Bytes payload(size_t(state.range(0)), 0x33);
    const PacketRecord frame = buildFrame(0x11, payload.data(), int(payload.size()));
    const size_t frameSize = frame.length() + 3u;
    Bytes stream;
    while (stream.size() < 64 * 1024)
        stream.insert(stream.end(), frame.bytes.begin(), frame.bytes.begin() + long(frameSize));

    link.pty.write(stream.data(), frameSize);
    if (!link.decoded.waitFor(1, 1000)) {
        state.SkipWithError("link thread did not decode");
        return;
    }
    pthread_t linkThreadId;
    {
        std::lock_guard lock(link.decoded.mutex);
        linkThreadId = link.decoded.thread;
    }

    constexpr double kSeconds = 4.0;
    constexpr size_t kChunk = 16;
    const auto period = std::chrono::duration<double>(double(kChunk) / kLineBytesPerSecond);
    double cpu = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds(linkThreadId);
        const auto start = Clock::now();
        size_t at = frameSize;
        for (int i = 0; Clock::now() - start < std::chrono::duration<double>(kSeconds); ++i) {
            link.pty.write(stream.data() + at, kChunk);
            at += kChunk;
            if (at + kChunk > stream.size())
                at = (at % frameSize);
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * (i + 1)));
        }
        cpu = threadCpuSeconds(linkThreadId) - before;
    }
    state.counters["link_cpu_pct"] = 100.0 * cpu / kSeconds;
}
BENCHMARK(BM_LinkCpuAtLineRate)->Arg(15)->Arg(600)->ArgName("payload")->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
