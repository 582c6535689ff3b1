#include "Pty.h"
#include "link/LinkSettings.h"
#include "link/PacketFramer.h"
#include "link/TCom_Router.h"
#include "link/UsbPort.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <memory>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kSerialNumberRequest{0xAA, 0x02, 0x00, 0x1C, 0x1C};

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Collects what the link thread hands to the decoder: each packet from its
// length field on.
class Collector
{
public:
    TCom_Router::PacketHandler handler()
    {
        return [this](const PacketRecord& r) {
            std::lock_guard lock(m_mutex);
            m_packets.emplace_back(r.fromLength(), r.fromLength() + r.fromLengthCount());
        };
    }
    std::vector<Bytes> packets() const
    {
        std::lock_guard lock(m_mutex);
        return m_packets;
    }
    size_t count() const { return packets().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_packets;
};

// Re-points path at a pty's slave in one step, the way device emulators
// publish a fresh pty under the same name.
void linkAt(const fs::path& path, const std::string& target)
{
    const fs::path fresh = path.string() + ".new";
    fs::remove(fresh);
    fs::create_symlink(target, fresh);
    fs::rename(fresh, path);
}

class TCom_RouterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tavrix-link.XXXXXX";
        m_dir = ::mkdtemp(pattern);
        settings.linkKind = LinkSettings::kSerial;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path devicePath() const { return m_dir / "ttyTavrix"; }

    std::unique_ptr<TCom_Router> startLink(const std::string& path)
    {
        settings.setDevicePath(path);
        return std::make_unique<TCom_Router>(settings, collector.handler());
    }

    LinkSettings settings;
    Collector collector;
    fs::path m_dir;
};

TEST_F(TCom_RouterTest, AsksForTheSerialNumberThenDecodesPacketsInOrder)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // A second descriptor on the slave, opened before the link takes it
    // exclusively, shows how many bytes still wait for the link thread.
    const int probe = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    auto router = startLink(pty.slavePath());

    EXPECT_EQ(pty.read(5, 2000), kSerialNumberRequest);
    EXPECT_EQ(settings.statusText(), "Connected via COM");

    // Three frames in one write, the middle one with 0xAA in its payload.
    ASSERT_TRUE(pty.write({0xAA, 0x02, 0x00, 0x01, 0x01,
                           0xAA, 0x04, 0x00, 0x05, 0xAA, 0x02, 0xAD,
                           0xAA, 0x02, 0x00, 0x30, 0x30}));
    ASSERT_TRUE(waitFor([&] { return collector.count() >= 3; }, 2000));
    EXPECT_EQ(collector.packets(), (std::vector<Bytes>{
                                       {0x02, 0x00, 0x01, 0x01},
                                       {0x04, 0x00, 0x05, 0xAA, 0x02, 0xAD},
                                       {0x02, 0x00, 0x30, 0x30},
                                   }));

    // A frame split across reads is still one packet. The link wakes only
    // once a frame could be complete (four bytes at least), so the split
    // falls inside the body.
    ASSERT_TRUE(pty.write({0xAA, 0x02, 0x00, 0x1C}));
    ASSERT_TRUE(waitFor([&] {
        int waiting = -1;
        return ::ioctl(probe, FIONREAD, &waiting) == 0 && waiting == 0;
    }, 2000));
    ASSERT_TRUE(pty.write({0x1C}));
    ASSERT_TRUE(waitFor([&] { return collector.count() >= 4; }, 2000));
    EXPECT_EQ(collector.packets().back(), (Bytes{0x02, 0x00, 0x1C, 0x1C}));
    ::close(probe);
}

TEST_F(TCom_RouterTest, SendWritesExactlyTheFrame)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto router = startLink(pty.slavePath());
    ASSERT_EQ(pty.read(5, 2000), kSerialNumberRequest);

    EXPECT_TRUE(router->send(buildFrame(0x01, nullptr, 0)));
    EXPECT_EQ(pty.read(5, 1000), (Bytes{0xAA, 0x02, 0x00, 0x01, 0x01}));

    // Records whose length would run past the record are refused, not sent.
    PacketRecord negative = buildFrame(0x01, nullptr, 0);
    negative.setLength(0x8001);
    PacketRecord tooLong = buildFrame(0x01, nullptr, 0);
    tooLong.setLength(2050);
    PacketRecord empty = buildFrame(0x01, nullptr, 0);
    empty.setLength(0);
    EXPECT_FALSE(router->send(negative));
    EXPECT_FALSE(router->send(tooLong));
    EXPECT_FALSE(router->send(empty));
    EXPECT_TRUE(pty.read(1, 100).empty());
}

TEST_F(TCom_RouterTest, TerminateEndsAnIdleThreadPromptly)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto router = startLink(pty.slavePath());
    ASSERT_EQ(pty.read(5, 2000), kSerialNumberRequest);

    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(1000)));
    EXPECT_TRUE(collector.packets().empty());
}

TEST_F(TCom_RouterTest, FailedOpenSaysWhyAndRetriesUntilThePortAppears)
{
    auto router = startLink(devicePath().string());
    const std::string expected = "Could Not Open " + devicePath().string() + ": No Such Port!!";
    ASSERT_TRUE(waitFor([&] { return settings.statusText() == expected; }, 2000)) << settings.statusText();
    EXPECT_FALSE(router->send(buildFrame(0x01, nullptr, 0)));

    Pty pty;
    ASSERT_TRUE(pty.ok());
    linkAt(devicePath(), pty.slavePath());
    EXPECT_EQ(pty.read(5, 3000), kSerialNumberRequest);
    EXPECT_EQ(settings.statusText(), "Connected via COM");

    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(1000)));
}

TEST_F(TCom_RouterTest, UsbWithoutAnyFtdiDeviceSaysSoAndSendsNothing)
{
    void* d2xx = ::dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
    if (d2xx)
        ::dlclose(d2xx);
    if (d2xx || !UsbPort::findFtdiTty("/sys").empty())
        GTEST_SKIP() << "this machine has a D2XX library or an FTDI device";

    settings.linkKind = LinkSettings::kUsb;
    settings.comPort = 0;
    auto router = std::make_unique<TCom_Router>(settings, collector.handler());
    ASSERT_TRUE(waitFor([&] { return !settings.statusText().empty(); }, 2000));
    EXPECT_EQ(settings.statusText(), "Could Not Open USB: No FTDI Device Found!!");
    EXPECT_FALSE(router->send(buildFrame(0x01, nullptr, 0)));
    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(1000)));
}

TEST_F(TCom_RouterTest, TerminateIsSeenWhileRetrying)
{
    auto router = startLink(devicePath().string());
    ASSERT_TRUE(waitFor([&] { return !settings.statusText().empty(); }, 2000));
    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(1000)));
}

TEST_F(TCom_RouterTest, LostLinkIsReportedAndReopenedUnderTheSamePath)
{
    auto first = std::make_unique<Pty>();
    ASSERT_TRUE(first->ok());
    linkAt(devicePath(), first->slavePath());
    auto router = startLink(devicePath().string());
    ASSERT_EQ(first->read(5, 2000), kSerialNumberRequest);

    // Half a frame, then the device goes away.
    ASSERT_TRUE(first->write({0xAA, 0x04, 0x00}));
    first->closeMaster();
    ASSERT_TRUE(waitFor([&] { return settings.statusText() == "Link Lost!!"; }, 2000)) << settings.statusText();
    EXPECT_TRUE(settings.linkLost);
    EXPECT_FALSE(router->send(buildFrame(0x01, nullptr, 0)));

    Pty second;
    ASSERT_TRUE(second.ok());
    linkAt(devicePath(), second.slavePath());
    EXPECT_EQ(second.read(5, 3000), kSerialNumberRequest);
    EXPECT_EQ(settings.statusText(), "Connected via COM");
    EXPECT_FALSE(settings.linkLost);

    // The half frame from before the loss does not swallow the new stream.
    ASSERT_TRUE(second.write({0xAA, 0x02, 0x00, 0x30, 0x30}));
    ASSERT_TRUE(waitFor([&] { return collector.count() >= 1; }, 2000));
    EXPECT_EQ(collector.packets(), (std::vector<Bytes>{{0x02, 0x00, 0x30, 0x30}}));
}

// VMIN of the line, read through the pty's master, which shares it.
int lineVmin(const Pty& pty)
{
    termios tio{};
    return ::tcgetattr(pty.master(), &tio) == 0 ? tio.c_cc[VMIN] : -1;
}

// What a thread of this process is blocked in, from /proc: the system call
// number and its arguments, or "running".
std::string blockedIn(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string line;
    std::getline(in, line);
    return line;
}

// The link thread blocked in poll (7) on the line and the wake descriptor,
// time-out -1.
bool sleepsWithoutTimeout(pid_t tid)
{
    std::istringstream fields(blockedIn(tid));
    std::string number, fds, nfds, timeout;
    fields >> number >> fds >> nfds >> timeout;
    return number == "7" && nfds == "0x2" && !timeout.empty()
        && (std::stoull(timeout, nullptr, 16) & 0xFFFFFFFFu) == 0xFFFFFFFFu;
}

// Between frames the link thread sleeps until the framer's next packet can
// be complete, with no time-out, so a silent device costs no wake-ups; then
// Terminate() alone wakes it.
TEST_F(TCom_RouterTest, SleepsUntilTheFrameIsCompleteAndWakesForTerminate)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "reads x86-64 system call numbers";
#endif
    Pty pty;
    ASSERT_TRUE(pty.ok());
    std::atomic<pid_t> linkTid{0};
    settings.setDevicePath(pty.slavePath());
    auto router = std::make_unique<TCom_Router>(settings, [&](const PacketRecord& r) {
        linkTid = pid_t(::syscall(SYS_gettid));
        collector.handler()(r);
    });
    ASSERT_EQ(pty.read(5, 2000), kSerialNumberRequest);
    EXPECT_TRUE(waitFor([&] { return lineVmin(pty) == 4; }, 2000)) << lineVmin(pty); // AA, length, one body byte

    // A scan report (L = 17) short of its last 12 bytes.
    const Bytes frame = Bytes{0xAA, 0x11, 0x00, 0x11} + Bytes(15, 0) + Bytes{0x11};
    ASSERT_TRUE(pty.write(Bytes(frame.begin(), frame.begin() + 8)));
    EXPECT_TRUE(waitFor([&] { return lineVmin(pty) == 12; }, 2000)) << lineVmin(pty);
    ASSERT_TRUE(pty.write(Bytes(frame.begin() + 8, frame.end())));
    ASSERT_TRUE(waitFor([&] { return collector.count() == 1; }, 2000));
    EXPECT_EQ(collector.packets()[0], Bytes(frame.begin() + 1, frame.end()));
    EXPECT_TRUE(waitFor([&] { return lineVmin(pty) == 4; }, 2000)) << lineVmin(pty);

    EXPECT_TRUE(waitFor([&] { return sleepsWithoutTimeout(linkTid); }, 2000)) << blockedIn(linkTid);

    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(5000)));
}

// A corrupt length (2000) before five frames, then nothing: the line going
// quiet gives the false frame up and the five come out without another byte;
// then the thread is idle again, with no time-out.
TEST_F(TCom_RouterTest, AFrameCutOffByAQuietLineIsGivenUpAndTheFramesInsideItComeOut)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "reads x86-64 system call numbers";
#endif
    Pty pty;
    ASSERT_TRUE(pty.ok());
    std::atomic<pid_t> linkTid{0};
    settings.setDevicePath(pty.slavePath());
    auto router = std::make_unique<TCom_Router>(settings, [&](const PacketRecord& r) {
        linkTid = pid_t(::syscall(SYS_gettid));
        collector.handler()(r);
    });
    ASSERT_EQ(pty.read(5, 2000), kSerialNumberRequest);

    Bytes stream{0xAA, 0xD0, 0x07};
    std::vector<Bytes> bodies;
    for (uint8_t type = 0x40; type < 0x45; ++type) {
        stream = stream + Bytes{0xAA, 0x03, 0x00, type, 0x5A, uint8_t(type ^ 0x5A)};
        bodies.push_back(Bytes{0x03, 0x00, type, 0x5A, uint8_t(type ^ 0x5A)});
    }
    ASSERT_TRUE(pty.write(stream));
    ASSERT_TRUE(waitFor([&] { return collector.count() == bodies.size(); }, 10000)) << collector.count();
    EXPECT_EQ(collector.packets(), bodies);
    EXPECT_TRUE(waitFor([&] { return sleepsWithoutTimeout(linkTid); }, 2000)) << blockedIn(linkTid);

    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(5000)));
}

// The link thread blocked in a poll (7) on one descriptor with a time-out:
// the transport's wait for a line that takes no byte.
bool waitsForTheLineToDrain(pid_t tid)
{
    std::istringstream fields(blockedIn(tid));
    std::string number, fds, nfds, timeout;
    fields >> number >> fds >> nfds >> timeout;
    return number == "7" && nfds == "0x1" && !timeout.empty() && std::stoull(timeout, nullptr, 16) != 0;
}

// The decoder's requests go out on the link thread. A line that does not
// drain (the device stopped reading) must not stop reading for a second per
// request: the request is dropped at once, and once the line drains the next
// one goes out.
TEST_F(TCom_RouterTest, ARequestTheLineCannotTakeIsDroppedWithoutStallingTheLinkThread)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "reads x86-64 system call numbers";
#endif
    Pty pty;
    ASSERT_TRUE(pty.ok());
    // Opened before the link locks the line.
    const int line = ::open(pty.slavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0);

    const PacketRecord request = buildFrame(0x1C, nullptr, 0);
    std::atomic<TCom_Router*> link{nullptr};
    std::atomic<pid_t> linkTid{0};
    std::atomic<int> sent{0}, dropped{0};
    settings.setDevicePath(pty.slavePath());
    auto router = std::make_unique<TCom_Router>(settings, [&](const PacketRecord& r) {
        linkTid = pid_t(::syscall(SYS_gettid));
        collector.handler()(r);
        (link.load()->send(request) ? sent : dropped)++;
    }, true);
    link = router.get();
    router->start();
    ASSERT_EQ(pty.read(5, 2000), kSerialNumberRequest);

    // The line stops taking bytes, as a device holding its flow off does.
    ASSERT_EQ(::tcflow(line, TCOOFF), 0);
    ASSERT_TRUE(pty.write({0xAA, 0x02, 0x00, 0x30, 0x30}));
    ASSERT_TRUE(waitFor([&] { return sent + dropped == 1 || (linkTid && waitsForTheLineToDrain(linkTid)); }, 5000));
    EXPECT_EQ(dropped, 1) << "the link thread waits on the line: " << blockedIn(linkTid);
    EXPECT_EQ(sent, 0);

    // The line takes bytes again, and the next request goes out whole.
    ASSERT_EQ(::tcflow(line, TCOON), 0);
    ASSERT_TRUE(pty.write({0xAA, 0x02, 0x00, 0x31, 0x31}));
    ASSERT_TRUE(waitFor([&] { return sent + dropped == 2; }, 5000));
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(pty.read(5, 2000), (Bytes{0xAA, 0x02, 0x00, 0x1C, 0x1C}));
    EXPECT_EQ(collector.count(), 2u);
    ::close(line);

    router->Terminate();
    EXPECT_TRUE(router->wait(QDeadlineTimer(5000)));
}

} // namespace
