#include "log/KlfHeader.h"
#include "log/KlfPullReader.h"
#include "log/KlfRecordList.h"
#include "log/LogTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::vector<uint8_t> logOf(int records, bool withHeader = true)
{
    KlfHeader h;
    h.serialNumber = "SN42";
    h.receiverActive = {true, false};
    h.settingsBlocks[0].fill(0x11);
    h.channelInfo = makeRecord(6, std::vector<uint8_t>(80, 3));
    std::vector<uint8_t> b = withHeader ? h.bytes() : std::vector<uint8_t>();
    for (int i = 0; i < records; ++i) {
        // Sizes that do not divide the buffer, so records straddle its refills.
        auto r = makeSequenced(uint8_t(i % 10), uint32_t(i), 17 + size_t(i % 7) * 291);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

struct Pulled
{
    KlfPullReader::Status status;
    std::string error;
    uint64_t errorOffset;
    uint64_t offset;
    bool headerRead;
    bool hasHeader;
    std::string serial;
    std::vector<uint8_t> channelInfo;
    std::vector<size_t> offsets;
    std::vector<uint32_t> sequences;
};

Pulled pull(std::vector<uint8_t> bytes)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    KlfPullReader in(f);
    Pulled p{};
    p.headerRead = in.readHeader();
    KlfPullReader::Record r;
    while (in.next(r)) {
        p.offsets.push_back(r.offset);
        EXPECT_EQ(r.bytes.size(), size_t(r.length) + 2);
        p.sequences.push_back(r.length >= 6 ? sequenceOf(r.payload().data()) : 0);
    }
    p.status = in.status();
    p.error = in.error();
    p.errorOffset = in.errorOffset();
    p.offset = in.offset();
    p.hasHeader = in.hasHeader();
    p.serial = in.serialNumber();
    p.channelInfo = in.channelInfo();
    std::fclose(f);
    return p;
}

} // namespace

// The drive model and the replay pull what klf-inspect and the writer are
// pushed: the same records, verdict and offsets, whatever falls on a refill.
TEST(KlfPullReader, pullsTheSameWalkAsThePushFace)
{
    const auto big = logOf(3000); // over two buffers
    ASSERT_GT(big.size(), 2 * KlfPullReader::kBufferSize);
    struct Case
    {
        const char* legend;
        std::vector<uint8_t> data;
    };
    std::vector<Case> cases{{"whole", big}, {"no records", logOf(0)}, {"headerless", logOf(50, false)}};
    {
        auto d = big;
        d.resize(d.size() - 7);
        cases.push_back({"last record cut short", d});
    }
    {
        auto d = big;
        d[KlfPullReader::kBufferSize + 3] ^= 0x20;
        cases.push_back({"bad checksum past the first buffer", d});
    }
    {
        auto d = logOf(20);
        d[63 + 84 + 17 + 1] = 0x09; // the second packet's length beyond 2047
        cases.push_back({"bad length", d});
    }
    {
        auto d = logOf(3);
        d[30] ^= 1;
        cases.push_back({"bad serial record", d});
    }
    {
        auto d = logOf(3);
        d.resize(50);
        cases.push_back({"header cut short", d});
    }
    {
        auto d = logOf(3);
        d.resize(63 + 40);
        cases.push_back({"channel information cut short", d});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const KlfRecordList pushed(c.data);
        const Pulled pulled = pull(c.data);
        EXPECT_EQ(int(pulled.status), int(pushed.status()));
        EXPECT_EQ(pulled.error, pushed.error());
        EXPECT_EQ(pulled.errorOffset, pushed.errorOffset());
        EXPECT_EQ(pulled.offset, pushed.endOfRecords());
        EXPECT_EQ(pulled.hasHeader, pushed.hasHeader());
        EXPECT_EQ(pulled.serial, pushed.serialNumber());
        EXPECT_EQ(pulled.channelInfo.empty(), !pushed.channelInfo());
        ASSERT_EQ(pulled.offsets.size(), pushed.records().size());
        for (size_t i = 0; i < pulled.offsets.size(); ++i) {
            ASSERT_EQ(pulled.offsets[i], pushed.records()[i].offset) << i;
            ASSERT_EQ(pulled.sequences[i], sequenceOf(pushed.payload(pushed.records()[i]).data())) << i;
        }
    }
}

TEST(KlfPullReader, readsTheHeaderAheadAndHoldsBackTheFirstPacket)
{
    auto withInfo = logOf(2);
    Pulled p = pull(withInfo);
    EXPECT_TRUE(p.headerRead);
    EXPECT_EQ(p.channelInfo, std::vector<uint8_t>(withInfo.begin() + 63, withInfo.begin() + 63 + 84));
    EXPECT_EQ(p.sequences, (std::vector<uint32_t>{0, 1}));

    // Without channel information the first packet after the header is a packet.
    KlfHeader h;
    auto plain = h.bytes();
    for (uint32_t i = 0; i < 2; ++i) {
        auto r = makeSequenced(7, i, 20);
        plain.insert(plain.end(), r.begin(), r.end());
    }
    p = pull(plain);
    EXPECT_EQ(p.status, KlfPullReader::Status::Ok) << p.error;
    EXPECT_TRUE(p.channelInfo.empty());
    EXPECT_EQ(p.sequences, (std::vector<uint32_t>{0, 1}));

    // A file broken before its first packet cannot be read on.
    auto cut = logOf(2);
    cut.resize(63 + 10);
    EXPECT_FALSE(pull(cut).headerRead);

    // An empty file has always been an empty drive here, unlike klf-inspect's verdict.
    p = pull({});
    EXPECT_TRUE(p.headerRead);
    EXPECT_EQ(p.status, KlfPullReader::Status::Ok);
    EXPECT_TRUE(p.offsets.empty());
}
