#include "log/KlfReader.h"
#include "log/LogTestUtil.h"
#include "log/TLog_Router.h"
#include "protocol/MeasurementState.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class LogWriter : public ::testing::Test
{
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }

    QTemporaryDir dir;
    MeasurementState state;
};

void post(TLog_Router& w, const std::vector<uint8_t>& record)
{
    w.PostRecord(record.data(), int(record.size()));
}

} // namespace

TEST_F(LogWriter, newFileWithNothingReceivedStartsWithThe63ByteHeader)
{
    const std::string name = path("empty.KLF");
    TLog_Router(name, state).stopAndWait();
    const auto b = readFile(name);
    ASSERT_EQ(b.size(), 63u);
    const std::vector<uint8_t> start{0, 0, 0, 0, 0, 0, 0x0F, 0x00, 0x80, 'Z', 'K', 'T', 'T', 'A', 'V',
                                     'R', 'I', 'X', '0', '4', '0', '1', 0xC0, 0x0B, 0x00, 0x81};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), b.begin()));
    EXPECT_EQ(b[35], 0x81);
    EXPECT_EQ(b[36], 0x19);
    EXPECT_EQ(b[38], 0x01);

    struct stat st;
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077 & ~0022, 0644 & 0077 & ~0022) << "group/other may read, never write";
    EXPECT_TRUE(st.st_mode & S_IRUSR);
}

TEST_F(LogWriter, headerTakesSerialSettingsAndChannelInformationFromTheState)
{
    std::strcpy(state.serialNumber, "AB123456");
    uint8_t block0[12], block1[12];
    for (int i = 0; i < 12; ++i) {
        block0[i] = uint8_t(1 + i);
        block1[i] = uint8_t(0x41 + i);
    }
    state.receiverSettings[0]->storeBlock(block0);
    state.receiverSettings[1]->storeBlock(block1);
    state.receiverActive[0] = 1;
    state.receiverActive[1] = 1;
    const auto info = makeRecord(6, std::vector<uint8_t>(98, 0x33));
    state.channelInfoRecord.count = uint16_t(info.size());
    std::copy(info.begin(), info.end(), state.channelInfoRecord.bytes.begin());
    state.channelInfoPresent = 1;

    const std::string name = path("full.KLF");
    const auto packet = makeRecord(0, std::vector<uint8_t>(152, 0));
    {
        TLog_Router w(name, state);
        post(w, packet);
        w.stopAndWait();
    }
    const auto b = readFile(name);
    ASSERT_EQ(b.size(), 165u + 156u);
    EXPECT_EQ(std::string(b.begin() + 26, b.begin() + 34), "AB123456");
    EXPECT_EQ(b[39], 0x03);
    EXPECT_TRUE(std::equal(block0, block0 + 12, b.begin() + 40));
    EXPECT_TRUE(std::equal(block1, block1 + 11, b.begin() + 52));
    EXPECT_EQ(b[63], 0x64);
    EXPECT_EQ(b[64], 0x00);
    EXPECT_TRUE(std::equal(info.begin(), info.end(), b.begin() + 63));
    // The GPS packet of L = 154 is a 156-byte record starting 9A 00 00.
    EXPECT_EQ(b[165], 0x9A);
    EXPECT_EQ(b[166], 0x00);
    EXPECT_EQ(b[167], 0x00);
    EXPECT_TRUE(std::equal(packet.begin(), packet.end(), b.begin() + 165));

    // Present flag clear: the stored copy is not written.
    state.channelInfoPresent = 0;
    const std::string second = path("noinfo.KLF");
    TLog_Router(second, state).stopAndWait();
    EXPECT_EQ(readFile(second).size(), 63u);
}

TEST_F(LogWriter, existingFilesAreContinuedWithoutHeader)
{
    const std::string name = path("existing.KLF");
    writeFile(name, {});
    const auto a = makeSequenced(7, 1, 17);
    const auto b = makeSequenced(2, 2, 40);
    {
        TLog_Router w(name, state);
        post(w, a);
        w.stopAndWait();
    }
    EXPECT_EQ(readFile(name), a);

    // A second run on the same name appends to the first run's records.
    {
        TLog_Router w(name, state);
        post(w, b);
        w.stopAndWait();
    }
    auto expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(readFile(name), expected);
}

TEST_F(LogWriter, everyPacketPostedIsWrittenOnceInOrder)
{
    const std::string name = path("many.KLF");
    constexpr uint32_t kPackets = 100000;
    TLog_Router w(name, state);
    std::vector<std::vector<uint8_t>> packets;
    for (uint32_t i = 0; i < 16; ++i)
        packets.push_back(makeSequenced(uint8_t(i % 10), 0, 17 + i * 9));
    for (uint32_t i = 0; i < kPackets; ++i) {
        auto& p = packets[i % packets.size()];
        for (int k = 0; k < 4; ++k)
            p[3 + k] = uint8_t(i >> (8 * k));
        // Keep the checksum right for the changed sequence bytes.
        uint8_t sum = 0;
        for (size_t k = 2; k + 1 < p.size(); ++k)
            sum ^= p[k];
        p.back() = sum;
        post(w, p);
    }
    w.stopAndWait();
    EXPECT_EQ(w.droppedCount(), 0u);
    EXPECT_EQ(w.writtenCount(), kPackets);

    const auto data = readFile(name);
    KlfReader r(data);
    ASSERT_EQ(r.status(), KlfReader::Status::Ok) << r.error();
    ASSERT_EQ(r.records().size(), kPackets);
    for (uint32_t i = 0; i < kPackets; ++i) {
        ASSERT_EQ(sequenceOf(r.payload(r.records()[i]).data()), i) << "record " << i;
        ASSERT_EQ(r.records()[i].length, 15 + 9 * (i % 16));
    }
}

TEST_F(LogWriter, terminateAloneStillDrainsTheQueue)
{
    // shutdownAll only sets the flag and joins; what was posted must still land.
    const std::string name = path("drain.KLF");
    TLog_Router w(name, state, {}, true);
    for (uint32_t i = 0; i < 500; ++i)
        post(w, makeSequenced(3, i, 60));
    w.Terminate();
    w.start();
    w.wait();
    const auto data = readFile(name);
    KlfReader r(data);
    ASSERT_EQ(r.status(), KlfReader::Status::Ok) << r.error();
    ASSERT_EQ(r.records().size(), 500u);
    EXPECT_EQ(sequenceOf(r.payload(r.records()[499]).data()), 499u);

    // After the writer closed, posts are ignored, not counted as lost.
    post(w, makeSequenced(3, 999, 60));
    EXPECT_EQ(readFile(name).size(), data.size());
    EXPECT_EQ(w.droppedCount(), 0u);
}

TEST_F(LogWriter, aFullQueueCountsWhatItRefusesAndKeepsWhatItTook)
{
    const std::string name = path("full-queue.KLF");
    TLog_Router w(name, state, {}, true);
    const auto big = makeSequenced(2, 0, 2049);
    uint64_t posted = 0;
    while (w.droppedCount() == 0) {
        post(w, big);
        ++posted;
    }
    const uint64_t accepted = posted - 1;
    EXPECT_EQ(accepted, TLog_Router::kQueueBytes / (2049 + 2));
    w.PostRecord(big.data(), 0);
    w.PostRecord(big.data(), RecordSlot::kCapacity + 1);
    EXPECT_EQ(w.droppedCount(), 3u);
    w.start();
    w.stopAndWait();
    EXPECT_EQ(w.writtenCount(), accepted);
    EXPECT_EQ(readFile(name).size(), 63 + accepted * big.size());
}

TEST_F(LogWriter, failuresAreReportedOnceAndStopTheWriter)
{
    const struct
    {
        std::string file;
        const char* message;
    } cases[] = {
        {path("no-such-dir/x.KLF"), "Could Not Create Log File!!! "},
        {dir.path().toStdString(), "Could Not Create Log File!!! "},
        {"/dev/full", "Could Not Write Log File!!! "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> errors;
        std::mutex m;
        TLog_Router w(c.file, state, [&](const std::string& text) {
            std::lock_guard lock(m);
            errors.push_back(text);
        });
        for (int i = 0; i < 5; ++i)
            post(w, makeSequenced(7, uint32_t(i), 17));
        // The writer ends by itself once it has failed.
        ASSERT_TRUE(w.wait(10000)) << c.file;
        for (int i = 0; i < 5; ++i)
            post(w, makeSequenced(7, uint32_t(i), 17));
        w.stopAndWait();
        EXPECT_TRUE(w.failed()) << c.file;
        ASSERT_EQ(errors.size(), 1u) << c.file;
        EXPECT_EQ(errors[0].rfind(c.message, 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(c.file), std::string::npos) << errors[0];
    }
}

TEST_F(LogWriter, fileSizeIsInWholeKilobytes)
{
    const std::string name = path("size.KLF");
    TLog_Router w(name, state);
    EXPECT_EQ(TLog_Router(path("other.KLF"), state, {}, true).MeasureFileSize(), 0);
    for (int i = 0; i < 20; ++i)
        post(w, makeSequenced(2, uint32_t(i), 100)); // 63 + 2000 bytes
    w.stopAndWait();
    EXPECT_EQ(w.MeasureFileSize(), 2);
    writeFile(name, std::vector<uint8_t>(1023, 0));
    EXPECT_EQ(w.MeasureFileSize(), 0);
}
