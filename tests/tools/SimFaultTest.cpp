// Line faults must never cost a valid frame: a receiver that follows the
// frame rules recovers every one, in order. The emulator's own command
// framer plays that receiver here.
#include "CommandFramer.h"
#include "DeviceMessages.h"
#include "FaultInjector.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct FramerCase
{
    const char* legend;
    Bytes input;
    std::vector<uint8_t> types;
    int rejected;
};

TEST(SimCommandFramer, followsTheFrameRules)
{
    const FramerCase cases[] = {
        {"plain request", {0xAA, 0x02, 0x00, 0x1C, 0x1C}, {0x1C}, 0},
        {"leading garbage", {0x00, 0x55, 0xAA, 0x02, 0x00, 0x01, 0x01}, {0x01}, 0},
        {"two back to back", {0xAA, 0x02, 0x00, 0x1C, 0x1C, 0xAA, 0x02, 0x00, 0x30, 0x30}, {0x1C, 0x30}, 0},
        {"lengths 0, 2048, 0x8000 then a frame",
         {0xAA, 0x00, 0x00, 0xAA, 0x00, 0x08, 0xAA, 0x00, 0x80, 0xAA, 0x02, 0x00, 0x01, 0x01}, {0x01}, 3},
        {"bad checksum then a frame", {0xAA, 0x02, 0x00, 0x1C, 0x1D, 0xAA, 0x02, 0x00, 0x30, 0x30}, {0x30}, 1},
        {"0xAA inside the body", {0xAA, 0x03, 0x00, 0x05, 0xAA, 0xAF}, {0x05}, 0},
        {"sync taken as high length byte", {0xAA, 0x05, 0xAA, 0x02, 0x00, 0x1C, 0x1C}, {}, 1},
    };
    for (const FramerCase& c : cases) {
        for (std::size_t chunk : {std::size_t(1), c.input.size()}) {
            CommandFramer framer;
            std::vector<uint8_t> types;
            for (std::size_t at = 0; at < c.input.size(); at += chunk)
                for (const auto& f : framer.push(c.input.data() + at, std::min(chunk, c.input.size() - at)))
                    types.push_back(f.type);
            EXPECT_EQ(types, c.types) << c.legend << " in pieces of " << chunk;
            EXPECT_EQ(framer.rejected(), c.rejected) << c.legend;
        }
    }
}

TEST(SimFaultInjector, everyValidFrameSurvivesAllFaultsInOrder)
{
    FaultConfig config;
    config.noise = true;
    config.badChecksumRate = 0.5;
    config.badLengthRate = 0.5;
    config.split = true;
    config.seed = 42;
    FaultInjector injector(config);

    std::vector<SimFrame> sent;
    Bytes line;
    int faults = 0, noise = 0;
    for (int i = 0; i < 500; ++i) {
        // Payloads full of 0xAA are the hard case for a resynchronising receiver.
        const std::vector<int8_t> samples(std::size_t(i % 12), int8_t(i % 3 == 0 ? -86 : -60 + i % 7));
        sent.push_back(i % 5 == 0 ? DeviceMessages::serialNumber("AB123456")
                                  : DeviceMessages::singleBlock(i % 2, samples));
        for (const OutChunk& c : injector.wrap(sent.back())) {
            faults += c.kind == OutChunk::Fault;
            noise += c.kind == OutChunk::Noise;
            if (c.kind == OutChunk::Noise) {
                for (uint8_t b : c.bytes)
                    ASSERT_NE(b, 0xAA);
            }
            line.insert(line.end(), c.bytes.begin(), c.bytes.end());
        }
    }
    EXPECT_GT(faults, 300);
    EXPECT_GT(noise, 100);

    CommandFramer framer;
    std::vector<Bytes> received;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t n = injector.nextWriteSize(line.size() - at);
        ASSERT_GE(n, 1u);
        ASSERT_LE(n, 5u);
        for (const auto& f : framer.push(line.data() + at, n))
            received.push_back(f.bytes);
        at += n;
    }
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(received[i], sent[i].bytes) << "frame " << i;
    EXPECT_EQ(framer.rejected(), faults);
}

TEST(SimFaultInjector, withoutFaultsTheFrameGoesOutWhole)
{
    FaultInjector injector(FaultConfig{});
    const SimFrame f = DeviceMessages::serialNumber("AB123456");
    const auto chunks = injector.wrap(f);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, f.bytes);
    EXPECT_EQ(injector.nextWriteSize(13), 13u);
    EXPECT_EQ(injector.nextGap().count(), 0);
}

} // namespace
