#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"
#include "protocol/ReceiverSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

ReceiverSettings settings(uint32_t lowEdge, uint16_t stepRaw, uint8_t flags, uint32_t highEdge = 0)
{
    std::array<uint8_t, ReceiverSettings::kBlockSize> block{};
    for (int i = 0; i < 4; ++i) {
        block[i] = uint8_t(lowEdge >> (8 * i));
        block[4 + i] = uint8_t(highEdge >> (8 * i));
    }
    block[8] = uint8_t(stepRaw);
    block[9] = uint8_t(stepRaw >> 8);
    block[10] = flags;
    block[11] = 0x5A;
    ReceiverSettings s;
    s.storeBlock(block.data());
    return s;
}

} // namespace

TEST(ProtocolRecords, freshRecordsHoldTheNoDataValues)
{
    const SampleBuffers samples;
    const DeviceRecord device;
    for (int r = 0; r < SampleBuffers::kReceivers; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(samples.singleAverage[r], -120);
        for (int8_t v : samples.scanRssi[r])
            ASSERT_EQ(v, -120);
        for (int8_t v : samples.tableRssi[r])
            ASSERT_EQ(v, 0);
        EXPECT_EQ(samples.newSamples[r], 0);
        EXPECT_FALSE(samples.receiverEvents[r].isSet());
        EXPECT_FALSE(device.receiverActive(r));
        EXPECT_EQ(device.settingsGeneration(r), 0u);
        EXPECT_EQ(device.settingsCopy(r).lowEdge(), 0u);
    }
    EXPECT_EQ(device.settingsReplies(), 0u);
    EXPECT_EQ(device.channelInfoPresent, 0);
    EXPECT_EQ(device.markerNumber(), 0);
    EXPECT_EQ(device.snapshot().channelInfoRecord.count, 0);
    EXPECT_EQ(device.serialNumberText(), "");
    EXPECT_EQ(device.rtcDateText(), "00/00/2000");
    EXPECT_FALSE(device.rtcEvent.isSet());
}

TEST(ProtocolRecords, rtcTextsAreMonthFirstDateAndTime)
{
    DeviceRecord device;
    const uint8_t rtc[7] = {5, 4, 3, 17, 11, 7, 42};
    device.edit([&](DeviceRecord::Data& d) { std::copy(rtc, rtc + 7, d.rtc); });
    EXPECT_EQ(device.rtcDateText(), "11/17/2007");
    EXPECT_EQ(device.rtcTimeText(), "03:04:05");
    EXPECT_EQ(device.markerNumber(), 42);
}

TEST(ProtocolRecords, resetScanRssiTouchesOneReceiverOnly)
{
    SampleBuffers samples;
    for (int r = 0; r < 2; ++r)
        for (auto& v : samples.scanRssi[r])
            v = -40;
    samples.resetScanRssi(1);
    for (int slot = 0; slot < SampleBuffers::kScanSlots; ++slot) {
        EXPECT_EQ(samples.scanRssi[0][slot], -40);
        EXPECT_EQ(samples.scanRssi[1][slot], -120);
    }
}

TEST(ReceiverSettings, storeBlockKeepsTheImageAndDerivesTheStep)
{
    const ReceiverSettings s = settings(1000, 7680, 0x01, 0x12345678);
    EXPECT_EQ(s.lowEdge(), 1000u);
    EXPECT_EQ(s.highEdge(), 0x12345678u);
    EXPECT_EQ(s.stepRaw(), 7680);
    EXPECT_EQ(s.stepKHz, 30.0);
    EXPECT_TRUE(s.numberingFrom991());
    EXPECT_EQ(s.spare(), 0x5A);
    EXPECT_EQ(s.block()[0], 0xE8); // 1000 little-endian
    EXPECT_EQ(s.block()[1], 0x03);
    EXPECT_EQ(settings(0, 3200, 0).stepKHz, 12.5);
}

TEST(ReceiverSettings, edgesAndCurrentInMHz)
{
    ReceiverSettings s = settings(1000, 7680, 0, 0xFFFFFFFF);
    s.current = 30000;
    EXPECT_DOUBLE_EQ(s.lowEdgeMHz(), 30.0);
    EXPECT_DOUBLE_EQ(s.currentMHz(), 900.0);
    // uint32 values convert unsigned.
    EXPECT_DOUBLE_EQ(s.highEdgeMHz(), 4294967295.0 * 30.0 * 0.001);
}

TEST(ReceiverSettings, channelNumbering)
{
    struct Case { uint32_t lowEdge; uint8_t flags; uint32_t value; int channel; };
    const Case cases[] = {
        {1000, 0, 1000, 1},
        {1000, 0, 1009, 10},
        {1000, 0, 999, 0},
        {1000, 1, 1000, 991},
        {1000, 1, 1033, 1024},
        {1000, 1, 1034, 1},
        {1000, 1, 1000 + 1023, 990},
        {1000, 1, 1000 + 1024, 991}, // beyond 1024 positions numbering wraps to 991
        {0x0001FFF0, 0, 0x00020005, 22}, // low 16 bits wrap across 0xFFFF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ReceiverSettings s = settings(c.lowEdge, 7680, c.flags);
        EXPECT_EQ(s.channelOf(c.value), c.channel);
        s.current = c.value;
        EXPECT_EQ(s.currentChannel(), c.channel);
    }
}

TEST(ReceiverSettings, positionOfInvertsTheNumbering)
{
    const ReceiverSettings plain = settings(500, 7680, 0);
    const ReceiverSettings gsm = settings(500, 7680, 1);
    EXPECT_EQ(plain.positionOf(1), 1);
    EXPECT_EQ(plain.positionOf(991), 991);
    EXPECT_EQ(gsm.positionOf(991), 1);
    EXPECT_EQ(gsm.positionOf(1024), 34);
    EXPECT_EQ(gsm.positionOf(1), 35);
    EXPECT_EQ(gsm.valueOfPosition(1), 500u);
    EXPECT_EQ(gsm.valueOfPosition(35), 534u);
}

TEST(ReceiverSettings, valueRoundTripsThroughChannelAndPosition)
{
    for (uint8_t flags : {0, 1}) {
        const uint32_t lowEdge = 31000;
        const ReceiverSettings s = settings(lowEdge, 6400, flags);
        const uint32_t positions = flags ? 1024 : 32767;
        for (uint32_t p = 1; p <= positions; ++p) {
            const uint32_t v = lowEdge + p - 1;
            ASSERT_EQ(s.valueOfPosition(s.positionOf(s.channelOf(v))), v) << int(flags) << " " << p;
            ASSERT_DOUBLE_EQ(s.frequencyOfValueMHz(v), v * 25.0 * 0.001) << int(flags) << " " << p;
        }
    }
}

TEST(ReceiverSettings, beyond1024PositionsConversionLandsInTheFirst34)
{
    const ReceiverSettings s = settings(0, 7680, 1);
    EXPECT_EQ(s.valueOfPosition(s.positionOf(s.channelOf(1024))), 0u);
    EXPECT_EQ(s.valueOfPosition(s.positionOf(s.channelOf(1057))), 33u);
}

