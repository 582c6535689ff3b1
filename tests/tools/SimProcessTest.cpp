// The tavrix-sim binary on its pseudo-terminal, seen from the program's side
// of the line.
#include "CommandFramer.h"
#include "MessageTypes.h"
#include "tools/SimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The program's end of the line, read through the emulator's own framer.
class Line
{
public:
    explicit Line(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Line()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    void send(uint8_t command)
    {
        const uint8_t frame[] = {0xAA, 0x02, 0x00, command, command};
        ASSERT_EQ(::write(m_fd, frame, sizeof frame), ssize_t(sizeof frame));
    }
    // Reads for up to timeoutMs; false once the far side hung up.
    bool pump(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return true;
        uint8_t buf[4096];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        ++reads;
        bytes += std::size_t(n);
        for (auto& f : m_framer.push(buf, std::size_t(n))) {
            ++counts[f.type];
            frames.push_back(std::move(f));
        }
        return true;
    }
    int measurementFrames() const
    {
        int n = 0;
        for (const auto& [type, count] : counts)
            n += sim::carriesRssi(type) ? count : 0;
        return n;
    }

    std::map<uint8_t, int> counts;
    std::vector<CommandFramer::Frame> frames;
    int reads = 0;
    std::size_t bytes = 0;

private:
    int m_fd;
    CommandFramer m_framer;
};

std::string slaveFrom(const std::optional<std::string>& line)
{
    const std::string prefix = "tavrix-sim: ";
    return line && line->rfind(prefix, 0) == 0 ? line->substr(prefix.size()) : std::string();
}

TEST(SimProcess, answersEachRequestAndRecordsThemInOrder)
{
    SimProcess sim;
    const std::string link = sim.dir() + "/tty", stats = sim.dir() + "/stats.json";
    ASSERT_TRUE(sim.start({"--link", link, "--stats", stats, "--gps", "off", "--control"}));
    const std::string slave = slaveFrom(sim.readLine(5000));
    ASSERT_FALSE(slave.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), slave);

    Line line(link);
    ASSERT_TRUE(line.ok());
    line.send(sim::SerialNumberRequest);
    line.send(sim::SettingsRequest);
    line.send(sim::ChannelInfoRequest);
    ASSERT_TRUE(waitFor(
        [&] {
            line.pump(20);
            return line.counts[sim::SerialNumber] && line.counts[sim::ReceiverSetup] && line.counts[sim::CurrentFrequency]
                   && line.counts[sim::ClockMarker] && line.counts[sim::ScanReport] > 5;
        },
        10000));
    const auto serial = std::find_if(line.frames.begin(), line.frames.end(),
                                     [](const auto& f) { return f.type == sim::SerialNumber; });
    EXPECT_EQ(std::string(serial->bytes.begin() + 4, serial->bytes.begin() + 12), "AB123456");

    ASSERT_TRUE(sim.sendLine("quit"));
    EXPECT_EQ(sim.wait(5000), 0);
    const std::string json = readFile(stats);
    EXPECT_EQ(statText(json, "firstRequest"), "AA 02 00 1C 1C");
    EXPECT_NE(json.find("\"requestList\": [28, 1, 48]"), std::string::npos) << json;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link outlived the emulator";
    EXPECT_NE(sim.stderrText().find("received AA 02 00 30 30 (ChannelInfoRequest)"), std::string::npos);
}

// At the line rate the bytes come as a UART driver hands them over, a FIFO
// at a time. Written one by one they woke the reader for every byte (and
// kept the emulator spinning), which the whole-program figures then showed
// as the program's cost. A reader slower than the line may see bigger
// pieces; it never sees smaller ones.
TEST(SimProcess, pacedLineComesInPiecesNotByteByByte)
{
    SimProcess sim;
    const std::string link = sim.dir() + "/tty";
    ASSERT_TRUE(sim.start({"--link", link, "--mode", "scan", "--rate", "1000", "--gps", "off"}));
    ASSERT_FALSE(slaveFrom(sim.readLine(5000)).empty());
    Line line(link);
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(waitFor([&] { return line.pump(20) && line.bytes >= 1500; }, 15000)) << line.bytes;
    EXPECT_GE(double(line.bytes) / line.reads, 12.0) << line.reads << " reads for " << line.bytes << " bytes";
    EXPECT_GT(line.counts[sim::ScanReport], 30);
    sim.terminate();
}

TEST(SimProcess, countedRunDeliversEveryFrameBeforeExiting)
{
    SimProcess sim;
    const std::string link = sim.dir() + "/tty", stats = sim.dir() + "/stats.json";
    ASSERT_TRUE(sim.start({"--link", link, "--stats", stats, "--flat-out", "--count", "300", "--wait-request",
                           "--mode", "table"}));
    ASSERT_FALSE(slaveFrom(sim.readLine(5000)).empty());
    Line line(link);
    ASSERT_TRUE(line.ok());
    line.send(sim::SerialNumberRequest);
    ASSERT_TRUE(waitFor([&] { return !line.pump(20) || sim.wait(0) >= 0; }, 15000));
    EXPECT_EQ(sim.wait(5000), 0);
    while (line.pump(50)) {
    }
    const std::string json = readFile(stats);
    EXPECT_EQ(line.measurementFrames(), 300);
    EXPECT_EQ(long(line.frames.size()), statNumber(json, "framesSent")) << json;
}

TEST(SimProcess, unplugHangsUpAndRepointsTheLink)
{
    SimProcess sim;
    const std::string link = sim.dir() + "/tty", stats = sim.dir() + "/stats.json";
    ASSERT_TRUE(sim.start({"--link", link, "--stats", stats, "--control"}));
    const std::string first = slaveFrom(sim.readLine(5000));
    ASSERT_FALSE(first.empty());
    Line line(link);
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(waitFor([&] { return line.pump(20) && line.counts[sim::GpsMessage] > 0; }, 5000));

    ASSERT_TRUE(sim.sendLine("unplug"));
    EXPECT_TRUE(waitFor([&] { return !line.pump(20); }, 5000)) << "no hang-up seen";
    const std::string second = slaveFrom(sim.readLine(5000));
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), second);

    Line again(link);
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(waitFor([&] { return again.pump(20) && again.counts[sim::GpsMessage] > 0; }, 5000));
    sim.terminate();
    EXPECT_EQ(sim.wait(5000), 0);
    EXPECT_EQ(statNumber(readFile(stats), "plugs"), 2);
}

TEST(SimProcess, drainAnswersOnceEverySentFrameIsOnTheLineAndCounted)
{
    SimProcess sim;
    const std::string link = sim.dir() + "/tty", stats = sim.dir() + "/stats.json";
    ASSERT_TRUE(sim.start({"--link", link, "--stats", stats, "--control", "--flat-out", "--mode", "table"}));
    ASSERT_FALSE(slaveFrom(sim.readLine(5000)).empty());
    Line line(link);
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(waitFor([&] { return line.pump(20) && line.measurementFrames() > 200; }, 10000));

    ASSERT_TRUE(sim.sendLine("pause"));
    ASSERT_TRUE(sim.sendLine("drain"));
    // The line is read meanwhile, as a peer would: with the pseudo-terminal
    // full the queue could never empty and the answer never come.
    std::optional<std::string> answer;
    ASSERT_TRUE(waitFor([&] { line.pump(20); answer = sim.readLine(0); return answer.has_value(); }, 10000));
    const std::string prefix = "tavrix-sim: drained ";
    ASSERT_EQ(answer->rfind(prefix, 0), 0u) << *answer;
    const long drained = std::stol(answer->substr(prefix.size()));
    // The counts on file are the ones the answer names, with nothing written
    // after them however long the line is read.
    EXPECT_EQ(statNumber(readFile(stats), "framesSent"), drained);
    ASSERT_TRUE(waitFor([&] { line.pump(20); return long(line.frames.size()) >= drained; }, 10000));
    EXPECT_EQ(long(line.frames.size()), drained);
    sim.terminate();
    EXPECT_EQ(sim.wait(5000), 0);
}

TEST(SimProcess, leavesAFileThatIsNotASymlinkAlone)
{
    SimProcess sim;
    const std::string path = sim.dir() + "/precious";
    std::ofstream(path) << "keep";
    ASSERT_TRUE(sim.start({"--link", path}));
    EXPECT_EQ(sim.wait(5000), 1);
    EXPECT_EQ(readFile(path), "keep");
}

} // namespace

// A replay that plays nothing has failed, whatever the reason: an empty log,
// a header alone, only records with a bad checksum.
TEST(SimProcess, replayOfALogWithNothingToPlayExitsNonZero)
{
    SimProcess sim;
    const std::string empty = sim.dir() + "/empty.KLF";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    ASSERT_TRUE(sim.start({"--replay", empty, "--link", sim.dir() + "/tty"}));
    EXPECT_EQ(sim.wait(30000), 1);
    EXPECT_NE(sim.stderrText().find("holds nothing that could be played"), std::string::npos) << sim.stderrText();
}
