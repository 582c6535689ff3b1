// The emulator's encoders against byte images worked out by hand from the
// protocol tables, so a misread layout fails here rather than agreeing with
// the program's own decoder.
#include "DeviceMessages.h"
#include "FrameEncoder.h"
#include "GpsMessageEncoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct FrameCase
{
    const char* legend;
    SimFrame frame;
    Bytes expected;
};

class SimEncoderFrames : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(SimEncoderFrames, matchesHandWorkedBytes)
{
    const FrameCase& c = GetParam();
    EXPECT_EQ(c.frame.bytes, c.expected) << c.legend;
    EXPECT_EQ(c.frame.type, c.expected[3]) << c.legend;
}

const ScanEntry kScan[] = {{1, 3, -70}, {0, 0, -80}};
const TableEntry kTable[] = {{0, 258, -90}};
const int8_t kTenSamples[] = {-50, -51, -52, -53, -54, -55, -56, -57, -58, -59};

INSTANTIATE_TEST_SUITE_P(
    Messages, SimEncoderFrames,
    ::testing::Values(
        FrameCase{"serial number request shape", FrameEncoder::encode(0x1C, {}), {0xAA, 0x02, 0x00, 0x1C, 0x1C}},
        FrameCase{"settings request shape", FrameEncoder::encode(0x01, {}), {0xAA, 0x02, 0x00, 0x01, 0x01}},
        FrameCase{"channel info request shape", FrameEncoder::encode(0x30, {}), {0xAA, 0x02, 0x00, 0x30, 0x30}},
        FrameCase{"serial AB123456",
                  DeviceMessages::serialNumber("AB123456"),
                  {0xAA, 0x0A, 0x00, 0x1C, 0x41, 0x42, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x18}},
        FrameCase{"short serial is zero-padded",
                  DeviceMessages::serialNumber("XY1"),
                  {0xAA, 0x0A, 0x00, 0x1C, 0x58, 0x59, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C}},
        FrameCase{"scan report (1,3,-70),(0,0,-80), padded with the last entry",
                  DeviceMessages::scanReport(kScan),
                  {0xAA, 0x11, 0x00, 0x07, 0x01, 0x03, 0xBA, 0x00, 0x00, 0xB0, 0x00, 0x00, 0xB0, 0x00, 0x00, 0xB0,
                   0x00, 0x00, 0xB0, 0xBF}},
        FrameCase{"table entry (0, 02 01, -90) is channel 259",
                  DeviceMessages::tableReport(kTable),
                  {0xAA, 0x12, 0x00, 0x09, 0x00, 0x02, 0x01, 0xA6, 0x00, 0x02, 0x01, 0xA6, 0x00, 0x02, 0x01, 0xA6,
                   0x00, 0x02, 0x01, 0xA6, 0x09}},
        FrameCase{"clock 03:04:05 17/11/2007 marker 42",
                  DeviceMessages::clockMarker({5, 4, 3, 17, 11, 2007, 42}),
                  {0xAA, 0x09, 0x00, 0x04, 0x05, 0x04, 0x03, 0x11, 0x0B, 0x07, 0x2A, 0x31}},
        FrameCase{"current frequency little-endian",
                  DeviceMessages::currentFrequency(0x12345678, 1),
                  {0xAA, 0x0A, 0x00, 0x05, 0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00, 0x0C}},
        FrameCase{"empty single block", DeviceMessages::singleBlock(1, {}), {0xAA, 0x02, 0x00, 0x03, 0x03}}));

TEST(SimEncoder, singleBlockOfTenSamplesHasLengthTwelve)
{
    const SimFrame f = DeviceMessages::singleBlock(0, kTenSamples);
    ASSERT_EQ(f.bytes.size(), 15u);
    EXPECT_EQ(f.bytes[1] | (f.bytes[2] << 8), 12);
    EXPECT_EQ(f.bytes[3], 2);
    EXPECT_EQ(int8_t(f.bytes[4]), -50);
    EXPECT_EQ(int8_t(f.bytes[13]), -59);
}

TEST(SimEncoder, receiverSetupLaysOutBothBlocks)
{
    const BandSettings r1{1000, 1359, 7680, false};
    const BandSettings r2{0x01020304, 0x0A0B0C0D, 0x1E00, true};
    const SimFrame f = DeviceMessages::receiverSetup(0x02, r1, r2);
    ASSERT_EQ(f.bytes.size(), 25u + 5u);
    const uint8_t* p = f.bytes.data() + 4;
    const Bytes payload(p, p + 25);
    const Bytes expected = {0x02,
                            0xE8, 0x03, 0x00, 0x00, 0x4F, 0x05, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00,
                            0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x00, 0x1E, 0x01, 0x00};
    EXPECT_EQ(payload, expected);
}

TEST(SimEncoder, scanChannelListPutsReceiverTwoAtOffsetForty)
{
    std::array<uint32_t, 10> r1{}, r2{};
    for (int k = 0; k < 10; ++k) {
        r1[k] = 100 + k;
        r2[k] = 0x00010000u + k;
    }
    const SimFrame f = DeviceMessages::scanChannelList(r1, r2);
    ASSERT_EQ(f.bytes.size(), 80u + 5u);
    const uint8_t* p = f.bytes.data() + 4;
    EXPECT_EQ(p[0], 100);
    EXPECT_EQ(p[36], 109);
    EXPECT_EQ(p[40], 0x00);
    EXPECT_EQ(p[42], 0x01);
    EXPECT_EQ(p[76], 9);
}

TEST(SimEncoder, everyFrameXorsToZeroAndOversizePayloadIsCut)
{
    const Bytes big(3000, 0xAA);
    const SimFrame f = FrameEncoder::encode(2, big);
    const int length = f.bytes[1] | (f.bytes[2] << 8);
    EXPECT_EQ(length, 2047);
    EXPECT_EQ(f.bytes.size(), std::size_t(length + 3));
    uint8_t x = 0;
    for (std::size_t i = 3; i < f.bytes.size(); ++i)
        x ^= f.bytes[i];
    EXPECT_EQ(x, 0);
}

TEST(SimGpsEncoder, fieldsLandBigEndianAtTheirOffsets)
{
    GpsFix fix;
    fix.month = 3;
    fix.day = 9;
    fix.year = 2004;
    fix.hours = 13;
    fix.minutes = 14;
    fix.seconds = 15;
    fix.filteredLatitude = GpsMessageEncoder::toMilliarcseconds(40.5471);
    fix.filteredLongitude = GpsMessageEncoder::toMilliarcseconds(-74.3803);
    fix.latitude = 145969560;
    fix.longitude = -267769080;
    fix.mslHeight = -250;
    fix.heading = 3599;
    fix.dop = 15;
    fix.visibleSats = 10;
    fix.trackedSats = 9;
    fix.channels[0] = {7, 8, 150, 33, 0x08, 0x82};
    fix.channels[11] = {31, 8, 120, 44, 0x00, 0x81};
    fix.status1 = 0xE0;
    fix.status2 = 0x06;
    fix.clockBias = -2;
    fix.oscOffset = -8600;
    fix.temperature = 0x0033;
    fix.utcParameters = 0xCF;
    fix.gmtNegative = true;
    fix.gmtHours = 5;
    fix.gmtMinutes = 0;
    fix.idTag = {'T', 'A', 'V', 'R', 'I', 'X'};
    const auto m = GpsMessageEncoder::encode(fix);

    struct Field
    {
        int offset;
        Bytes bytes;
    };
    const Field fields[] = {
        {4, {3, 9, 0x07, 0xD4, 13, 14, 15}},
        {15, {0x08, 0xB3, 0x51, 0x98, 0xF0, 0x0A, 0x2B, 0x08}}, // 40.5471 N, 74.3803 W
        {31, {0x08, 0xB3, 0x51, 0x98, 0xF0, 0x0A, 0x2B, 0x08}},
        {43, {0xFF, 0xFF, 0xFF, 0x06}},
        {51, {0x0E, 0x0F, 0x00, 0x0F, 10, 9}},
        {57, {7, 8, 150, 33, 0x08, 0x82}},
        {123, {31, 8, 120, 44, 0x00, 0x81}},
        {129, {0xE0, 0x06}},
        {133, {0xFF, 0xFE, 0xFF, 0xFF, 0xDE, 0x68}},
        {139, {0x00, 0x33, 0xCF, 0x01, 0x05, 0x00}},
        {145, {'T', 'A', 'V', 'R', 'I', 'X', 0x00}},
    };
    for (const Field& f : fields)
        EXPECT_EQ(Bytes(m.begin() + f.offset, m.begin() + f.offset + long(f.bytes.size())), f.bytes)
            << "offset " << f.offset;
}

TEST(SimGpsEncoder, degreesRoundToTheNearestMilliarcsecond)
{
    EXPECT_EQ(GpsMessageEncoder::toMilliarcseconds(40.5471), 145969560);
    EXPECT_EQ(GpsMessageEncoder::toMilliarcseconds(-74.3803), -267769080);
    EXPECT_EQ(GpsMessageEncoder::toMilliarcseconds(-0.0000001), 0);
}

TEST(SimGpsEncoder, gpsFrameCarries152Bytes)
{
    const SimFrame f = DeviceMessages::gpsMessage(GpsMessageEncoder::encode(GpsFix{}));
    EXPECT_EQ(f.bytes[1] | (f.bytes[2] << 8), 154);
    EXPECT_EQ(f.bytes[3], 0);
    EXPECT_EQ(f.bytes.size(), 157u);
}

} // namespace
