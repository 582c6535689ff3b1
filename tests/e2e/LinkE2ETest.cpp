// The real link thread against the real emulator on a pseudo-terminal:
// everything the emulator puts on the line must come out of the framer
// whole and in order, through noise, corrupt frames, split writes and a
// pulled plug.
#include "protocol/MessageType.h"
#include "link/LinkSettings.h"
#include "link/TCom_Router.h"
#include "tools/SimProcess.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

constexpr int kStartMs = 10000; // generous: the machine may be busy

// Records every packet the link thread hands over.
struct Recorder
{
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> packets; // from the length field on

    void operator()(const PacketRecord& r)
    {
        std::lock_guard lock(mutex);
        packets.emplace_back(r.fromLength(), r.fromLength() + r.fromLengthCount());
    }
    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return packets.size();
    }
    std::vector<std::vector<uint8_t>> copy()
    {
        std::lock_guard lock(mutex);
        return packets;
    }
};

class LinkE2E : public ::testing::Test
{
protected:
    void startSim(std::vector<std::string> args)
    {
        m_link = m_sim.dir() + "/tavrix";
        m_stats = m_sim.dir() + "/stats.json";
        args.insert(args.end(), {"--link", m_link, "--stats", m_stats});
        ASSERT_TRUE(m_sim.start(args));
        const auto first = m_sim.readLine(kStartMs);
        ASSERT_TRUE(first && first->rfind("tavrix-sim: /dev/", 0) == 0) << m_sim.stderrText();
    }
    void startLink()
    {
        m_settings.linkKind = LinkSettings::kSerial;
        m_settings.setDevicePath(m_link);
        m_router = std::make_unique<TCom_Router>(m_settings, [this](const PacketRecord& r) { m_recorder(r); });
    }
    bool waitStatus(const std::string& text, int timeoutMs)
    {
        return waitFor([&] { return m_settings.statusText() == text; }, timeoutMs);
    }
    int requestsLogged(const std::string& frameHex)
    {
        const std::string text = m_sim.stderrText(), needle = "received " + frameHex;
        int n = 0;
        for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
    void TearDown() override
    {
        if (m_router) {
            m_router->Terminate();
            m_router->wait();
        }
    }

    SimProcess m_sim;
    std::string m_link, m_stats;
    LinkSettings m_settings;
    Recorder m_recorder;
    std::unique_ptr<TCom_Router> m_router;
};

TEST_F(LinkE2E, firstFrameTheDeviceHearsIsTheSerialNumberRequest)
{
    startSim({"--gps", "off"});
    startLink();
    ASSERT_TRUE(waitStatus("Connected via COM", kStartMs)) << m_settings.statusText();
    ASSERT_TRUE(waitFor([&] { return statText(readFile(m_stats), "firstRequest") != ""; }, kStartMs));
    EXPECT_EQ(statText(readFile(m_stats), "firstRequest"), "AA 02 00 1C 1C");
    const std::string log = m_sim.stderrText();
    EXPECT_EQ(log.find("received "), log.find("received AA 02 00 1C 1C (SerialNumberRequest)")) << log;

    // The answer reaches the link's handler intact.
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& p : m_recorder.copy())
                if (p[2] == Message::SerialNumber)
                    return true;
            return false;
        },
        kStartMs));
    for (const auto& p : m_recorder.copy()) {
        if (p[2] == Message::SerialNumber) {
            EXPECT_EQ(std::string(p.begin() + 3, p.begin() + 11), "AB123456");
        }
    }
}

struct StreamCase
{
    const char* name;
    std::vector<std::string> faults;
    int count;
};

class LinkE2EStream : public LinkE2E, public ::testing::WithParamInterface<StreamCase>
{
};

// One receiver in table mode: every packet carries the next four band
// positions, so a lost, doubled or reordered packet breaks the chain.
TEST_P(LinkE2EStream, everyValidFrameArrivesWholeAndInOrder)
{
    const StreamCase& c = GetParam();
    std::vector<std::string> args = {"--flat-out", "--wait-request", "--mode", "table", "--receivers", "1",
                                     "--count", std::to_string(c.count), "--seed", "7"};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    startSim(args);
    startLink();

    ASSERT_GE(m_sim.wait(60000), 0) << "emulator did not finish";
    ASSERT_EQ(m_sim.wait(0), 0) << m_sim.stderrText();
    const std::string json = readFile(m_stats);
    const long sent = statNumber(json, "framesSent");
    ASSERT_GT(sent, c.count);
    EXPECT_TRUE(waitFor([&] { return long(m_recorder.size()) >= sent; }, kStartMs));
    const auto packets = m_recorder.copy();
    EXPECT_EQ(long(packets.size()), sent) << json;

    std::map<uint8_t, int> byType;
    int previousLast = -1, tables = 0;
    for (const auto& p : packets) {
        const int length = p[0] | p[1] << 8;
        ASSERT_EQ(std::size_t(length + 2), p.size());
        ++byType[p[2]];
        if (p[2] != 9)
            continue;
        ASSERT_EQ(length, 18);
        ++tables;
        for (int e = 0; e < 4; ++e) {
            const uint8_t* entry = p.data() + 3 + 4 * e;
            EXPECT_EQ(entry[0], 0);
            const int index = entry[1] | entry[2] << 8;
            if (previousLast >= 0 && index != 0) {
                EXPECT_EQ(index, previousLast + 1) << "table packet " << tables;
            }
            previousLast = index;
        }
    }
    EXPECT_EQ(tables, c.count);
    EXPECT_EQ(byType[9], statNumber(json, "TableReport"));
    EXPECT_EQ(byType[28], statNumber(json, "SerialNumber"));
    if (!c.faults.empty() && c.faults[0] != "--split") {
        EXPECT_GT(statNumber(json, "faultFrames") + statNumber(json, "noiseBytes"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LinkE2EStream,
    ::testing::Values(StreamCase{"clean", {}, 400},
                      StreamCase{"noise", {"--noise"}, 300},
                      StreamCase{"badChecksums", {"--bad-checksums", "0.3"}, 300},
                      StreamCase{"badLengths", {"--bad-lengths", "0.3"}, 300},
                      StreamCase{"split", {"--split"}, 120},
                      StreamCase{"all", {"--noise", "--bad-checksums", "0.2", "--bad-lengths", "0.2", "--split"}, 120}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkE2E, unplugIsReportedAndTheLinkRecoversAndAsksAgain)
{
    startSim({"--control", "--rate", "20"});
    startLink();
    ASSERT_TRUE(waitStatus("Connected via COM", kStartMs)) << m_settings.statusText();
    ASSERT_TRUE(waitFor([&] { return requestsLogged("AA 02 00 1C 1C") == 1; }, kStartMs));
    ASSERT_TRUE(waitFor([&] { return m_recorder.size() > 0; }, kStartMs));

    ASSERT_TRUE(m_sim.sendLine("unplug"));
    EXPECT_TRUE(waitStatus("Link Lost!!", kStartMs)) << m_settings.statusText();
    EXPECT_TRUE(waitStatus("Connected via COM", kStartMs)) << m_settings.statusText();
    EXPECT_TRUE(waitFor([&] { return requestsLogged("AA 02 00 1C 1C") == 2; }, kStartMs)) << m_sim.stderrText();

    // Data flow again after the replug.
    const std::size_t before = m_recorder.size();
    EXPECT_TRUE(waitFor([&] { return m_recorder.size() > before + 5; }, kStartMs));
    ASSERT_TRUE(m_sim.sendLine("quit"));
    EXPECT_EQ(m_sim.wait(kStartMs), 0);
    EXPECT_EQ(statNumber(readFile(m_stats), "plugs"), 2);
}

} // namespace
