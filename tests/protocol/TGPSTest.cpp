#include "protocol/TGPS.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Message
{
    std::array<uint8_t, TGPS::kMessageSize> bytes{};

    Message& be16(int offset, int value)
    {
        bytes[offset] = uint8_t(value >> 8);
        bytes[offset + 1] = uint8_t(value);
        return *this;
    }
    Message& be32(int offset, int32_t value)
    {
        const auto v = uint32_t(value);
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = uint8_t(v >> (24 - 8 * i));
        return *this;
    }
    Message& byte(int offset, uint8_t value)
    {
        bytes[offset] = value;
        return *this;
    }
    TGPS decode() const
    {
        TGPS gps;
        gps.Decode(bytes.data());
        return gps;
    }
};

} // namespace

TEST(TGPS, freshRecordIsZeroWithItsTextTables)
{
    const TGPS gps;
    EXPECT_EQ(gps.StatusTexts[5], "Propogate Mode");
    EXPECT_EQ(gps.CompassPoints[16], "N");
    EXPECT_EQ(gps.CompassPoints[17], "");
    EXPECT_EQ(gps.AntennaTexts[3], "NV");
    EXPECT_EQ(gps.DateText(), "00/00/0000");
    EXPECT_EQ(gps.LatitudeText(), "0.0000 S");
    for (uint8_t b : gps.Message)
        ASSERT_EQ(b, 0);
}

TEST(TGPS, decodesEveryFieldFromItsBigEndianOffset)
{
    Message m;
    m.byte(4, 12).byte(5, 31).be16(6, 0x07D4).byte(8, 23).byte(9, 59).byte(10, 58);
    m.be32(23, -12345).be32(27, 67890).be32(39, 0x01020304).be32(43, -1);
    m.be16(47, -300).be16(49, 0x1234).be16(51, 1800).be16(53, 25);
    m.byte(55, 200).byte(56, 255);
    for (int i = 0; i < 72; ++i)
        m.byte(57 + i, uint8_t(i + 1));
    m.byte(129, 0xE3).byte(130, 0x85);
    m.be16(133, -7).be32(135, -123456).be16(139, 0xFFFF);
    m.byte(141, 0x3F).byte(142, 0).byte(143, 9).byte(144, 45);
    std::memcpy(&m.bytes[145], "ZKT001", 6);
    m.byte(151, 0x77);

    const TGPS gps = m.decode();
    EXPECT_EQ(gps.Message, m.bytes);
    EXPECT_EQ(gps.Month, 12);
    EXPECT_EQ(gps.Day, 31);
    EXPECT_EQ(gps.Year, 2004);
    EXPECT_EQ(gps.TimeText(), "23:59:58");
    EXPECT_EQ(gps.FilteredGPSHeight, -12345.0);
    EXPECT_EQ(gps.FilteredMSLHeight, 67890.0);
    EXPECT_EQ(gps.GPSHeight, double(0x01020304));
    EXPECT_EQ(gps.MSLHeight, -1.0);
    EXPECT_EQ(gps.Speed3D, -300);
    EXPECT_EQ(gps.Speed2D, 0x1234);
    EXPECT_EQ(gps.Heading, 1800);
    EXPECT_EQ(gps.DOP, 25);
    EXPECT_EQ(gps.VisibleSats, 200);
    EXPECT_EQ(gps.TrackedSats, 255);
    EXPECT_EQ(gps.Channels[0][0], 1);
    EXPECT_EQ(gps.Channels[11][5], 72);
    EXPECT_EQ(gps.StatusByte, 0xE3);
    EXPECT_EQ(gps.ReceiverStatus[0], 0xE3);
    EXPECT_EQ(gps.ReceiverStatus[1], 0x85);
    EXPECT_EQ(gps.ClockBias, -7);
    EXPECT_EQ(gps.OscOffset, -123456);
    EXPECT_EQ(gps.Temperature, -0.5); // signed halves
    EXPECT_FALSE(gps.UTCEnabled);
    EXPECT_FALSE(gps.UTCOffsetDecoded);
    EXPECT_EQ(gps.UTCOffsetValue, 63);
    EXPECT_EQ(gps.GMTOffsetText(), " 09:45");
    EXPECT_STREQ(gps.IDTag, "ZKT001");
}

TEST(TGPS, eachDecodeReplacesThePreviousMessageWhole)
{
    Message full;
    full.be32(15, 1000).byte(4, 7).byte(129, 0xE0).be16(139, 100);
    std::memcpy(&full.bytes[145], "ABCDEF", 6);
    TGPS gps;
    gps.Decode(full.bytes.data());
    gps.Decode(Message{}.bytes.data());
    EXPECT_EQ(gps.FilteredLatitude, 0.0);
    EXPECT_EQ(gps.Month, 0);
    EXPECT_EQ(gps.StatusCode(), 0);
    EXPECT_EQ(gps.Temperature, 0.0);
    EXPECT_STREQ(gps.IDTag, "");
}

TEST(TGPS, positionTextsCarryHemisphereAndFourDecimals)
{
    struct Case { int offset; int32_t mas; double degrees; std::string text; };
    const Case cases[] = {
        {31, 145969560, 40.5471, "40.5471 N"},
        {35, -267769080, -74.3803, "74.3803 W"},
        {31, 0, 0.0, "0.0000 S"},
        {35, 0, 0.0, "0.0000 W"},
        {15, -1, -1.0 / 3600000, "0.0000 S"},
        {19, 648000000, 180.0, "180.0000 E"},
        {31, 1, 1.0 / 3600000, "0.0000 N"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TGPS gps = Message{}.be32(c.offset, c.mas).decode();
        double value = 0;
        std::string text;
        switch (c.offset) {
        case 15: value = gps.FilteredLatitude; text = gps.FilteredLatitudeText(); break;
        case 19: value = gps.FilteredLongitude; text = gps.FilteredLongitudeText(); break;
        case 31: value = gps.Latitude; text = gps.LatitudeText(); break;
        case 35: value = gps.Longitude; text = gps.LongitudeText(); break;
        }
        EXPECT_DOUBLE_EQ(value, c.degrees);
        EXPECT_EQ(text, c.text);
    }
}

TEST(TGPS, headingTruncatesIntoItsCompassSector)
{
    const std::pair<int, std::string> cases[] = {
        {0, "N"}, {200, "N"}, {224, "N"}, {225, "NNE"}, {449, "NNE"}, {450, "NE"},
        {1800, "S"}, {3500, "NNW"}, {3599, "NNW"}, {3600, "N"}, {3824, "N"},
        {3825, ""}, {4499, ""}, {4500, ""}, {32767, ""}, {-1, ""}, {-224, ""}, {-32768, ""},
    };
    for (const auto& [tenths, text] : cases) {
        SCOPED_TRACE(tenths);
        EXPECT_EQ(Message{}.be16(51, tenths).decode().HeadingText(), text);
    }
}

TEST(TGPS, temperatureIsSignedAndKeepsTheHalfDegree)
{
    const std::pair<int, double> cases[] = {{0x33, 25.5}, {0x32, 25}, {0x01, 0.5},  {0xFFF6, -5},
                                            {0xFF92, -55}, {0xFA, 125}, {0xFFFF, -0.5}};
    for (const auto& [halves, degrees] : cases)
        EXPECT_EQ(Message{}.be16(139, halves).decode().Temperature, degrees) << halves;
}

TEST(TGPS, receiverStatusByteOneGivesCodeAndTwoSeparateFlags)
{
    struct Case { uint8_t byte; int code; std::string text; bool fast; bool reset; };
    const Case cases[] = {
        {0xE0, 7, "3D Fix", false, false},
        {0xC0, 6, "2D Fix", false, false},
        {0xA0, 5, "Propogate Mode", false, false},
        {0x80, 4, "Position Hold", false, false},
        {0x60, 3, "Acquiring Satellites", false, false},
        {0x40, 2, "Bad Geometry", false, false},
        {0x20, 1, "Reserved", false, false},
        {0x00, 0, "Reserved", false, false},
        {0x02, 0, "Reserved", true, false},
        {0x01, 0, "Reserved", false, true},
        {0xFF, 7, "3D Fix", true, true},
        {0x3C, 1, "Reserved", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        const TGPS gps = Message{}.byte(129, c.byte).decode();
        EXPECT_EQ(gps.StatusCode(), c.code);
        EXPECT_EQ(gps.ReceiverStatusText(), c.text);
        EXPECT_EQ(gps.FastAcquisition(), c.fast);
        EXPECT_EQ(gps.FilterReset(), c.reset);
    }
}

TEST(TGPS, receiverStatusByteTwoGivesAntennaText)
{
    const std::pair<uint8_t, std::string> cases[] = {
        {0x06, "NV"}, {0x02, "Overcurrent"}, {0x04, "Undercurrent"}, {0x00, "OK"},
        {0x01, "OK"}, {0xF9, "OK"}, {0xFF, "NV"},
    };
    for (const auto& [byte, text] : cases) {
        const TGPS gps = Message{}.byte(130, byte).decode();
        EXPECT_EQ(gps.AntennaText(), text) << int(byte);
        EXPECT_EQ(gps.ReceiverStatus[1] & 0x01, byte & 0x01); // code location: 1 internal
    }
}

TEST(TGPS, gmtOffsetUsesMinusOrSpace)
{
    struct Case { uint8_t sign, hours, minutes; std::string text; };
    const Case cases[] = {
        {1, 5, 0, "-05:00"}, {0, 5, 30, " 05:30"}, {0xFF, 12, 0, "-12:00"}, {0, 0, 0, " 00:00"},
    };
    for (const Case& c : cases) {
        const TGPS gps = Message{}.byte(142, c.sign).byte(143, c.hours).byte(144, c.minutes).decode();
        EXPECT_EQ(gps.GMTOffsetText(), c.text);
        EXPECT_EQ(gps.GMTNegative, c.sign != 0);
    }
}

TEST(TGPS, utcParametersSplitIntoTwoFlagsAndAValue)
{
    const TGPS gps = Message{}.byte(141, 0xCF).decode();
    EXPECT_TRUE(gps.UTCEnabled);
    EXPECT_TRUE(gps.UTCOffsetDecoded);
    EXPECT_EQ(gps.UTCOffsetValue, 15);
}

TEST(TGPS, dateTextIsMonthFirst)
{
    EXPECT_EQ(Message{}.byte(4, 3).byte(5, 9).be16(6, 0x07D4).decode().DateText(), "03/09/2004");
    EXPECT_EQ(Message{}.byte(4, 13).byte(5, 1).be16(6, 2010).decode().DateText(), "13/01/2010");
}

TEST(TGPS, idTagEndsAtItsSixthByteOrAnEarlierNul)
{
    Message m;
    std::memcpy(&m.bytes[145], "TAVRIX", 6);
    m.byte(151, 'Z'); // the byte after the tag is not part of it
    EXPECT_STREQ(m.decode().IDTag, "TAVRIX");
    m.byte(147, 0);
    EXPECT_STREQ(m.decode().IDTag, "TA");
}

