#include "gps/GpsScreenText.h"
#include "protocol/TGPS.h"
#include "gps/GpsTestMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TGPS decoded(const GpsTestMessage& m)
{
    TGPS gps;
    gps.Decode(m.bytes.data());
    return gps;
}

std::string textOf(const std::vector<GpsScreenText::Row>& rows, const std::string& target)
{
    for (const auto& row : rows)
        if (target == row.target)
            return row.text;
    ADD_FAILURE() << "no row for " << target;
    return {};
}

} // namespace

// Every text of one refresh, in screen order, for the reference message.
TEST(GpsScreenText, ReferenceMessageGivesEveryRowInOrder)
{
    const auto& expected = GpsTestMessage::referenceTexts();
    const auto rows = GpsScreenText::rows(decoded(GpsTestMessage::reference()));
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].target, expected[i].first) << "row " << i;
        EXPECT_EQ(rows[i].text, expected[i].second) << rows[i].target;
    }
}

TEST(GpsScreenText, ReceiverStatusFlagRowsFollowTheirBits)
{
    struct Case
    {
        uint8_t status1, status2;
        const char *stat2, *stat3, *stat4, *stat5, *stat6, *stat7;
    };
    const Case cases[] = {
        {0x00, 0x00, "", "", "", "", "Antenna: OK", "Code Location: EXTERNAL"},
        // Bits 5 and 4 belong to the status code, not to the two flags.
        {0x30, 0x30, "", "", "(Pos. Lock)(Autosurvey)", "", "Antenna: OK", "Code Location: EXTERNAL"},
        {0x02, 0x08, "(Fast Acq. Pos.)", "", "", "(Insuff. Visible Sat's)", "Antenna: OK",
         "Code Location: EXTERNAL"},
        {0x01, 0x46, "(Filter Reset)", "(Diff. Fix)", "", "", "Antenna: NV", "Code Location: EXTERNAL"},
        {0xE0, 0x83, "", "(Cold Start)", "", "", "Antenna: Overcurrent", "Code Location: INTERNAL"},
        {0x00, 0x24, "", "", "(Pos. Lock)", "", "Antenna: Undercurrent", "Code Location: EXTERNAL"},
    };
    for (const Case& c : cases) {
        const auto rows = GpsScreenText::rows(decoded(GpsTestMessage{}.u8(129, c.status1).u8(130, c.status2)));
        SCOPED_TRACE(testing::Message() << "status bytes " << int(c.status1) << ", " << int(c.status2));
        EXPECT_EQ(textOf(rows, "lblRecStat2"), c.stat2);
        EXPECT_EQ(textOf(rows, "lblRecStat3"), c.stat3);
        EXPECT_EQ(textOf(rows, "lblRecStat4"), c.stat4);
        EXPECT_EQ(textOf(rows, "lblRecStat5"), c.stat5);
        EXPECT_EQ(textOf(rows, "lblRecStat6"), c.stat6);
        EXPECT_EQ(textOf(rows, "lblRecStat7"), c.stat7);
    }
}

TEST(GpsScreenText, NumbersAreFormattedAsShown)
{
    struct Case
    {
        GpsTestMessage message;
        const char* target;
        const char* text;
    };
    const Case cases[] = {
        {GpsTestMessage{}.be16(47, 250), "lbl3DSpeed", "3D Speed = 2 m/s"},
        {GpsTestMessage{}.be16(47, -250), "edGPSSpeed", "-2 m/s"},
        {GpsTestMessage{}.be16(49, -99), "lbl2DSpeed", "2D Speed = 0 m/s"},
        {GpsTestMessage{}.be16(53, 0), "lblGeometry", "0.0 DOP"},
        {GpsTestMessage{}.be32(23, 12360), "edGPSAltitude", "124 meters"},
        {GpsTestMessage{}.be16(139, 0x0032), "lblTemperature", "Temperature = 25.0 C"},
        {GpsTestMessage{}.be16(139, 0x0033), "lblTemperature", "Temperature = 25.5 C"},
        {GpsTestMessage{}.be16(139, 0xFFF6), "lblTemperature", "Temperature = -5.0 C"},
        {GpsTestMessage{}.u8(142, 0).u8(143, 5).u8(144, 30), "lblGMT", " 05:30"},
        {GpsTestMessage{}.be16(51, 224), "lblHeading", "Heading = N"},
        {GpsTestMessage{}.be16(51, 225), "edGPSHeading", "Heading = NNE"},
        {GpsTestMessage{}.be16(51, 3825), "lblHeading", "Heading = "},
        {GpsTestMessage{}.be32(135, 2147483647), "lblOscOffset", "Osc. Offset = 2147483647 Hz"},
        {GpsTestMessage{}.u8(141, 0x00), "lblUTCOffset", "Offset = NOT DECODED"},
        {GpsTestMessage{}.u8(141, 0x00), "lblUTCMode", "Mode = DISABLED"},
        {GpsTestMessage{}.u8(55, 255).u8(56, 12), "lblSatData", "255 Visible, 12 Tracked"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textOf(GpsScreenText::rows(decoded(c.message)), c.target), c.text) << c.target;
}

TEST(GpsScreenText, StatusColoursByFixQuality)
{
    for (int code = 0; code < 8; ++code) {
        const GpsScreenText::Colours c = GpsScreenText::statusColours(code);
        if (code == 6) {
            EXPECT_EQ(c.background, 0xFFFF00u);
            EXPECT_EQ(c.text, 0x000000u);
        } else if (code == 7) {
            EXPECT_EQ(c.background, 0x008000u);
            EXPECT_EQ(c.text, 0xFFFFFFu);
        } else {
            EXPECT_EQ(c.background, 0xFF0000u) << code;
            EXPECT_EQ(c.text, 0xFFFFFFu) << code;
        }
    }
}
