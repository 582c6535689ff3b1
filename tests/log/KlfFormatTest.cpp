#include "log/KlfHeader.h"
#include "log/KlfRecordList.h"
#include "log/KlfStream.h"
#include "log/LogFileName.h"
#include "log/LogTestUtil.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> emptyHeader()
{
    std::vector<uint8_t> h(6, 0);
    h.insert(h.end(), {0x0F, 0x00, 0x80});
    for (char c : std::string("ZKTTAVRIX0401"))
        h.push_back(uint8_t(c));
    h.push_back(0xC0);
    h.insert(h.end(), {0x0B, 0x00, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x81});
    h.insert(h.end(), {0x19, 0x00, 0x01});
    h.resize(63, 0);
    return h;
}

} // namespace

TEST(KlfHeader, nothingReceivedGivesThe63ByteHeader)
{
    EXPECT_EQ(KlfHeader().bytes(), emptyHeader());
}

TEST(KlfHeader, serialNumberIsCutToEightAndChecksummed)
{
    KlfHeader h;
    h.serialNumber = "AB123456789";
    const auto b = h.bytes();
    EXPECT_EQ(std::string(b.begin() + 26, b.begin() + 34), "AB123456");
    uint8_t sum = 0;
    for (int i = 25; i <= 35; ++i)
        sum ^= b[i];
    EXPECT_EQ(sum, 0);

    h.serialNumber = "X1";
    const auto s = h.bytes();
    EXPECT_EQ(s[26], 'X');
    EXPECT_EQ(s[27], '1');
    for (int i = 28; i <= 34; ++i)
        EXPECT_EQ(s[i], 0) << i;
    EXPECT_EQ(s[35], uint8_t(0x81 ^ 'X' ^ '1'));
}

TEST(KlfHeader, activeReceiversCopyTheirBlocksAndR2LosesItsLastByte)
{
    KlfHeader h;
    for (int i = 0; i < 12; ++i) {
        h.settingsBlocks[0][i] = uint8_t(0x10 + i);
        h.settingsBlocks[1][i] = uint8_t(0xA0 + i);
    }
    h.receiverActive = {true, true};
    auto b = h.bytes();
    ASSERT_EQ(b.size(), 63u);
    EXPECT_EQ(b[36], 0x19);
    EXPECT_EQ(b[38], 0x01);
    EXPECT_EQ(b[39], 0x03);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(b[40 + i], 0x10 + i);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(b[52 + i], 0xA0 + i);

    h.receiverActive = {false, true};
    b = h.bytes();
    EXPECT_EQ(b[39], 0x02);
    for (int i = 40; i < 52; ++i)
        EXPECT_EQ(b[i], 0) << "inactive R1's block must be zero at " << i;
    EXPECT_EQ(b[52], 0xA0);
}

TEST(KlfHeader, channelInformationFollowsAtOffset63)
{
    KlfHeader h;
    h.channelInfo = makeRecord(6, std::vector<uint8_t>(98, 7));
    const auto b = h.bytes();
    ASSERT_EQ(b.size(), 165u);
    EXPECT_EQ(b[63], 0x64);
    EXPECT_EQ(b[64], 0x00);
    EXPECT_EQ(b[65], 6);
}

TEST(LogFileName, extensionIsCutOnlyFromTheLastComponent)
{
    const struct { const char* text; const char* name; } cases[] = {
        {"/logs/run1.old", "/logs/run1.KLF"},
        {"/data.set/run", "/data.set/run.KLF"},
        {"/data.set/run.KLF", "/data.set/run.KLF"},
        {"Tavrix", "Tavrix.KLF"},
        {"", ".KLF"},
        {"a.b.c", "a.b.KLF"},
        {"./run", "./run.KLF"},
        {"logs/", "logs/.KLF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogFileName::fromText(c.text), c.name) << c.text;
}

TEST(LogFileName, namesThatWouldMakeHiddenOrOverlongFilesAreRefused)
{
    const std::string longest(251, 'x'); // 251 + ".KLF" = 255 bytes
    const struct { std::string text; const char* problem; } cases[] = {
        {"", LogFileName::kNoName},
        {"..", LogFileName::kNoName},
        {".", LogFileName::kNoName},
        {"...", LogFileName::kNoName},
        {"logs/", LogFileName::kNoName},
        {"logs/.hidden", LogFileName::kNoName},
        {std::string(300, 'x'), LogFileName::kTooLong},
        {longest + "y", LogFileName::kTooLong},
        {std::string(256, 'd') + "/run", LogFileName::kTooLong},
        {std::string(600, 'x') + ".dat", LogFileName::kTooLong},
        {longest, ""},
        {longest + ".averyveryverylongextension", ""},
        {std::string(255, 'd') + "/run", ""},
        {"Tavrix", ""},
        {"run.", ""},
        {"/logs/run1.old", ""},
        {"..run", LogFileName::kNoName}, // cut at the last '.': "..KLF"
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogFileName::problem(c.text), c.problem) << c.text.substr(0, 40) << " (" << c.text.size() << ")";
}

TEST(LogFileName, overlongTextKeepsTheExtensionWithin511)
{
    const std::string name = LogFileName::fromText(std::string(600, 'x') + ".dat");
    EXPECT_EQ(name.size(), 511u);
    EXPECT_EQ(name.substr(507), ".KLF");
    EXPECT_EQ(LogFileName::fromText(std::string(507, 'y')).size(), 511u);

    // A cut through a two-byte character drops the whole character.
    const std::string wide = std::string(506, 'z') + "\xC3\xA9" + "tail";
    const std::string cut = LogFileName::fromText(wide);
    EXPECT_EQ(cut, std::string(506, 'z') + ".KLF");
}

namespace {

std::vector<uint8_t> sampleLog(int records)
{
    KlfHeader h;
    h.serialNumber = "SN42";
    h.channelInfo = makeRecord(5, {1, 2, 3, 4, 5, 6, 7, 8});
    auto b = h.bytes();
    for (int i = 0; i < records; ++i) {
        auto r = makeSequenced(uint8_t(i % 10), uint32_t(i), 17 + size_t(i % 5) * 30);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

} // namespace

TEST(KlfStream, walksHeaderChannelInformationAndRecords)
{
    const auto data = sampleLog(20);
    KlfRecordList r(data);
    EXPECT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    EXPECT_TRUE(r.hasHeader());
    EXPECT_EQ(r.serialNumber(), "SN42");
    ASSERT_TRUE(r.channelInfo());
    EXPECT_EQ(r.channelInfo()->offset, 63u);
    ASSERT_EQ(r.records().size(), 20u);
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(sequenceOf(r.payload(r.records()[i]).data()), i);
    EXPECT_EQ(r.endOfRecords(), data.size());
}

TEST(KlfStream, reportsWhereAFileGoesWrong)
{
    const auto good = sampleLog(10);
    const size_t third = KlfRecordList(good).records()[2].offset;

    struct Case
    {
        const char* legend;
        std::vector<uint8_t> data;
        KlfRecordList::Status status;
        size_t offset;
        size_t records;
    };
    std::vector<Case> cases;
    {
        auto d = good;
        d[third + 5] ^= 0x40;
        cases.push_back({"bad checksum in the middle", d, KlfRecordList::Status::Malformed, third, 10});
    }
    {
        auto d = good;
        d.resize(d.size() - 3);
        cases.push_back({"last record cut short", d, KlfRecordList::Status::Truncated,
                         KlfRecordList(good).records()[9].offset, 9});
    }
    {
        auto d = good;
        d.push_back(0x05);
        cases.push_back({"one stray byte of a length", d, KlfRecordList::Status::Truncated, good.size(), 10});
    }
    {
        auto d = good;
        d[third] = 0;
        d[third + 1] = 0;
        cases.push_back({"zero length", d, KlfRecordList::Status::Malformed, third, 2});
    }
    {
        auto d = good;
        d[third + 1] = 0x08; // L >= 2048
        cases.push_back({"length beyond the framer's limit", d, KlfRecordList::Status::Malformed, third, 2});
    }
    {
        auto d = good;
        d[30] ^= 1;
        cases.push_back({"serial record checksum", d, KlfRecordList::Status::Malformed, 23, 0});
    }
    {
        auto d = good;
        d.resize(40);
        cases.push_back({"header cut short", d, KlfRecordList::Status::Truncated, 40, 0});
    }
    {
        std::vector<uint8_t> d(good.begin(), good.begin() + 12);
        cases.push_back({"identification cut short", d, KlfRecordList::Status::Truncated, 0, 0});
    }
    for (const auto& c : cases) {
        KlfRecordList r(c.data);
        EXPECT_EQ(r.status(), c.status) << c.legend;
        EXPECT_EQ(r.errorOffset(), c.offset) << c.legend << ": " << r.error();
        EXPECT_EQ(r.records().size(), c.records) << c.legend;
    }
}

TEST(KlfStream, recognisesFilesWithoutHeader)
{
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i < 5; ++i) {
        auto r = makeSequenced(7, i, 17);
        data.insert(data.end(), r.begin(), r.end());
    }
    KlfRecordList r(data);
    EXPECT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    EXPECT_FALSE(r.hasHeader());
    EXPECT_EQ(r.records().size(), 5u);

    KlfRecordList forced(data, KlfRecordList::HeaderMode::Present);
    EXPECT_EQ(forced.status(), KlfRecordList::Status::Malformed);

    // A log always starts with its header: an empty file is not a log.
    EXPECT_EQ(KlfRecordList({}).status(), KlfRecordList::Status::Malformed);
    EXPECT_EQ(KlfRecordList({}, KlfRecordList::HeaderMode::Absent).status(), KlfRecordList::Status::Ok);
}

// What the inspector and the log writer rely on: the same verdict and the same
// records however the file is cut into reads.
TEST(KlfStream, givesTheSameWalkInAnyChunking)
{
    auto good = sampleLog(30);
    auto cut = good;
    cut.resize(cut.size() - 5);
    auto bad = good;
    bad[200] ^= 0x11;
    std::vector<uint8_t> headerless(good.begin() + 75, good.end());
    for (const auto* data : {&good, &cut, &bad, &headerless}) {
        const KlfRecordList whole(*data);
        for (size_t chunk : {size_t(1), size_t(2), size_t(7), size_t(64), size_t(4096)}) {
            std::vector<size_t> offsets;
            KlfStream walk(KlfStream::HeaderMode::Detect,
                           [&](const KlfStream::Record& r, std::span<const uint8_t> bytes, bool isChannelInfo) {
                               if (!isChannelInfo)
                                   offsets.push_back(r.offset);
                               EXPECT_EQ(bytes.size(), size_t(r.length) + 2);
                           });
            for (size_t at = 0; at < data->size(); at += chunk)
                walk.feed(std::span(*data).subspan(at, std::min(chunk, data->size() - at)));
            walk.finish();
            EXPECT_EQ(int(walk.status()), int(whole.status())) << "chunk " << chunk;
            EXPECT_EQ(walk.errorOffset(), whole.errorOffset());
            EXPECT_EQ(walk.endOfRecords(), whole.endOfRecords());
            EXPECT_EQ(walk.hasHeader(), whole.hasHeader());
            ASSERT_EQ(offsets.size(), whole.records().size()) << "chunk " << chunk;
            for (size_t i = 0; i < offsets.size(); ++i)
                EXPECT_EQ(offsets[i], whole.records()[i].offset);
        }
    }
    // The writer cuts a file back to endOfRecords: a cut header leaves nothing.
    std::vector<uint8_t> header(good.begin(), good.begin() + 40);
    KlfStream walk;
    walk.feed(header);
    walk.finish();
    EXPECT_EQ(walk.status(), KlfStream::Status::Truncated);
    EXPECT_EQ(walk.endOfRecords(), 0u);
}
