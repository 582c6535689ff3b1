#include "display/ReceiverBars.h"

#include "protocol/SampleBuffers.h"
#include "protocol/ReceiverSamples.h"
#include "protocol/ReceiverSettings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Band 150 .. 175 MHz in 25 kHz steps (channel steps 6000 .. 7000).
ReceiverSettings band(bool from991 = false)
{
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, uint8_t(from991 ? 1 : 0), 0};
    ReceiverSettings s;
    s.storeBlock(block);
    return s;
}

std::vector<std::string> labels(const ReceiverBars::Frame& f)
{
    std::vector<std::string> out;
    for (const auto& b : f.bars)
        out.push_back(b.label);
    return out;
}

} // namespace

TEST(ReceiverBars, title)
{
    EXPECT_EQ(ReceiverBars::title(1, band()), "R2 (150.00000-175.00000)MHz 25.00 KHz Step");
}

TEST(ReceiverBars, singleMode)
{
    SampleBuffers state;
    ReceiverSettings s = band();
    s.current = 6010;
    state.singleAverage[0] = -75;

    const auto f = ReceiverBars::single(state.takeSamples(0, false), s, true);
    EXPECT_EQ(f.xMax, 2.0);
    EXPECT_FALSE(f.verticalLabels);
    EXPECT_EQ(f.bottomCaption, "150.25000 MHz");
    ASSERT_EQ(f.bars.size(), 1u);
    EXPECT_EQ(f.bars[0].x, 1);
    EXPECT_EQ(f.bars[0].label, "-75 dBm");
    EXPECT_EQ(f.bars[0].value, -75.0);
    EXPECT_EQ(f.mapValue, -75);

    EXPECT_EQ(ReceiverBars::single(state.takeSamples(0, false), s, false).bottomCaption, "Channel 11");
    // The other receiver's data stay apart.
    EXPECT_EQ(ReceiverBars::single(state.takeSamples(1, false), s, false).mapValue, -120);
}

TEST(ReceiverBars, emptyTableShowsTenFloorBarsWithoutLabels)
{
    SampleBuffers state;
    const auto f = ReceiverBars::table(state.takeSamples(0, false), band(), true);
    EXPECT_EQ(f.xMax, 11.0);
    EXPECT_TRUE(f.verticalLabels);
    EXPECT_EQ(f.bottomCaption, "Frequency");
    ASSERT_EQ(f.bars.size(), 10u);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(f.bars[size_t(k)].x, k + 1);
        EXPECT_EQ(f.bars[size_t(k)].value, -120.0);
        EXPECT_EQ(f.bars[size_t(k)].label, "");
    }
    EXPECT_EQ(f.mapValue, -120);
}

TEST(ReceiverBars, tableLabelsByChannelOrFrequency)
{
    SampleBuffers state;
    state.tableRssi[1][9] = -60; // channel 10
    state.tableRssi[1][4] = -60; // channel 5
    state.tableRssi[1][100] = -45;

    const auto byChannel = ReceiverBars::table(state.takeSamples(1, false), band(), false);
    EXPECT_EQ(byChannel.bottomCaption, "Channel");
    const std::vector<std::string> expected = {"101", "5", "10", "", "", "", "", "", "", ""};
    EXPECT_EQ(labels(byChannel), expected);
    EXPECT_EQ(byChannel.bars[0].value, -45.0);
    EXPECT_EQ(byChannel.mapValue, -45);

    const auto byFrequency = ReceiverBars::table(state.takeSamples(1, false), band(), true);
    EXPECT_EQ(byFrequency.bars[0].label, "152.5000");
    EXPECT_EQ(byFrequency.bars[1].label, "150.1000");
    EXPECT_EQ(byFrequency.bars[2].label, "150.2250");
}

TEST(ReceiverBars, scanSlotsInOrder)
{
    SampleBuffers state;
    ReceiverSettings s = band(true); // channels numbered from 991
    s.scanChannelsKnown = true;
    for (int k = 0; k < 10; ++k)
        s.scanChannels[size_t(k)] = 6000 + 20 * uint32_t(k);
    state.scanRssi[0][2] = -50; // position 41 -> channel 7
    state.scanRssi[0][0] = -90; // position 1 -> channel 991
    state.scanRssi[0][5] = 10;  // reads -246: no label
    state.scanRssi[0][7] = -119;

    const auto f = ReceiverBars::scan(state.takeSamples(0, false), s, false);
    EXPECT_EQ(f.bottomCaption, "Channel");
    const std::vector<std::string> expected = {"991", "", "7", "", "", "", "", "107", "", ""};
    EXPECT_EQ(labels(f), expected);
    EXPECT_EQ(f.bars[5].value, -246.0);
    EXPECT_EQ(f.bars[2].value, -50.0);
    EXPECT_EQ(f.mapValue, -50);

    const auto freq = ReceiverBars::scan(state.takeSamples(0, false), s, true);
    EXPECT_EQ(freq.bars[0].label, "150.0000");
    EXPECT_EQ(freq.bars[2].label, "151.0000");

    std::memset(state.scanRssi[0], -120, 10);
    state.scanRssi[0][3] = 100;
    EXPECT_EQ(ReceiverBars::scan(state.takeSamples(0, false), s, true).mapValue, -120);
}

namespace {
ReceiverSettings settingsOf(uint32_t low, uint32_t high, uint16_t stepRaw, bool from991)
{
    const uint8_t block[12] = {uint8_t(low), uint8_t(low >> 8), uint8_t(low >> 16), uint8_t(low >> 24),
                               uint8_t(high), uint8_t(high >> 8), uint8_t(high >> 16), uint8_t(high >> 24),
                               uint8_t(stepRaw), uint8_t(stepRaw >> 8), uint8_t(from991 ? 1 : 0), 0};
    ReceiverSettings s;
    s.storeBlock(block);
    return s;
}
} // namespace

// Labels must not go through 16-bit channel arithmetic: wide bands and
// values beyond position 1024 of a 991-numbered band came out wrong.
TEST(ReceiverBars, scanAndSingleLabelsWorkInFullWidth)
{
    struct Case
    {
        const char* legend;
        uint32_t low;
        bool from991;
        uint32_t value;
        const char* frequency;
        const char* channel;
    };
    const Case cases[] = {
        {"value beyond 32767", 1000, false, 41000, "1025.0000", "40001"},
        {"991 numbering beyond position 1024", 2000, true, 2100, "52.5000", "67"},
        {"991 numbering, first position", 2000, true, 2000, "50.0000", "991"},
        {"low edge beyond 65535", 70000, false, 70009, "1750.2250", "10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ReceiverSamples samples;
        ReceiverSettings s = settingsOf(c.low, c.low + 50000, 6400, c.from991); // 25 kHz
        s.scanChannelsKnown = true;
        s.scanChannels.fill(c.value);
        s.current = c.value;
        samples.scanRssi[0] = -50;
        EXPECT_EQ(ReceiverBars::scan(samples, s, true).bars[0].label, c.frequency);
        EXPECT_EQ(ReceiverBars::scan(samples, s, false).bars[0].label, c.channel);
        EXPECT_EQ(ReceiverBars::single(samples, s, false).bottomCaption, std::string("Channel ") + c.channel);
    }
}

TEST(ReceiverBars, scanLabelsStayEmptyUntilTheChannelListArrives)
{
    ReceiverSamples samples;
    ReceiverSettings s = band();
    samples.scanRssi.fill(-60);
    for (const bool frequency : {true, false})
        for (const auto& bar : ReceiverBars::scan(samples, s, frequency).bars)
            EXPECT_EQ(bar.label, "");
    s.scanChannelsKnown = true;
    s.scanChannels.fill(6010);
    EXPECT_EQ(ReceiverBars::scan(samples, s, true).bars[9].label, "150.2500");
}
