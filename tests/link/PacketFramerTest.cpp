#include "link/PacketFramer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Fed
{
    std::vector<Bytes> bodies; // the L body bytes of each reported packet
    uint32_t droppedHeaders = 0;
    uint32_t badChecksums = 0;
    uint32_t abandonedFrames = 0;
};

// Feeds the bytes in chunks of chunk bytes, as successive transport reads,
// byte by byte or in bulk. With quietAtEnd the line then stays quiet: the
// link thread's part, lineQuiet() while a frame is in progress.
Fed feed(const Bytes& bytes, size_t chunk, bool bulk, const FrameLengths& lengths = FrameLengths(),
         bool quietAtEnd = false)
{
    PacketFramer framer(lengths);
    Fed fed;
    auto take = [&] { fed.bodies.emplace_back(framer.body(), framer.body() + framer.length()); };
    for (size_t start = 0; start < bytes.size(); start += chunk) {
        const size_t end = std::min(bytes.size(), start + chunk);
        for (size_t i = start; i < end;) {
            if (!bulk) {
                for (bool got = framer.pushByte(bytes[i++]); got; got = framer.next())
                    take();
                continue;
            }
            bool completed = false;
            const size_t used = framer.pushBytes(&bytes[i], end - i, completed);
            EXPECT_TRUE(used > 0 || completed);
            i += used;
            if (completed)
                take();
        }
    }
    for (int guard = 0; quietAtEnd && framer.quietLimitMs() >= 0 && guard < 10000; ++guard) {
        for (bool got = framer.lineQuiet(); got; got = framer.next())
            take();
    }
    fed.droppedHeaders = framer.droppedHeaders();
    fed.badChecksums = framer.badChecksums();
    fed.abandonedFrames = framer.abandonedFrames();
    return fed;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A valid frame with an L = 2047 body: type 0x22, 2045 payload bytes (0xAA
// among them), checksum.
Bytes longestFrame()
{
    Bytes payload(2045);
    std::iota(payload.begin(), payload.end(), uint8_t(0));
    const PacketRecord r = buildFrame(0x22, payload.data(), int(payload.size()));
    return Bytes(r.bytes.begin(), r.bytes.begin() + r.length() + 3);
}

Bytes bodyOf(const Bytes& frame)
{
    return Bytes(frame.begin() + 3, frame.end());
}

struct Row
{
    const char* legend;
    Bytes input;
    std::vector<Bytes> bodies;
    uint32_t droppedHeaders;
    uint32_t badChecksums;
};

const Bytes kSerialRequest{0xAA, 0x02, 0x00, 0x1C, 0x1C};
const Bytes kType01{0xAA, 0x02, 0x00, 0x01, 0x01};
const Bytes kType30{0xAA, 0x02, 0x00, 0x30, 0x30};
// L = 10: a noise 0xAA before it reads L = 0x0AAA and is rejected.
const Bytes kTen{0xAA, 0x0A, 0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 0x02 ^ 0x08};

std::vector<Row> rows()
{
    const Bytes longest = longestFrame();
    return {
        {"empty payload", kSerialRequest, {{0x1C, 0x1C}}, 0, 0},
        {"leading garbage", Bytes{0x00, 0x55} + kType01, {{0x01, 0x01}}, 0, 0},
        {"two frames back to back", kType01 + kType30, {{0x01, 0x01}, {0x30, 0x30}}, 0, 0},
        {"L = 0 rejected, next frame found", Bytes{0xAA, 0x00, 0x00} + kType01, {{0x01, 0x01}}, 1, 0},
        {"L = 2048 rejected, next frame found", Bytes{0xAA, 0x00, 0x08} + kType01, {{0x01, 0x01}}, 1, 0},
        {"L = 0x8000 rejected, next frame found", Bytes{0xAA, 0x00, 0x80} + kType01, {{0x01, 0x01}}, 1, 0},
        {"L = 0xFFFF rejected", Bytes{0xAA, 0xFF, 0xFF} + kType30, {{0x30, 0x30}}, 1, 0},
        {"high length byte of a rejected header is the real sync", Bytes{0xAA, 0x00, 0xAA, 0x02, 0x00, 0x01, 0x01},
         {{0x01, 0x01}}, 1, 0},
        {"low length byte of a rejected header is the real sync", Bytes{0xAA} + kTen, {bodyOf(kTen)}, 1, 0},
        {"L = 2047 accepted", longest, {bodyOf(longest)}, 0, 0},
        // The eight 0xAA in the payload are each followed by AB AC: rejected headers.
        {"L = 2047 with a bad checksum dropped", Bytes(longest.begin(), longest.end() - 1) + Bytes{0x00} + kType01,
         {{0x01, 0x01}}, 8, 1},
        {"bad checksum dropped, next frame found", Bytes{0xAA, 0x02, 0x00, 0x1C, 0x1D} + kSerialRequest,
         {{0x1C, 0x1C}}, 0, 1},
        {"0xAA inside a payload is data", Bytes{0xAA, 0x04, 0x00, 0x05, 0xAA, 0x02, 0xAD},
         {{0x05, 0xAA, 0x02, 0xAD}}, 0, 0},
        {"L = 1, single zero byte", Bytes{0xAA, 0x01, 0x00, 0x00}, {{0x00}}, 0, 0},
        {"0xAA as the high length byte makes L negative, then syncs", Bytes{0xAA, 0x05, 0xAA, 0x02, 0x00, 0x1C, 0x1C},
         {{0x1C, 0x1C}}, 1, 0},
        {"frames swallowed by a bad body are found",
         Bytes{0xAA, 0x06, 0x00, 0x01} + kType30 + kType01, {{0x30, 0x30}, {0x01, 0x01}}, 0, 1},
        {"bad body inside a bad body", Bytes{0xAA, 0x0A, 0x00, 0x01, 0xAA, 0x03, 0x00, 0x07} + kType30 + kType01,
         {{0x30, 0x30}, {0x01, 0x01}}, 0, 2},
        {"0xAA as the low length byte", Bytes{0xAA, 0xAA, 0x00} + Bytes(0xAA, 0x00), {Bytes(0xAA, 0x00)}, 0, 0},
        {"truncated frame completed by the next one fails, the next is found",
         Bytes{0xAA, 0x03, 0x00, 0x01} + kType30, {{0x30, 0x30}}, 0, 1},
        {"only noise", Bytes{0x01, 0x02, 0x55, 0xFF}, {}, 0, 0},
    };
}

TEST(PacketFramer, CutsStreamsAsTheTableSaysInAnyChunkingByteWiseOrBulk)
{
    for (const Row& row : rows()) {
        for (bool bulk : {false, true}) {
            for (size_t chunk : {row.input.size(), size_t(1), size_t(3), size_t(17), size_t(4096)}) {
                SCOPED_TRACE(std::string(row.legend) + (bulk ? ", bulk" : ", byte-wise") + ", chunk " +
                             std::to_string(chunk));
                const Fed fed = feed(row.input, std::max<size_t>(chunk, 1), bulk);
                EXPECT_EQ(fed.bodies, row.bodies);
                EXPECT_EQ(fed.droppedHeaders, row.droppedHeaders);
                EXPECT_EQ(fed.badChecksums, row.badChecksums);
            }
        }
    }
}

TEST(PacketFramer, BulkFeedMatchesByteWiseOnRandomStreams)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        // Valid frames, corrupted frames and noise, so every path is taken.
        Bytes stream;
        while (stream.size() < 3000) {
            Bytes payload(size_t(byte(rng)) * (round % 4 + 1));
            for (auto& b : payload)
                b = uint8_t(byte(rng));
            const PacketRecord r = buildFrame(uint8_t(byte(rng)), payload.data(), int(payload.size()));
            Bytes frame(r.bytes.begin(), r.bytes.begin() + r.length() + 3);
            if (byte(rng) < 40)
                frame[size_t(byte(rng)) % frame.size()] ^= uint8_t(1 + byte(rng) % 255);
            stream = stream + frame;
            for (int noise = byte(rng) % 4; noise > 0; --noise)
                stream.push_back(uint8_t(byte(rng) < 30 ? 0xAA : byte(rng)));
        }
        const Fed whole = feed(stream, 1, false);
        EXPECT_GT(whole.bodies.size(), 0u);
        for (size_t chunk : {size_t(1) + size_t(round % 13), size_t(4096)}) {
            const Fed bulk = feed(stream, chunk, true);
            ASSERT_EQ(bulk.bodies, whole.bodies) << "round " << round << ", chunk " << chunk;
            ASSERT_EQ(bulk.droppedHeaders, whole.droppedHeaders);
            ASSERT_EQ(bulk.badChecksums, whole.badChecksums);
        }
    }
}

Bytes randomFrame(std::mt19937& rng, size_t maxPayload)
{
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes payload(size_t(byte(rng)) % (maxPayload + 1));
    for (auto& b : payload)
        b = uint8_t(byte(rng));
    const PacketRecord r = buildFrame(uint8_t(byte(rng)), payload.data(), int(payload.size()));
    return Bytes(r.bytes.begin(), r.bytes.begin() + r.length() + 3);
}

// True when every one of want appears in got, in order.
bool foundInOrder(const std::vector<Bytes>& want, const std::vector<Bytes>& got)
{
    size_t at = 0;
    for (const Bytes& body : got) {
        if (at < want.size() && body == want[at])
            ++at;
    }
    return at == want.size();
}

TEST(PacketFramer, FramesAfterACorruptLengthAreAllFound)
{
    std::mt19937 rng(7);
    Bytes stream{0xAA, 0xD0, 0x07}; // L = 2000 read where a frame was meant
    std::vector<Bytes> bodies;
    for (int i = 0; i < 300; ++i) {
        const Bytes frame = randomFrame(rng, 40);
        bodies.push_back(bodyOf(frame));
        stream = stream + frame;
    }
    for (bool bulk : {false, true}) {
        for (size_t chunk : {size_t(1), size_t(64), size_t(4096)}) {
            const Fed fed = feed(stream, chunk, bulk);
            EXPECT_EQ(fed.bodies, bodies) << (bulk ? "bulk" : "byte-wise") << ", chunk " << chunk;
            EXPECT_EQ(fed.badChecksums, 1u);
        }
    }
}

TEST(PacketFramer, EveryFrameEmbeddedInNoiseIsFound)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> byte(0, 255);
        Bytes stream;
        std::vector<Bytes> bodies;
        for (int i = 0; i < 300; ++i) {
            // Noise rich in sync bytes, some with plausible lengths after them.
            for (int noise = byte(rng) % 16; noise > 0; --noise)
                stream.push_back(uint8_t(byte(rng) < 16 ? 0xAA : byte(rng)));
            const Bytes frame = randomFrame(rng, 60);
            bodies.push_back(bodyOf(frame));
            stream = stream + frame;
        }
        // The device goes on sending: a false header near the end must not
        // hold the last frames back for want of bytes.
        for (int i = 0; i < 420; ++i)
            stream = stream + kType30;
        const Fed byteWise = feed(stream, 1, false);
        EXPECT_TRUE(foundInOrder(bodies, byteWise.bodies)) << "seed " << seed;
        const Fed bulk = feed(stream, 512, true);
        EXPECT_EQ(bulk.bodies, byteWise.bodies) << "seed " << seed;
    }
}

// Packets left in rescanned bytes come out with the next bytes even when the
// caller never asks with next().
TEST(PacketFramer, RescannedPacketsNotTakenComeOutLater)
{
    PacketFramer framer;
    const Bytes stream = Bytes{0xAA, 0x0C, 0x00} + kType01 + kType30 + kType01 + Bytes{0x00} + kType30;
    std::vector<uint8_t> types;
    for (uint8_t b : stream) {
        if (framer.pushByte(b))
            types.push_back(framer.body()[0]);
    }
    while (framer.next())
        types.push_back(framer.body()[0]);
    EXPECT_EQ(types, (std::vector<uint8_t>{0x01, 0x30, 0x01, 0x30}));
}

TEST(PacketFramer, CopyToFillsLengthAndBodyButNotSync)
{
    PacketFramer framer;
    PacketRecord record;
    record.bytes[0] = 0x11;
    record.bytes[7] = 0x77;
    const Bytes frame{0xAA, 0x04, 0x00, 0x05, 0x10, 0x20, 0x35};
    bool done = false;
    for (uint8_t b : frame)
        done = framer.pushByte(b);
    ASSERT_TRUE(done);
    framer.copyTo(record);
    EXPECT_EQ(record.bytes[0], 0x11);
    EXPECT_EQ(record.length(), 4);
    EXPECT_EQ(record.type(), 0x05);
    EXPECT_EQ(record.payloadLength(), 2);
    EXPECT_EQ(record.payload()[0], 0x10);
    EXPECT_EQ(record.payload()[1], 0x20);
    EXPECT_EQ(record.bytes[6], 0x35);
    EXPECT_EQ(record.bytes[7], 0x77); // nothing beyond L + 2 is touched
}

TEST(PacketFramer, ResetDropsAHalfReceivedPacket)
{
    PacketFramer framer;
    for (uint8_t b : Bytes{0xAA, 0x04, 0x00, 0x05})
        framer.pushByte(b);
    EXPECT_EQ(framer.state(), PacketFramer::State::ReadBody);
    framer.reset();
    bool done = false;
    for (uint8_t b : kType30)
        done = framer.pushByte(b);
    EXPECT_TRUE(done);
    EXPECT_EQ(framer.body()[0], 0x30);
}

TEST(BuildFrame, WrapsTypeAndPayloadWithXorChecksum)
{
    struct Case
    {
        uint8_t type;
        Bytes payload;
        Bytes frame;
    };
    const std::vector<Case> cases{
        {0x1C, {}, kSerialRequest},
        {0x01, {}, kType01},
        {0x30, {}, kType30},
        {0x05, {0xAA, 0x02}, {0xAA, 0x04, 0x00, 0x05, 0xAA, 0x02, 0xAD}},
    };
    for (const Case& c : cases) {
        const PacketRecord r = buildFrame(c.type, c.payload.data(), int(c.payload.size()));
        EXPECT_EQ(Bytes(r.bytes.begin(), r.bytes.begin() + r.length() + 3), c.frame);
    }
}

TEST(BuildFrame, LargestPayloadTheFramerAcceptsRoundTrips)
{
    Bytes payload(PacketFramer::kMaxLength - 2, 0x5A);
    payload[100] = 0xAA;
    const PacketRecord r = buildFrame(0x07, payload.data(), int(payload.size()));
    ASSERT_EQ(r.length(), PacketFramer::kMaxLength);
    EXPECT_EQ(r.bytes[size_t(r.length() + 2)], 0x07 ^ 0xAA); // the 2044 bytes 0x5A cancel out

    PacketFramer framer;
    bool completed = false;
    const size_t frameSize = size_t(r.length()) + 3;
    EXPECT_EQ(framer.pushBytes(r.bytes.data(), frameSize, completed), frameSize);
    ASSERT_TRUE(completed);
    EXPECT_EQ(framer.length(), PacketFramer::kMaxLength);
    EXPECT_EQ(framer.body()[0], 0x07);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), framer.body() + 1));
}

TEST(BuildFrame, PayloadThatCannotFitGivesAnEmptyRecord)
{
    Bytes payload(2048, 0);
    // One byte more than the largest: L = 2048, which the framer rejects.
    EXPECT_EQ(buildFrame(0x07, payload.data(), PacketFramer::kMaxLength - 1).length(), 0);
    EXPECT_EQ(buildFrame(0x07, payload.data(), 2048).length(), 0);
    EXPECT_EQ(buildFrame(0x07, payload.data(), -1).length(), 0);
    EXPECT_EQ(buildFrame(0x07, nullptr, 3).length(), 0);
}

// The link thread sleeps until bytesToComplete() bytes are in; a bound that
// is ever too high would hold a finished packet back.
TEST(PacketFramer, BytesToCompleteIsExactForAKnownBodyAndNeverTooHigh)
{
    PacketFramer framer;
    const Bytes scan = Bytes{0xAA, 0x11, 0x00, 0x11} + Bytes(15, 0) + Bytes{0x11};
    const std::vector<int> expected{4, 3, 2, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    ASSERT_EQ(scan.size(), expected.size());
    for (size_t i = 0; i < scan.size(); ++i) {
        EXPECT_EQ(framer.bytesToComplete(), expected[i]) << "before byte " << i;
        EXPECT_EQ(framer.pushByte(scan[i]), i + 1 == scan.size());
    }
    EXPECT_EQ(framer.bytesToComplete(), 4);

    std::mt19937 rng(16);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes stream;
    while (stream.size() < 20000) {
        Bytes payload(size_t(byte(rng) % 24));
        for (auto& b : payload)
            b = uint8_t(byte(rng) < 20 ? 0xAA : byte(rng));
        const PacketRecord r = buildFrame(uint8_t(byte(rng)), payload.data(), int(payload.size()));
        Bytes frame(r.bytes.begin(), r.bytes.begin() + r.length() + 3);
        if (byte(rng) < 30)
            frame.resize(size_t(1 + byte(rng)) % frame.size() + 1); // cut short
        stream = stream + frame;
        for (int noise = byte(rng) % 3; noise > 0; --noise)
            stream.push_back(uint8_t(byte(rng) < 60 ? 0xAA : byte(rng)));
    }
    PacketFramer random;
    size_t completions = 0;
    // Index of the byte whose arrival wakes the reader; it then takes every
    // byte in up to there and asks again.
    size_t wake = size_t(random.bytesToComplete()) - 1;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (random.pushByte(stream[i])) {
            ++completions;
            ASSERT_EQ(i, wake) << "a packet completed at byte " << i << " while the reader slept";
            while (random.next()) // packets in the rescanned bytes, as the link thread takes them
                ++completions;
        }
        if (i == wake)
            wake = i + size_t(random.bytesToComplete());
    }
    EXPECT_GT(completions, 150u);
}

} // namespace

namespace {

// Lengths as a codec for a device like ours hands them down: scan reports
// (type 7) are 17 bytes from the length on, single blocks (type 2) any
// length, a type byte 0xAA never plausible, other types up to 256.
FrameLengths deviceLengths()
{
    FrameLengths lengths;
    for (int type = 0; type < 256; ++type)
        lengths.setMax(uint8_t(type), 256);
    lengths.setMax(0x07, 17);
    lengths.setMax(0x02, FrameLengths::kMaxLength);
    lengths.setMax(0xAA, 0);
    return lengths;
}

Bytes frame(uint8_t type, const Bytes& payload)
{
    const PacketRecord r = buildFrame(type, payload.data(), int(payload.size()));
    return Bytes(r.bytes.begin(), r.bytes.begin() + r.length() + 3);
}

Bytes scanReport(int n)
{
    return frame(0x07, Bytes{0, uint8_t(n % 10), uint8_t(0xB0 + n % 16), 1, 2, 0x9C, 0, 3, 0x9D, 1, 4, 0x9E, 0, 5,
                             uint8_t(n)});
}

Bytes scanReports(int count)
{
    Bytes out;
    for (int n = 0; n < count; ++n)
        out = out + scanReport(n);
    return out;
}

std::vector<Bytes> scanBodies(int count)
{
    std::vector<Bytes> out;
    for (int n = 0; n < count; ++n)
        out.push_back(bodyOf(scanReport(n)));
    return out;
}

struct LengthRow
{
    const char* legend;
    Bytes input;
    std::vector<Bytes> bodies;
    uint32_t droppedHeaders;
    uint32_t badChecksums;
    uint32_t abandonedFrames; // the line stays quiet after the input
};

std::vector<LengthRow> lengthRows()
{
    const Bytes unknown256 = frame(0x42, Bytes(254, 0x11));
    const Bytes unknown257 = frame(0x42, Bytes(255, 0x11));
    const Bytes single = frame(0x02, Bytes(2045, 0xC4));
    const Bytes report = scanReport(1);
    // L = 168 makes the frame XOR to 0x02, the single block's type; 80 reports XOR to 0.
    const Bytes unknown168 = frame(0x42, Bytes(166, 0x11));
    const Bytes blockInside = unknown168 + scanReports(80);
    std::vector<Bytes> blockBodies = scanBodies(80);
    blockBodies.insert(blockBodies.begin(), bodyOf(unknown168));
    const Bytes gpsHoldingFrameAndMore = frame(0x00, report + Bytes{0x31, 0x32});
    const Bytes gpsStartingWithFalseFrame = frame(0x00, Bytes{0xAA, 0x02, 0x00, 0x07, 0x06, 0x55});
    return {
        {"corrupt length 2000: the type byte is the next sync, rejected at once",
         Bytes{0xAA, 0xD0, 0x07} + scanReports(50), scanBodies(50), 1, 0, 0},
        {"100 reports of one length behind a corrupt length all come out", Bytes{0xAA, 0xD0, 0x07} + scanReports(100),
         scanBodies(100), 1, 0, 0},
        {"a scan report longer than its message is no scan report", Bytes{0xAA, 0x12, 0x00, 0x07} + scanReports(3),
         scanBodies(3), 1, 0, 0},
        {"type 0xAA with a short length", Bytes{0xAA, 0x05, 0x00} + scanReports(2), scanBodies(2), 1, 0, 0},
        {"an unknown type up to 256 is passed on", unknown256, {bodyOf(unknown256)}, 0, 0, 0},
        {"an unknown type of 257 is not", unknown257 + scanReports(1), scanBodies(1), 1, 0, 0},
        {"a single block may be as long as the format allows", single, {bodyOf(single)}, 0, 0, 0},
        {"a short frame of a known type is still passed on", Bytes{0xAA, 0x02, 0x00, 0x07, 0x07}, {{0x07, 0x07}}, 0,
         0, 0},
        {"corrupt length of a long type: given up on the quiet line, the reports behind it come out",
         Bytes{0xAA, 0xD0, 0x07, 0x02} + scanReports(50), scanBodies(50), 0, 0, 1},
        {"a lone sync byte on a quiet line is kept", Bytes{0x01, 0xAA}, {}, 0, 0, 0},
        {"sync and one length byte on a quiet line are kept", Bytes{0xAA, 0x11}, {}, 0, 0, 0},
        {"a frame cut short by a pause, hiding no packet, is kept", Bytes(report.begin(), report.end() - 1), {}, 0,
         0, 0},
        {"a false frame hiding a packet is given up", Bytes{0xAA, 0x40, 0x00, 0x02} + report, {bodyOf(report)}, 0, 0,
         1},
        // 12 reports of 20 bytes XOR to 0, as does the type 0: one record of L = 241 unless taken apart.
        {"a GPS-type header over twelve reports: the reports come out, no record of L = 241",
         Bytes{0xAA, 0xF1, 0x00, 0x00} + scanReports(13), scanBodies(13), 1, 0, 0},
        {"a single-block header over a frame and 80 reports, its checksum valid",
         Bytes{0xAA, uint8_t(blockInside.size() + 1), uint8_t((blockInside.size() + 1) >> 8), 0x02} + blockInside,
         blockBodies, 1, 0, 0},
        {"an unknown type whose XOR makes one report inside valid", Bytes{0xAA, 0x15, 0x00, 0xBB} + report,
         {bodyOf(report)}, 1, 0, 0},
        {"a GPS message whose payload is a frame and more is a GPS message", gpsHoldingFrameAndMore,
         {bodyOf(gpsHoldingFrameAndMore)}, 0, 0, 0},
        {"a GPS message whose payload starts with a false frame is a GPS message", gpsStartingWithFalseFrame,
         {bodyOf(gpsStartingWithFalseFrame)}, 0, 0, 0},
    };
}

TEST(PacketFramer, LengthsThatDoNotFitTheTypeAreRejectedAndAQuietLineGivesUpTheFrame)
{
    for (const LengthRow& row : lengthRows()) {
        for (bool bulk : {false, true}) {
            for (size_t chunk : {row.input.size(), size_t(1), size_t(7), size_t(4096)}) {
                SCOPED_TRACE(std::string(row.legend) + (bulk ? ", bulk" : ", byte-wise") + ", chunk " +
                             std::to_string(chunk));
                const Fed fed = feed(row.input, chunk, bulk, deviceLengths(), true);
                EXPECT_EQ(fed.bodies, row.bodies);
                EXPECT_EQ(fed.droppedHeaders, row.droppedHeaders);
                EXPECT_EQ(fed.badChecksums, row.badChecksums);
                EXPECT_EQ(fed.abandonedFrames, row.abandonedFrames);
            }
        }
    }
}

// The fault the table guards against: without it, the corrupt length holds
// every report back, and 100 reports of one length pass as one false packet.
TEST(PacketFramer, WithoutTheTableACorruptLengthSwallowsReportsOfOneLength)
{
    const Fed fed = feed(Bytes{0xAA, 0xD0, 0x07} + scanReports(100), 4096, true);
    ASSERT_EQ(fed.bodies.size(), 1u);
    EXPECT_EQ(fed.bodies[0][0], 0xAA);
}

TEST(PacketFramer, QuietLimitIsTheMissingBytesAt3840BytesASecondPlusTheMargin)
{
    PacketFramer framer(deviceLengths());
    EXPECT_EQ(framer.quietLimitMs(), -1) << "an idle line needs no time-out";
    struct Step
    {
        uint8_t byte;
        int limitMs;
    };
    // L = 2000 of type 2: 1999 body bytes missing after the type byte = 520.6 ms.
    const Step steps[] = {
        {0xAA, 1 + PacketFramer::kQuietMarginMs},   // 3 bytes for the shortest frame
        {0xD0, 1 + PacketFramer::kQuietMarginMs},   // 2
        {0x07, 521 + PacketFramer::kQuietMarginMs}, // 2000
        {0x02, 521 + PacketFramer::kQuietMarginMs}, // 1999
    };
    for (const Step& s : steps) {
        EXPECT_FALSE(framer.pushByte(s.byte));
        EXPECT_EQ(framer.quietLimitMs(), s.limitMs) << "after " << int(s.byte);
    }
}

// A writer that stalls mid-frame loses nothing: the quiet spell finds no
// packet inside the frame, keeps it and asks for no further time-out until
// the rest comes.
TEST(PacketFramer, AFramePausedMidwayIsKeptAndCompletedByTheRest)
{
    PacketFramer framer(deviceLengths());
    const Bytes report = scanReport(4);
    for (size_t i = 0; i < 9; ++i)
        ASSERT_FALSE(framer.pushByte(report[i]));
    ASSERT_GE(framer.quietLimitMs(), 0);
    EXPECT_FALSE(framer.lineQuiet());
    EXPECT_EQ(framer.quietLimitMs(), -1) << "a checked frame needs no time-out until bytes come";
    EXPECT_EQ(framer.abandonedFrames(), 0u);
    bool got = false;
    for (size_t i = 9; i < report.size(); ++i)
        got = framer.pushByte(report[i]);
    ASSERT_TRUE(got);
    EXPECT_EQ(Bytes(framer.body(), framer.body() + framer.length()), bodyOf(report));
}

// A false frame whose bytes so far hide only part of a packet is kept at the
// first quiet spell; once the packet's rest has come, the next one gives the
// false frame up and the packet comes out.
TEST(PacketFramer, AFalseFrameIsGivenUpOnceAPacketLiesWhollyInside)
{
    PacketFramer framer(deviceLengths());
    const Bytes report = scanReport(3);
    const Bytes head = Bytes{0xAA, 0x40, 0x00, 0x02, 0x01} + Bytes(report.begin(), report.begin() + 8);
    for (uint8_t b : head)
        ASSERT_FALSE(framer.pushByte(b));
    EXPECT_FALSE(framer.lineQuiet());
    for (size_t i = 8; i < report.size(); ++i)
        ASSERT_FALSE(framer.pushByte(report[i]));
    // 42 of the false frame's 64 body bytes missing: 10.9 ms.
    EXPECT_EQ(framer.quietLimitMs(), 11 + PacketFramer::kQuietMarginMs);
    ASSERT_TRUE(framer.lineQuiet());
    EXPECT_EQ(Bytes(framer.body(), framer.body() + framer.length()), bodyOf(report));
    EXPECT_FALSE(framer.next());
    EXPECT_EQ(framer.abandonedFrames(), 1u);
    EXPECT_EQ(framer.quietLimitMs(), -1);
}

} // namespace
