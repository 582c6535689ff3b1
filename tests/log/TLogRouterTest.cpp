#include "log/KlfHeader.h"
#include "log/KlfRecordList.h"
#include "log/LogTestUtil.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class LogWriter : public ::testing::Test
{
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }

    QTemporaryDir dir;
    DeviceRecord device;
};

void post(TLog_Router& w, const std::vector<uint8_t>& record)
{
    w.PostRecord(record.data(), int(record.size()));
}

} // namespace

TEST_F(LogWriter, newFileWithNothingReceivedStartsWithThe63ByteHeader)
{
    const std::string name = path("empty.KLF");
    TLog_Router(name, device).stopAndWait();
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

TEST_F(LogWriter, headerTakesSerialSettingsAndChannelInformationFromTheDeviceRecord)
{
    uint8_t block0[12], block1[12];
    for (int i = 0; i < 12; ++i) {
        block0[i] = uint8_t(1 + i);
        block1[i] = uint8_t(0x41 + i);
    }
    const auto info = makeRecord(6, std::vector<uint8_t>(98, 0x33));
    device.edit([&](DeviceRecord::Data& d) {
        std::strcpy(d.serialNumber, "AB123456");
        d.receiverSettings[0].storeBlock(block0);
        d.receiverSettings[1].storeBlock(block1);
        d.receiverActive = {true, true};
        d.channelInfoRecord.count = uint16_t(info.size());
        std::copy(info.begin(), info.end(), d.channelInfoRecord.bytes.begin());
    });
    device.channelInfoPresent = 1;

    const std::string name = path("full.KLF");
    const auto packet = makeRecord(0, std::vector<uint8_t>(152, 0));
    {
        TLog_Router w(name, device);
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
    device.channelInfoPresent = 0;
    const std::string second = path("noinfo.KLF");
    TLog_Router(second, device).stopAndWait();
    EXPECT_EQ(readFile(second).size(), 63u);
}

// The header awaited the settings reply: it describes the device as the
// reply left it, whatever the decoder took in before the writer woke (a
// channel change right after the reply), so the same packets always give
// the same header.
TEST_F(LogWriter, aHeaderAwaitingTheSettingsReplyDescribesTheDeviceAsTheReplyLeftIt)
{
    uint8_t replied[12], later[12];
    for (int i = 0; i < 12; ++i) {
        replied[i] = uint8_t(1 + i);
        later[i] = uint8_t(0x71 + i);
    }
    const uint32_t before = device.settingsReplies();
    device.edit([&](DeviceRecord::Data& d) {
        std::strcpy(d.serialNumber, "AB123456");
        d.receiverActive = {true, false};
        d.receiverSettings[0].storeBlock(replied);
    });
    device.settingsStored({true, false});
    device.edit([&](DeviceRecord::Data& d) { d.receiverSettings[0].storeBlock(later); });

    const std::string name = path("atreply.KLF");
    {
        TLog_Router w(name, device, {}, true);
        w.waitForSettings(before, std::chrono::milliseconds(10000));
        w.start();
        w.stopAndWait();
    }
    const auto b = readFile(name);
    ASSERT_GE(b.size(), 63u);
    EXPECT_TRUE(std::equal(replied, replied + 12, b.begin() + 40)) << "the header took a later state";

    // Not waiting for a reply, the header is the device as it is now.
    const std::string now = path("now.KLF");
    TLog_Router(now, device).stopAndWait();
    EXPECT_TRUE(std::equal(later, later + 12, readFile(now).begin() + 40));
}

TEST_F(LogWriter, existingFilesAreContinuedWithoutHeader)
{
    const std::string name = path("existing.KLF");
    writeFile(name, {});
    const auto a = makeSequenced(7, 1, 17);
    const auto b = makeSequenced(2, 2, 40);
    {
        TLog_Router w(name, device);
        post(w, a);
        w.stopAndWait();
    }
    EXPECT_EQ(readFile(name), a);

    // A second run on the same name appends to the first run's records.
    {
        TLog_Router w(name, device);
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
    TLog_Router w(name, device);
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
    KlfRecordList r(data);
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    ASSERT_EQ(r.records().size(), kPackets);
    for (uint32_t i = 0; i < kPackets; ++i) {
        ASSERT_EQ(sequenceOf(r.payload(r.records()[i]).data()), i) << "record " << i;
        ASSERT_EQ(r.records()[i].length, 15 + 9 * (i % 16));
    }
}

TEST_F(LogWriter, aSilentDeviceLetsTheWriterSleepUntilTheNextPacket)
{
    // With the idle wait made a day long, only a post or the stop can wake
    // the writer once a take found nothing.
    const std::string name = path("idle.KLF");
    TLog_Router w(name, device, {}, true);
    w.idleWaitMs = 24 * 3600 * 1000;
    w.start();
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.idle(); }, 20000));
        post(w, makeSequenced(3, i, 60));
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.writtenCount() == i + 1; }, 20000));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.idle(); }, 20000));
    w.stopAndWait();
    const auto data = readFile(name);
    KlfRecordList r(data);
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    ASSERT_EQ(r.records().size(), 3u);
    EXPECT_EQ(sequenceOf(r.payload(r.records()[2]).data()), 2u);
}

TEST_F(LogWriter, terminateAloneStillDrainsTheQueue)
{
    // shutdownAll only sets the flag and joins; what was posted must still land.
    const std::string name = path("drain.KLF");
    TLog_Router w(name, device, {}, true);
    for (uint32_t i = 0; i < 500; ++i)
        post(w, makeSequenced(3, i, 60));
    w.Terminate();
    w.start();
    w.wait();
    const auto data = readFile(name);
    KlfRecordList r(data);
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
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
    TLog_Router w(name, device, {}, true);
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
        TLog_Router w(c.file, device, [&](const std::string& text) {
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
    TLog_Router w(name, device);
    EXPECT_EQ(TLog_Router(path("other.KLF"), device, {}, true).MeasureFileSize(), 0);
    for (int i = 0; i < 20; ++i)
        post(w, makeSequenced(2, uint32_t(i), 100)); // 63 + 2000 bytes
    w.stopAndWait();
    EXPECT_EQ(w.MeasureFileSize(), 2);
    writeFile(name, std::vector<uint8_t>(1023, 0));
    EXPECT_EQ(w.MeasureFileSize(), 0);
}

namespace {

// Collects a writer's notices from its thread.
struct Notices
{
    TLog_Router::NoticeHandler handler()
    {
        return [this](const std::string& text) {
            std::lock_guard lock(mutex);
            texts.push_back(text);
        };
    }
    std::vector<std::string> all()
    {
        std::lock_guard lock(mutex);
        return texts;
    }
    std::mutex mutex;
    std::vector<std::string> texts;
};

// Records after the header, as sequence numbers; fails on a file not whole.
std::vector<uint32_t> sequencesIn(const std::string& file)
{
    const auto data = readFile(file);
    KlfRecordList r(data);
    EXPECT_EQ(r.status(), KlfRecordList::Status::Ok) << file << ": " << r.error();
    std::vector<uint32_t> out;
    for (const auto& rec : r.records())
        out.push_back(sequenceOf(r.payload(rec).data()));
    return out;
}

std::vector<uint32_t> range(uint32_t from, uint32_t to)
{
    std::vector<uint32_t> v;
    for (uint32_t i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

} // namespace

TEST_F(LogWriter, aFileEndingInACutOffRecordIsCutBackBeforeAppending)
{
    const std::string name = path("cut.KLF");
    std::vector<uint8_t> bytes = KlfHeader().bytes();
    for (uint32_t i = 0; i < 5; ++i) {
        const auto r = makeSequenced(7, i, 40);
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    const auto cut = makeSequenced(7, 99, 156);
    bytes.insert(bytes.end(), cut.begin(), cut.begin() + 70); // a write the disk cut short
    writeFile(name, bytes);

    Notices notices;
    TLog_Router w(name, device, {}, true);
    w.setNoticeHandler(notices.handler());
    w.start();
    for (uint32_t i = 5; i < 10; ++i)
        post(w, makeSequenced(7, i, 40));
    w.stopAndWait();
    EXPECT_EQ(sequencesIn(name), range(0, 10));
    ASSERT_EQ(notices.all().size(), 1u);
    EXPECT_EQ(notices.all()[0], "Log File Cut Back To Its Last Whole Record!!! " + name);

    // A header cut short leaves nothing worth keeping: the file starts again.
    writeFile(name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40));
    {
        TLog_Router again(name, device);
        post(again, makeSequenced(7, 1, 40));
        again.stopAndWait();
    }
    EXPECT_EQ(sequencesIn(name), range(1, 2));
    EXPECT_EQ(readFile(name).size(), 63u + 40u);

    // A file that is not a log is never shortened, even where its first
    // bytes read as a record cut short.
    for (const std::vector<uint8_t>& other : {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'},
                                              std::vector<uint8_t>{0x10, 0x00, 'a', 'b', 'c'}}) {
        writeFile(name, other);
        TLog_Router(name, device).stopAndWait();
        EXPECT_EQ(readFile(name), other);
    }
}

TEST_F(LogWriter, aSecondWriterOnTheSameFileIsRefused)
{
    const std::string name = path("Tavrix.KLF");
    TLog_Router first(name, device);
    post(first, makeSequenced(7, 0, 40));
    // The first writer has its lock once the record is on disk.
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.writtenCount() == 1; }, 20000));

    std::vector<std::string> errors;
    TLog_Router second(name, device, [&](const std::string& text) { errors.push_back(text); });
    post(second, makeSequenced(2, 50, 40));
    ASSERT_TRUE(second.wait(10000));
    EXPECT_TRUE(second.failed());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Log File In Use!!! " + name);

    post(first, makeSequenced(7, 1, 40));
    first.stopAndWait();
    EXPECT_EQ(sequencesIn(name), range(0, 2));
    EXPECT_EQ(readFile(name).size(), 63u + 2 * 40u) << "one header, one writer's records";
}

// A log deleted while logging, or moved away, is noticed without any packet
// arriving and started again under its name with a header, said once; one
// moved away keeps what was written to it.
TEST_F(LogWriter, aLogDeletedOrMovedWhileLoggingIsStartedAgainWithAHeaderAndSaidOnce)
{
    device.edit([](DeviceRecord::Data& d) { std::strcpy(d.serialNumber, "SN000777"); });
    for (const bool moveAway : {false, true}) {
        SCOPED_TRACE(moveAway ? "moved away" : "deleted");
        const std::string name = path(moveAway ? "moved.KLF" : "deleted.KLF");
        const std::string moved = path("moved-away.KLF");
        Notices notices;
        TLog_Router w(name, device, {}, true);
        w.setNoticeHandler(notices.handler());
        w.start();
        post(w, makeSequenced(7, 0, 40));
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.writtenCount() == 1; }, 20000));
        ASSERT_EQ(moveAway ? ::rename(name.c_str(), moved.c_str()) : ::unlink(name.c_str()), 0);
        // The limit is only a safety net.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.all().empty(); }, 20000));
        ASSERT_EQ(notices.all().size(), 1u);
        EXPECT_EQ(notices.all()[0], "Log File Deleted, Started Again!!! " + name);
        for (uint32_t i = 1; i < 4; ++i)
            post(w, makeSequenced(7, i, 40));
        w.stopAndWait();
        EXPECT_FALSE(w.failed());
        EXPECT_EQ(sequencesIn(name), range(1, 4));
        const auto data = readFile(name);
        EXPECT_EQ(KlfRecordList(data).serialNumber(), "SN000777");
        EXPECT_EQ(notices.all().size(), 1u);
        if (moveAway) {
            EXPECT_EQ(sequencesIn(moved), range(0, 1));
        }
    }
}

TEST_F(LogWriter, droppedPacketsAreToldOnceWithTheirCount)
{
    const std::string name = path("drops.KLF");
    Notices notices;
    TLog_Router w(name, device, {}, true);
    w.setNoticeHandler(notices.handler());
    const auto big = makeSequenced(2, 0, 2049);
    while (w.droppedCount() == 0)
        post(w, big);
    post(w, big);
    post(w, big);
    w.start();
    w.stopAndWait();
    ASSERT_EQ(notices.all().size(), 1u);
    EXPECT_EQ(notices.all()[0], "Log Queue Full, 3 Packets Not Logged!!! " + name);
}

namespace {

// A tmpfs of `size` mounted at dir in a mount namespace of this thread's own
// (threads started from it share it), so nothing outside the test sees it.
// Empty with the reason when the machine does not allow one.
std::string mountPrivateTmpfs(const std::string& dir, const char* size)
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);
    const std::string options = std::string("size=") + size + ",mode=0700";
    if (::mount("tavrix-test", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
        return std::string("mounting tmpfs: ") + std::strerror(errno);
    return {};
}

} // namespace

// The disk fills while logging, is freed, and logging starts again on the
// same name: the file must read whole to its end with the new packets in it.
TEST_F(LogWriter, aFullDiskThenLoggingAgainLeavesAWholeFile)
{
    const std::string disk = path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
    if (const std::string why = mountPrivateTmpfs(disk, "48k"); !why.empty())
        GTEST_SKIP() << "needs a small tmpfs in a mount namespace of its own, not available here: " << why;

    const std::string ballast = disk + "/ballast";
    writeFile(ballast, std::vector<uint8_t>(16384, 0xEE));
    const std::string name = disk + "/full.KLF";
    {
        std::vector<std::string> errors;
        TLog_Router w(name, device, [&](const std::string& text) { errors.push_back(text); });
        // 156-byte records do not divide a page: the last write is cut part-way.
        for (uint32_t i = 0; i < 400; ++i)
            post(w, makeSequenced(0, i, 156));
        ASSERT_TRUE(w.wait(20000));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("Could Not Write Log File!!! ", 0), 0u) << errors[0];
        EXPECT_GT(w.writtenCount(), 100u);
    }
    const std::vector<uint32_t> before = sequencesIn(name);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before, range(0, uint32_t(before.size())));

    ASSERT_EQ(::unlink(ballast.c_str()), 0);
    {
        TLog_Router w(name, device);
        for (uint32_t i = 1000; i < 1050; ++i)
            post(w, makeSequenced(7, i, 40));
        w.stopAndWait();
        EXPECT_FALSE(w.failed());
    }
    std::vector<uint32_t> expected = before;
    const auto more = range(1000, 1050);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(sequencesIn(name), expected);
    ::umount2(disk.c_str(), MNT_DETACH);
}
