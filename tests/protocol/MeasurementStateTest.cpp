#include "protocol/MeasurementState.h"
#include "protocol/ReceiverSettings.h"

#include <gtest/gtest.h>

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

TEST(MeasurementState, freshRecordHoldsTheNoDataValues)
{
    const MeasurementState state;
    for (int r = 0; r < MeasurementState::kReceivers; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(state.singleAverage[r], -120);
        for (int8_t v : state.scanRssi[r])
            ASSERT_EQ(v, -120);
        for (int8_t v : state.tableRssi[r])
            ASSERT_EQ(v, 0);
        EXPECT_EQ(state.newSamples[r], 0);
        EXPECT_EQ(state.receiverActive[r], 0);
        EXPECT_EQ(state.settingsChanged[r], 0);
        EXPECT_FALSE(state.receiverEvents[r].isSet());
        ASSERT_NE(state.receiverSettings[r], nullptr);
        EXPECT_EQ(state.receiverSettings[r]->lowEdge(), 0u);
    }
    EXPECT_EQ(state.gpsLossAlerted, 1);
    EXPECT_EQ(state.settingsReceived, 0);
    EXPECT_EQ(state.channelInfoPresent, 0);
    EXPECT_EQ(state.unloggedScanCount, 0);
    EXPECT_EQ(state.markerNumber, 0);
    EXPECT_EQ(state.channelInfoRecord.count, 0);
    EXPECT_EQ(state.serialNumberText(), "");
    EXPECT_EQ(state.rtcDateText(), "00/00/2000");
}

TEST(MeasurementState, rtcTextsAreMonthFirstDateAndTime)
{
    MeasurementState state;
    const uint8_t rtc[7] = {5, 4, 3, 17, 11, 7, 42};
    std::copy(rtc, rtc + 7, state.rtc);
    EXPECT_EQ(state.rtcDateText(), "11/17/2007");
    EXPECT_EQ(state.rtcTimeText(), "03:04:05");
}

TEST(MeasurementState, resetScanRssiTouchesOneReceiverOnly)
{
    MeasurementState state;
    for (int r = 0; r < 2; ++r)
        for (auto& v : state.scanRssi[r])
            v = -40;
    state.resetScanRssi(1);
    for (int slot = 0; slot < MeasurementState::kScanSlots; ++slot) {
        EXPECT_EQ(state.scanRssi[0][slot], -40);
        EXPECT_EQ(state.scanRssi[1][slot], -120);
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

