// The drive model following a growing log: what it hands over, at any
// moment, is the start of what a whole read of the finished log gives.
#include "drive/DriveFollower.h"
#include "drive/DriveReader.h"
#include "drive/DriveTestLog.h"
#include "log/KlfRecordList.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

using Change = DriveFollower::Change;

// Every field, so that a sample placed a hair apart shows.
std::string describe(const RecordingSink::Event& e)
{
    char text[320];
    if (e.isFix) {
        const DriveFix& f = e.fix;
        std::snprintf(text, sizeof text, "fix %llu %lld %d %.17g %.17g %.17g %.17g %.17g %d %d %.17g %d",
                      (unsigned long long)f.record, (long long)f.timeMs, f.timeValid, f.latitude, f.longitude,
                      f.heightM, f.speedMps, f.headingDeg, f.status, f.satellites, f.dop, f.used);
    } else {
        const DriveSample& s = e.sample;
        std::snprintf(text, sizeof text, "sample %llu %.17g %.17g %.17g %lld %d %d %d %d %d %d",
                      (unsigned long long)s.record, s.frequencyMHz, s.latitude, s.longitude, (long long)s.timeMs,
                      s.channel, s.rssi, s.receiver, s.slot, int(s.mode), s.placed);
    }
    return text;
}

std::vector<std::string> describe(const std::vector<RecordingSink::Event>& events, size_t from = 0)
{
    std::vector<std::string> out;
    for (size_t i = from; i < events.size(); ++i)
        out.push_back(describe(events[i]));
    return out;
}

void expectSameSummary(const DriveSummary& a, const DriveSummary& b)
{
    EXPECT_EQ(int(a.status), int(b.status));
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.stopOffset, b.stopOffset);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.bytesRead, b.bytesRead);
    EXPECT_EQ(a.hasHeader, b.hasHeader);
    EXPECT_EQ(a.serialNumber, b.serialNumber);
    EXPECT_EQ(a.receiverFlags, b.receiverFlags);
    EXPECT_EQ(a.records, b.records);
    EXPECT_EQ(a.checksumErrors, b.checksumErrors);
    EXPECT_EQ(a.fixesUsed, b.fixesUsed);
    EXPECT_EQ(a.fixesSkipped, b.fixesSkipped);
    EXPECT_EQ(a.samplesPlaced, b.samplesPlaced);
    EXPECT_EQ(a.samplesNotPlaced, b.samplesNotPlaced);
    EXPECT_EQ(a.samplesAcrossTimeJump, b.samplesAcrossTimeJump);
    for (size_t r = 0; r < 2; ++r) {
        EXPECT_EQ(a.receivers[r].samples, b.receivers[r].samples);
        EXPECT_EQ(a.receivers[r].lowest, b.receivers[r].lowest);
        EXPECT_EQ(a.receivers[r].highest, b.receivers[r].highest);
    }
}

struct WholeRead
{
    DriveSummary summary;
    RecordingSink sink;
};

WholeRead readWhole(const std::string& path, const DriveFilter& filter = {})
{
    WholeRead out;
    DriveReader reader;
    reader.setFilter(filter);
    out.summary = reader.read(path, out.sink);
    return out;
}

// Every kind of record the drive model reads, a fix that is not used, a
// record with a bad checksum, a time jump, and samples before the first and
// after the last used fix.
DriveTestLog& drive(DriveTestLog& log)
{
    DriveTestLog ci;
    ci.scanChannelList();
    log.header(0x03, ci.bytes)
        .scan({{0, 0, -70}})
        .single(0, {-80, -82})
        .gpsAtSecond(40.0, -74.0, 43200)
        .scan({{0, 1, -80}, {1, 2, -60}})
        .table({{0, 99, -55}, {1, 10, -66}})
        .currentFrequency(DriveTestLog::kLowEdge + 5, DriveTestLog::kLowEdge + 6)
        .single(1, {-90})
        .gpsAtSecond(40.1, -73.9, 43201, 0x60) // no fix
        .single(0, {-91, -93});
    log.record(7, std::vector<uint8_t>(15, 0x01));
    log.bytes.back() ^= 0x5A; // a bad checksum
    log.gpsAtSecond(40.2, -73.8, 43202)
        .receiverSetup(0x01, DriveTestLog::block(DriveTestLog::kLowEdge, DriveTestLog::kHighEdge, 12800),
                       DriveTestLog::block(0, 0, 0))
        .scanChannelList(DriveTestLog::kLowEdge + 40)
        .scan({{0, 3, -71}, {1, 5, -75}})
        .gpsAtSecond(40.3, -73.7, 43202 + 600) // ten minutes later: not placed across
        .scan({{1, 4, -72}})
        .gpsAtSecond(40.4, -73.6, 43203 + 600)
        .table({{0, 5, -73}})
        .single(1, {-74});
    return log;
}

void appendFile(const std::string& path, const uint8_t* bytes, size_t count)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes, count), ssize_t(count));
    ::close(fd);
}

// changes: what the log underwent meanwhile, in order.
bool waitFor(DriveFollower& f, const std::function<bool()>& done, std::vector<Change>* changes = nullptr)
{
    // The limit is only a safety net; the follower wakes on every write.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        f.log().wait(1000);
        const Change c = f.update();
        if (changes && c != Change::None)
            changes->push_back(c);
    }
    return true;
}

class FollowedDrive : public ::testing::Test
{
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    QTemporaryDir dir;
};

} // namespace

// The log as it stood at any byte (between records, inside the header,
// inside any kind of record), then the rest: what was handed over at the
// cut starts what the whole read gives, and the end is the whole read.
TEST_F(FollowedDrive, aLogCutAtAnyByteAndFollowedToTheEndGivesTheWholeRead)
{
    DriveTestLog complete;
    drive(complete);
    DriveTestLog cutShort = complete;
    cutShort.bytes.resize(cutShort.bytes.size() - 3); // a writer killed mid-record
    DriveFilter receiver2;
    receiver2.receiver = 1;
    struct Case
    {
        const char* legend;
        const std::vector<uint8_t>& log;
        DriveFilter filter;
    };
    const Case cases[] = {
        {"whole log", complete.bytes, {}},
        {"log ending mid-record", cutShort.bytes, {}},
        {"receiver 2 only", complete.bytes, receiver2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string name = path("drive.KLF");
        writeFile(name, c.log);
        const WholeRead whole = readWhole(name, c.filter);
        const auto expected = describe(whole.sink.events);
        ASSERT_GE(whole.summary.samplesPlaced, 4u);
        ASSERT_GT(whole.summary.samplesAcrossTimeJump, 0u);
        ASSERT_EQ(whole.summary.checksumErrors, 1u);

        // One follower started again, and the file cut rather than written
        // anew, each time: closing an inotify descriptor and emptying a file
        // both wait for the kernel, and the cuts are many.
        RecordingSink sink;
        DriveFollower f(name, sink, c.filter);
        for (size_t cut = 0; cut <= c.log.size(); ++cut) {
            SCOPED_TRACE(cut);
            ASSERT_EQ(::truncate(name.c_str(), off_t(cut)), 0);
            sink = {};
            ASSERT_TRUE(f.open());
            f.update();
            const auto early = describe(sink.events);
            ASSERT_LE(early.size(), expected.size());
            ASSERT_TRUE(std::equal(early.begin(), early.end(), expected.begin()));
            ASSERT_LE(f.offset(), cut);

            appendFile(name, c.log.data() + cut, c.log.size() - cut);
            f.update();
            f.finish();
            ASSERT_EQ(describe(sink.events), expected);
            expectSameSummary(f.summary(), whole.summary);
        }
    }
}

// An uploader that kept only offset() resumes with exactly what it had not
// handed on: at every record's end, samples waiting for a fix included.
TEST_F(FollowedDrive, resumedWhereARecordEndsItHandsOverExactlyTheRest)
{
    DriveTestLog log;
    drive(log);
    const std::string name = path("resume.KLF");
    writeFile(name, log.bytes);
    const WholeRead whole = readWhole(name);
    const auto expected = describe(whole.sink.events);

    KlfRecordList records(log.bytes);
    std::vector<uint64_t> ends{KlfHeader::kFixedSize + records.channelInfo()->length + 2u};
    for (const auto& r : records.records())
        ends.push_back(r.offset + r.length + 2u);
    ASSERT_EQ(ends.back(), log.bytes.size());

    const std::string part = path("part.KLF");
    size_t endsWithSamplesWaiting = 0;
    for (const uint64_t end : ends) {
        SCOPED_TRACE(end);
        // What a follower handed on when the log reached that end.
        writeFile(part, {log.bytes.begin(), log.bytes.begin() + ptrdiff_t(end)});
        RecordingSink before;
        DriveFollower first(part, before);
        ASSERT_TRUE(first.open());
        first.update();
        ASSERT_EQ(first.offset(), end);
        endsWithSamplesWaiting += first.waiting() > 0;

        RecordingSink after;
        DriveFollower resumed(name, after);
        ASSERT_TRUE(resumed.open(end)) << resumed.summary().error;
        resumed.update();
        resumed.finish();
        std::vector<std::string> joined = describe(before.events);
        const auto rest = describe(after.events);
        joined.insert(joined.end(), rest.begin(), rest.end());
        EXPECT_EQ(joined, expected);
        expectSameSummary(resumed.summary(), whole.summary);
    }
    EXPECT_GT(endsWithSamplesWaiting, 3u);

    // Where no record ends, or past what the file holds: another log.
    for (const uint64_t wrong : {ends[3] + 1, ends.back() + 10}) {
        SCOPED_TRACE(wrong);
        RecordingSink sink;
        DriveFollower f(name, sink);
        EXPECT_FALSE(f.open(wrong));
        EXPECT_NE(f.summary().error.find("does not end a record"), std::string::npos);
        EXPECT_TRUE(sink.events.empty());
        f.update();
        f.finish();
        EXPECT_TRUE(sink.events.empty());
    }
}

// The logger's writer logging a drive while it is followed: in stages, the
// follower woken by each write; then a run killed mid-record and continued,
// which the logger cuts back. Followed or read whole afterwards, the same.
TEST_F(FollowedDrive, aDriveLoggedWhileFollowedEqualsTheWholeReadAfterwards)
{
    DriveTestLog log;
    drive(log);
    const KlfRecordList list(log.bytes);
    const std::string name = path("logged.KLF");

    DeviceRecord device;
    device.edit([](DeviceRecord::Data& d) {
        std::strcpy(d.serialNumber, "AB123456");
        d.receiverActive = {true, true};
        const auto b = DriveTestLog::block(DriveTestLog::kLowEdge, DriveTestLog::kHighEdge, DriveTestLog::kStep25k);
        d.receiverSettings[0].storeBlock(b.data());
        d.receiverSettings[1].storeBlock(b.data());
    });
    RecordingSink sink;
    DriveFollower f(name, sink);
    auto post = [&](TLog_Router& w, const KlfStream::Record& r) {
        const auto bytes = list.recordBytes(r);
        w.PostRecord(bytes.data(), int(bytes.size()));
    };

    const auto& rs = list.records();
    const size_t firstRun = rs.size() / 2;
    {
        TLog_Router w(name, device);
        ASSERT_TRUE(waitFor(f, [&] { return f.open(); }));
        for (size_t i = 0; i < firstRun; ++i) {
            post(w, rs[i]);
            // Each record in its own batch: the follower sees every stage.
            ASSERT_TRUE(waitFor(f, [&] { return f.summary().records == i + 1; }));
        }
        w.stopAndWait();
    }
    // A run killed in the middle of a record (not the one logged next, so
    // that only a cut back can explain the bytes that follow)...
    const auto killed = makeRecord(0x42, std::vector<uint8_t>(100, 0x42));
    appendFile(name, killed.data(), killed.size() / 2);
    ASSERT_TRUE(waitFor(f, [&] { return f.summary().bytes > f.offset(); }));
    EXPECT_EQ(f.summary().records, firstRun);

    // ...and logging continued into the same file, which cuts it back first.
    std::vector<Change> changes;
    {
        TLog_Router w(name, device);
        for (size_t i = firstRun; i < rs.size(); ++i)
            post(w, rs[i]);
        ASSERT_TRUE(waitFor(f, [&] { return f.summary().records == rs.size(); }, &changes));
        w.stopAndWait();
    }
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front(), Change::CutBack);
    EXPECT_EQ(std::count(changes.begin(), changes.end(), Change::CutBack), 1);
    EXPECT_EQ(std::count(changes.begin(), changes.end(), Change::Grew), ptrdiff_t(changes.size()) - 1);
    EXPECT_EQ(f.update(), Change::None);
    f.finish();

    const WholeRead whole = readWhole(name);
    EXPECT_EQ(describe(sink.events), describe(whole.sink.events));
    expectSameSummary(f.summary(), whole.summary);
    EXPECT_EQ(whole.summary.records, rs.size());
    EXPECT_GT(whole.summary.samplesPlaced, 4u);
}
