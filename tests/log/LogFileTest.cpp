#include "log/KlfHeader.h"
#include "log/KlfRecordList.h"
#include "log/LogFile.h"
#include "log/LogTestUtil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Records as the writer's queue holds them: each behind its 16-bit count.
std::vector<uint8_t> queued(std::initializer_list<std::vector<uint8_t>> records)
{
    std::vector<uint8_t> out;
    for (const auto& r : records) {
        out.push_back(uint8_t(r.size() & 0xFF));
        out.push_back(uint8_t(r.size() >> 8));
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

} // namespace

// What a continued file looks like decides whether it gets a header and how
// much of it is kept.
TEST(LogFile, continuesWhatIsWholeAndStartsWhatIsNot)
{
    QTemporaryDir dir;
    const std::string name = (dir.path() + "/log.KLF").toStdString();
    const auto header = KlfHeader().bytes();
    const auto a = makeSequenced(7, 1, 40);
    const auto b = makeSequenced(7, 2, 40);
    struct Case
    {
        const char* legend;
        std::optional<std::vector<uint8_t>> before; // none: no file yet
        bool needsHeader;
        bool cutBack;
        size_t keptBytes;
    };
    const Case cases[] = {
        {"no file", std::nullopt, true, false, 0},
        {"a whole log", concat({header, a, b}), false, false, 63 + 80},
        {"a record cut short", concat({header, a, std::vector<uint8_t>(b.begin(), b.begin() + 30)}), false, true,
         63 + 40},
        {"a header cut short", std::vector<uint8_t>(header.begin(), header.begin() + 40), true, true, 0},
        {"not a log", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, false, false, 5},
        {"headerless records", concat({a, std::vector<uint8_t>(b.begin(), b.begin() + 30)}), false, false, 70},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ::unlink(name.c_str());
        if (c.before)
            writeFile(name, *c.before);
        LogFile f(name, 20);
        ASSERT_TRUE(f.open());
        EXPECT_EQ(f.needsHeader(), c.needsHeader);
        EXPECT_EQ(f.wasCutBack(), c.cutBack);
        EXPECT_EQ(readFile(name).size(), c.keptBytes);
        EXPECT_TRUE(f.close());
    }
}

TEST(LogFile, aBatchGoesOutWithoutItsCountsAndIsCounted)
{
    QTemporaryDir dir;
    const std::string name = (dir.path() + "/log.KLF").toStdString();
    LogFile f(name, 20);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.appendHeader(KlfHeader().bytes()));
    EXPECT_FALSE(f.needsHeader());
    const auto a = makeSequenced(7, 1, 17);
    const auto b = makeSequenced(2, 2, 300);
    auto batch = queued({a, b});
    bool failed = true;
    EXPECT_EQ(f.appendBatch(batch, failed), 2u);
    EXPECT_FALSE(failed);
    ASSERT_TRUE(f.close());

    const auto data = readFile(name);
    EXPECT_EQ(data, concat({KlfHeader().bytes(), a, b}));
    EXPECT_EQ(KlfRecordList(data).status(), KlfRecordList::Status::Ok);
}

// The writer starts a file again when it is deleted or its name leads to
// another file; a file only renamed is seen when the name is looked at.
TEST(LogFile, seesItsFileDeletedOrReplaced)
{
    QTemporaryDir dir;
    const std::string name = (dir.path() + "/log.KLF").toStdString();
    const std::string other = (dir.path() + "/other.KLF").toStdString();

    LogFile deleted(name, 1000);
    ASSERT_TRUE(deleted.open());
    EXPECT_TRUE(deleted.stillThere());
    ASSERT_EQ(::unlink(name.c_str()), 0);
    EXPECT_FALSE(deleted.stillThere()) << "without waiting for a look at the name";

    LogFile renamed(name, 1000);
    ASSERT_TRUE(renamed.open());
    ASSERT_EQ(std::rename(name.c_str(), other.c_str()), 0);
    writeFile(name, {});
    EXPECT_TRUE(renamed.stillThere()) << "the name is looked at only now and then";
    renamed.checkNameNext();
    EXPECT_FALSE(renamed.stillThere());
    ASSERT_TRUE(renamed.open());
    EXPECT_TRUE(renamed.stillThere());

    // A second writer on a locked file is told why.
    LogFile second(name, 1000);
    EXPECT_FALSE(second.open());
    EXPECT_TRUE(second.inUse());
}
