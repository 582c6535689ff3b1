// The growing-log reader against files written piece by piece, and against
// the logger's own writer.
#include "log/KlfFollower.h"
#include "log/KlfHeader.h"
#include "log/KlfPullReader.h"
#include "log/KlfRecordList.h"
#include "log/LogTestUtil.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using Change = KlfFollower::Change;

struct Taken
{
    uint64_t offset;
    std::vector<uint8_t> bytes;
    bool operator==(const Taken&) const = default;
};

std::vector<Taken> drain(KlfFollower& f)
{
    std::vector<Taken> out;
    KlfFollower::Record r;
    while (f.next(r))
        out.push_back({r.offset, {r.bytes.begin(), r.bytes.end()}});
    return out;
}

void append(std::vector<Taken>& to, const std::vector<Taken>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<Taken> wholeRead(const std::vector<uint8_t>& bytes)
{
    KlfRecordList list(bytes);
    std::vector<Taken> out;
    for (const auto& r : list.records()) {
        const auto b = list.recordBytes(r);
        out.push_back({r.offset, {b.begin(), b.end()}});
    }
    return out;
}

void appendFile(const std::string& path, const uint8_t* bytes, size_t count)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes, count), ssize_t(count));
    ::close(fd);
}

KlfHeader header(bool withChannelInfo)
{
    KlfHeader h;
    h.serialNumber = "AB123456";
    h.receiverActive = {true, true};
    h.settingsBlocks[0].fill(0x11);
    if (withChannelInfo)
        h.channelInfo = makeRecord(6, std::vector<uint8_t>(80, 0x22));
    return h;
}

// Records of every size class: short, long, one with a bad checksum.
std::vector<uint8_t> records(uint32_t from = 0)
{
    std::vector<uint8_t> out;
    const size_t sizes[] = {4, 156, 20, 1000, 5, 44};
    for (uint32_t i = 0; i < 6; ++i) {
        auto r = makeSequenced(uint8_t(i), from + i, sizes[i]);
        if (i == 4)
            r.back() ^= 0xFF;
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

struct Shape
{
    const char* name;
    bool header;
    bool channelInfo;
};
const Shape kShapes[] = {
    {"header and channel information", true, true},
    {"header alone", true, false},
    {"no header", false, false},
};

std::vector<uint8_t> logOf(const Shape& shape)
{
    std::vector<uint8_t> log;
    if (shape.header)
        log = header(shape.channelInfo).bytes();
    const auto r = records();
    log.insert(log.end(), r.begin(), r.end());
    return log;
}

bool waitFor(KlfFollower& f, const std::function<bool()>& done)
{
    // The limit is only a safety net; the follower wakes on every write.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        f.wait(1000);
        f.poll();
    }
    return true;
}

class Follower : public ::testing::Test
{
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    QTemporaryDir dir;
};

} // namespace

// A look at any moment takes the records that are whole and no byte more;
// the rest comes whole at the next look, as a read of the whole file has it.
TEST_F(Follower, aLogCutAtAnyByteGivesEveryWholeRecordOnceAndTheRestLater)
{
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        const auto log = logOf(shape);
        const auto whole = wholeRead(log);
        const std::string name = path("cut.KLF");
        // One follower taken back to the start, and the file cut rather than
        // written anew, each time: closing an inotify descriptor and emptying
        // a file both wait for the kernel, and the cuts are many.
        writeFile(name, log);
        KlfFollower f(name);
        for (size_t cut = 0; cut <= log.size(); ++cut) {
            SCOPED_TRACE(cut);
            ASSERT_EQ(::truncate(name.c_str(), off_t(cut)), 0);
            ASSERT_TRUE(f.reopen());
            auto taken = drain(f);
            ASSERT_LE(taken.size(), whole.size());
            ASSERT_TRUE(std::equal(taken.begin(), taken.end(), whole.begin()));
            // Nothing that is whole is left behind.
            const size_t wholeBefore = size_t(std::count_if(whole.begin(), whole.end(), [&](const Taken& t) {
                return t.offset + t.bytes.size() <= cut;
            }));
            const bool channelInfoWhole = shape.channelInfo && cut >= KlfHeader::kFixedSize + 84;
            ASSERT_EQ(taken.size(), wholeBefore);
            // The fifth record has a bad checksum.
            EXPECT_EQ(f.status(), taken.size() < 5 ? KlfFollower::Status::Ok : KlfFollower::Status::Malformed);
            EXPECT_LE(f.offset(), cut);
            if (!taken.empty()) {
                EXPECT_EQ(f.offset(), taken.back().offset + taken.back().bytes.size());
            }
            EXPECT_EQ(f.headerKnown(), !taken.empty() || channelInfoWhole);

            appendFile(name, log.data() + cut, log.size() - cut);
            EXPECT_EQ(f.poll(), cut < log.size() ? Change::Grew : Change::None);
            append(taken, drain(f));
            f.finish();
            append(taken, drain(f));
            EXPECT_EQ(taken, whole);
            EXPECT_EQ(f.status(), KlfFollower::Status::Malformed); // the bad checksum
            EXPECT_EQ(f.checksumErrors(), 1u);
            EXPECT_EQ(f.offset(), log.size());
            EXPECT_EQ(f.hasHeader(), shape.header);
            EXPECT_EQ(f.serialNumber(), shape.header ? "AB123456" : "");
            EXPECT_EQ(f.channelInfo(), shape.channelInfo ? header(true).channelInfo : std::vector<uint8_t>{});
        }
    }
}

TEST_F(Follower, aLogWrittenOneByteAtATimeIsTakenWholeRecordByWholeRecord)
{
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        const auto log = logOf(shape);
        const std::string name = path("bytes.KLF");
        writeFile(name, {});
        KlfFollower f(name);
        ASSERT_TRUE(f.reopen());
        std::vector<Taken> taken;
        for (size_t i = 0; i < log.size(); ++i) {
            appendFile(name, &log[i], 1);
            ASSERT_TRUE(f.wait(0)) << "a write makes the descriptor readable";
            ASSERT_EQ(f.poll(), Change::Grew);
            ASSERT_FALSE(f.wait(0)) << "poll() empties it";
            append(taken, drain(f));
        }
        EXPECT_EQ(taken, wholeRead(log));
    }
}

// A log that ends in a record cut short is only said to be cut once the
// writer is done, with the words a whole read uses.
TEST_F(Follower, aRecordCutShortIsTruncationOnlyOnceFinished)
{
    auto log = logOf(kShapes[1]);
    log.resize(log.size() - 10);
    const std::string name = path("short.KLF");
    writeFile(name, log);
    KlfFollower f(name);
    ASSERT_TRUE(f.reopen());
    const auto taken = drain(f);
    EXPECT_EQ(f.status(), KlfFollower::Status::Malformed) << "only the bad checksum so far";
    f.finish();
    EXPECT_TRUE(drain(f).empty());

    std::FILE* file = std::fopen(name.c_str(), "rb");
    KlfPullReader whole(file);
    KlfPullReader::Record r;
    size_t count = 0;
    while (whole.next(r))
        ++count;
    std::fclose(file);
    EXPECT_EQ(taken.size(), count);
    EXPECT_EQ(f.status(), whole.status());
    EXPECT_EQ(f.error(), whole.error());
    EXPECT_EQ(f.errorOffset(), whole.errorOffset());
    EXPECT_EQ(f.offset(), whole.offset());
}

// What the logger's rules do to a file, each as the follower says it.
TEST_F(Follower, saysWhenTheLogGrowsIsCutBackDeletedOrReplaced)
{
    const auto head = header(true).bytes();
    const auto rec = makeSequenced(7, 1, 40);
    const auto other = makeSequenced(7, 2, 60);
    struct Case
    {
        const char* legend;
        // On a log of a header, one whole record and half of another.
        std::function<void(const std::string& name, const std::string& aside)> act;
        Change expected;
        bool nextTakesOther; // the record written by act is handed out
    };
    const auto whole = uint64_t(head.size() + rec.size());
    const Case cases[] = {
        {"nothing", [](auto&, auto&) {}, Change::None, false},
        {"the half record completed",
         [&](auto& n, auto&) { appendFile(n, rec.data() + rec.size() / 2, rec.size() - rec.size() / 2); },
         Change::Grew, false},
        {"the half record cut off", [&](auto& n, auto&) { ASSERT_EQ(::truncate(n.c_str(), off_t(whole)), 0); },
         Change::CutBack, false},
        {"cut off and another record written in its place, longer",
         [&](auto& n, auto&) {
             ASSERT_EQ(::truncate(n.c_str(), off_t(whole)), 0);
             appendFile(n, other.data(), other.size());
         },
         Change::CutBack, true},
        {"deleted", [](auto& n, auto&) { ASSERT_EQ(::unlink(n.c_str()), 0); }, Change::Deleted, false},
        {"moved away", [](auto& n, auto& a) { ASSERT_EQ(::rename(n.c_str(), a.c_str()), 0); }, Change::Deleted,
         false},
        {"another file moved to the name",
         [&](auto& n, auto& a) {
             writeFile(a, head);
             ASSERT_EQ(::rename(a.c_str(), n.c_str()), 0);
         },
         Change::Replaced, false},
        {"deleted and started again",
         [&](auto& n, auto&) {
             ASSERT_EQ(::unlink(n.c_str()), 0);
             writeFile(n, head);
         },
         Change::Replaced, false},
        {"cut below what was taken", [&](auto& n, auto&) { ASSERT_EQ(::truncate(n.c_str(), 30), 0); },
         Change::Replaced, false},
        {"emptied and written again",
         [&](auto& n, auto&) {
             writeFile(n, header(false).bytes());
             appendFile(n, rec.data(), rec.size());
         },
         Change::Replaced, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string name = path("changes.KLF");
        const std::string aside = path("aside.KLF");
        std::vector<uint8_t> log = head;
        log.insert(log.end(), rec.begin(), rec.end());
        log.insert(log.end(), rec.begin(), rec.begin() + ptrdiff_t(rec.size() / 2));
        writeFile(name, log);
        KlfFollower f(name);
        ASSERT_TRUE(f.reopen());
        ASSERT_EQ(drain(f).size(), 1u);
        ASSERT_EQ(f.poll(), Change::None);
        ASSERT_FALSE(f.wait(0));

        c.act(name, aside);
        EXPECT_EQ(f.wait(0), c.expected != Change::None) << "woken by the change";
        EXPECT_EQ(f.poll(), c.expected);
        const auto after = drain(f);
        if (c.nextTakesOther) {
            ASSERT_EQ(after.size(), 1u);
            EXPECT_EQ(after[0].bytes, other);
            EXPECT_EQ(after[0].offset, whole);
        } else if (c.expected == Change::Grew) {
            EXPECT_EQ(after.size(), 1u);
        } else {
            EXPECT_TRUE(after.empty());
        }
        // Deleted and Replaced hold until the name is followed again.
        if (c.expected == Change::Deleted || c.expected == Change::Replaced) {
            EXPECT_EQ(f.poll(), c.expected);
        }
        if (c.expected == Change::Replaced) {
            ASSERT_TRUE(f.reopen());
            EXPECT_EQ(f.poll(), Change::None);
            EXPECT_EQ(drain(f), wholeRead(readFile(name)));
        }
        ::unlink(name.c_str());
        ::unlink(aside.c_str());
    }
}

TEST_F(Follower, aLogThatDoesNotExistYetIsFollowedOnceItAppears)
{
    const std::string name = path("later.KLF");
    KlfFollower f(name);
    EXPECT_FALSE(f.reopen());
    EXPECT_NE(f.error().find("cannot open"), std::string::npos);
    EXPECT_EQ(f.poll(), Change::Deleted);
    EXPECT_FALSE(f.wait(0));
    writeFile(name, header(false).bytes());
    EXPECT_TRUE(f.wait(0)) << "the folder's watch sees it created";
    EXPECT_EQ(f.poll(), Change::Replaced);
    ASSERT_TRUE(f.reopen());
    const auto rec = makeSequenced(3, 9, 30);
    appendFile(name, rec.data(), rec.size());
    EXPECT_TRUE(f.wait(0));
    EXPECT_EQ(f.poll(), Change::Grew);
    const auto taken = drain(f);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].bytes, rec);
}

TEST_F(Follower, wakeEndsAWaitInAnotherThread)
{
    const std::string name = path("quiet.KLF");
    writeFile(name, header(false).bytes());
    KlfFollower f(name);
    ASSERT_TRUE(f.reopen());
    f.poll();
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        returned = f.wait(-1);
    });
    f.wake();
    waiter.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(f.poll(), Change::None);
    EXPECT_FALSE(f.wait(0)) << "poll() takes the wake-up";
}

// The logger writing while the follower reads: every record once, in order,
// none taken half; a log deleted under the logger is started again and
// followed anew.
TEST_F(Follower, followsTheLoggersWriterRecordForRecord)
{
    const std::string name = path("logged.KLF");
    DeviceRecord device;
    device.edit([](DeviceRecord::Data& d) { std::strcpy(d.serialNumber, "SN000123"); });
    TLog_Router w(name, device);
    KlfFollower f(name);
    ASSERT_TRUE(waitFor(f, [&] { return f.reopen(); }));

    constexpr uint32_t kRecords = 3000;
    std::vector<uint32_t> sequences;
    auto take = [&] {
        KlfFollower::Record r;
        while (f.next(r)) {
            EXPECT_TRUE(r.checksumOk);
            sequences.push_back(sequenceOf(r.payload().data()));
        }
    };
    std::thread poster([&] {
        // Sizes that cross the follower's buffer and the writer's batches anywhere.
        for (uint32_t i = 0; i < kRecords; ++i) {
            const auto rec = makeSequenced(7, i, 8 + (i * 37) % 1500);
            w.PostRecord(rec.data(), int(rec.size()));
        }
    });
    EXPECT_TRUE(waitFor(f, [&] {
        take();
        return sequences.size() >= kRecords;
    }));
    poster.join();
    ASSERT_EQ(sequences.size(), size_t(kRecords));
    for (uint32_t i = 0; i < kRecords; ++i)
        ASSERT_EQ(sequences[i], i);
    EXPECT_EQ(f.serialNumber(), "SN000123");
    EXPECT_EQ(f.status(), KlfFollower::Status::Ok) << f.error();

    ASSERT_EQ(::unlink(name.c_str()), 0);
    Change seen = Change::None;
    ASSERT_TRUE(waitFor(f, [&] {
        const Change c = f.poll();
        if (c != Change::None && c != Change::Grew)
            seen = c;
        return c == Change::Replaced;
    })) << "the logger starts the log again under its name";
    EXPECT_TRUE(seen == Change::Replaced || seen == Change::Deleted);
    ASSERT_TRUE(f.reopen());
    const auto rec = makeSequenced(7, 77, 40);
    w.PostRecord(rec.data(), int(rec.size()));
    sequences.clear();
    EXPECT_TRUE(waitFor(f, [&] {
        take();
        return !sequences.empty();
    }));
    EXPECT_EQ(sequences, std::vector<uint32_t>{77});
    w.stopAndWait();
    f.poll();
    f.finish();
    take();
    EXPECT_EQ(f.status(), KlfFollower::Status::Ok) << f.error();
    EXPECT_EQ(f.offset(), readFile(name).size());
}

// Whether the log is still being written is read from the kernel's table of
// locks, never by taking one: the logger's writer holds its flock while it
// logs and lets go when it stops; a lock on another file, or none, is not
// the writer's.
TEST_F(Follower, seesWhetherAWriterHoldsTheLogsLock)
{
    const std::string name = path("locked.KLF"), other = path("other.KLF");
    appendFile(other, records().data(), 10);
    const int otherFd = ::open(other.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(otherFd, 0);
    ASSERT_EQ(::flock(otherFd, LOCK_EX), 0);
    {
        DeviceRecord device;
        TLog_Router w(name, device);
        KlfFollower f(name);
        EXPECT_TRUE(f.writerHoldsLock()) << "nothing open: cannot tell";
        ASSERT_TRUE(waitFor(f, [&] { return f.reopen(); }));
        const auto rec = makeSequenced(7, 1, 40);
        w.PostRecord(rec.data(), int(rec.size()));
        ASSERT_TRUE(waitFor(f, [&] {
            KlfFollower::Record r;
            return f.next(r);
        }));
        EXPECT_TRUE(f.writerHoldsLock()) << "the writer is logging";
        w.stopAndWait();
        EXPECT_FALSE(f.writerHoldsLock()) << "the writer closed the log";
        // Another process's writer (a shared lock counts as well).
        const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        for (const int how : {LOCK_EX, LOCK_SH}) {
            ASSERT_EQ(::flock(fd, how), 0);
            EXPECT_TRUE(f.writerHoldsLock());
            ASSERT_EQ(::flock(fd, LOCK_UN), 0);
            EXPECT_FALSE(f.writerHoldsLock());
        }
        ::close(fd);
    }
    ::close(otherFd);
}
