#include "GpsScreenText.h"

#include "protocol/TGPS.h"

#include <algorithm>
#include <cstdio>

namespace {

template <typename... Args>
std::string format(const char* fmt, Args... args)
{
    char text[160];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string flags(uint8_t byte, std::initializer_list<std::pair<uint8_t, const char*>> bits)
{
    std::string text;
    for (const auto& [mask, name] : bits)
        if (byte & mask)
            text += name;
    return text;
}

} // namespace

std::string GpsScreenText::metresText(double centimetres)
{
    return format("%.0f M", centimetres * 0.01);
}

std::string GpsScreenText::speedText(int16_t centimetresPerSecond)
{
    return format("%d m/s", centimetresPerSecond / 100);
}

std::string GpsScreenText::channelStatusText(const std::array<uint8_t, 6>& block)
{
    return flags(block[4], {{0x08, "(Time Used)"}, {0x04, "(Diff. Corr.)"},
                            {0x02, "(Invalid Data)"}, {0x01, "(Parity Error)"}})
        + flags(block[5], {{0x80, "(PosFix Used)"}, {0x40, "(Mom Alert)"},
                           {0x20, "(Anti-Spoof)"}, {0x10, "(Unhealthy)"}});
}

std::string GpsScreenText::channelLine(int channel, const std::array<uint8_t, 6>& block)
{
    return format("   %02d     %02d    %02d    %03d     %03d     %02d     %s", channel,
                  unsigned{block[0]}, unsigned{block[1]}, unsigned{block[2]}, unsigned{block[3]},
                  unsigned{block[5] & 0x0Fu}, channelStatusText(block).c_str());
}

GpsScreenText::Colours GpsScreenText::statusColours(int statusCode)
{
    switch (statusCode) {
    case 6: return {0xFFFF00, 0x000000}; // 2D Fix
    case 7: return {0x008000, 0xFFFFFF}; // 3D Fix
    default: return {0xFF0000, 0xFFFFFF};
    }
}

std::vector<GpsScreenText::Row> GpsScreenText::rows(const TGPS& gps)
{
    const uint8_t status2 = gps.ReceiverStatus[1];
    std::vector<Row> rows = {
        {"edGPSDate", gps.DateText()},
        {"edGPSTime", gps.TimeText()},
        {"edGPSLatitude", gps.FilteredLatitudeText()},
        {"edGPSLongitude", gps.FilteredLongitudeText()},
        {"edGPSAltitude", format("%.0f meters", gps.FilteredGPSHeight * 0.01)},
        {"edGPSSpeed", speedText(gps.Speed3D)},
        {"edGPSHeading", "Heading = " + gps.HeadingText()},
        {"edGPSSats", "Sats = " + std::to_string(gps.TrackedSats)},
        {"lblDateTime", gps.DateText() + "   " + gps.TimeText()},
        {"lblFilLat", "Latitude  = " + gps.FilteredLatitudeText()},
        {"lblFilLon", "Longitude = " + gps.FilteredLongitudeText()},
        {"lblLat", "Latitude  = " + gps.LatitudeText()},
        {"lblLon", "Longitude = " + gps.LongitudeText()},
        {"lblFilGPSHeight", "GPS Height = " + metresText(gps.FilteredGPSHeight)},
        {"lblGPSHeight", "GPS Height = " + metresText(gps.GPSHeight)},
        {"lblFilMSLHeight", "MSL Height = " + metresText(gps.FilteredMSLHeight)},
        {"lblMSLHeight", "MSL Height = " + metresText(gps.MSLHeight)},
        {"lbl3DSpeed", "3D Speed = " + speedText(gps.Speed3D)},
        {"lbl2DSpeed", "2D Speed = " + speedText(gps.Speed2D)},
        {"lblHeading", "Heading = " + gps.HeadingText()},
        {"lblClockBias", format("Clock Bias = %d ns", gps.ClockBias)},
        {"lblOscOffset", format("Osc. Offset = %ld Hz", long{gps.OscOffset})},
        {"lblTemperature", format("Temperature = %.1f C", gps.Temperature)},
        {"lblSatData", std::to_string(gps.VisibleSats) + " Visible, "
                           + std::to_string(gps.TrackedSats) + " Tracked"},
        {"lblUTCMode", format("Mode = %s", gps.UTCEnabled ? "ENABLED" : "DISABLED")},
        {"lblUTCOffset", format("Offset = %s", gps.UTCOffsetDecoded ? "DECODED" : "NOT DECODED")},
        {"lblUTCValue", format("Offset Value = %d", gps.UTCOffsetValue)},
        {"lblGMT", gps.GMTOffsetText()},
        {"lblID", gps.IDTag},
        {"lblRecStat1", gps.ReceiverStatusText()},
        {"lblRecStat2", std::string(gps.FastAcquisition() ? "(Fast Acq. Pos.)" : "")
                            + (gps.FilterReset() ? "(Filter Reset)" : "")},
        {"lblRecStat3", flags(status2, {{0x80, "(Cold Start)"}, {0x40, "(Diff. Fix)"}})},
        {"lblRecStat4", flags(status2, {{0x20, "(Pos. Lock)"}, {0x10, "(Autosurvey)"}})},
        {"lblRecStat5", flags(status2, {{0x08, "(Insuff. Visible Sat's)"}})},
        {"lblRecStat6", "Antenna: " + gps.AntennaText()},
        {"lblRecStat7", std::string("Code Location: ") + (status2 & 0x01 ? "INTERNAL" : "EXTERNAL")},
        {"lblChannelHdr", kChannelHeader},
    };
    static constexpr const char* kChannelLabels[TGPS::kChannels] = {
        "lblChannel1", "lblChannel2", "lblChannel3", "lblChannel4", "lblChannel5", "lblChannel6",
        "lblChannel7", "lblChannel8", "lblChannel9", "lblChannel10", "lblChannel11", "lblChannel12"};
    for (int n = 0; n < TGPS::kChannels; ++n)
        rows.push_back({kChannelLabels[n], channelLine(n + 1, gps.Channels[n])});
    rows.push_back({"lblGeometry", format("%.1f DOP", gps.DOP * 0.1)});
    return rows;
}

std::vector<std::vector<GpsScreenText::Row>> GpsScreenText::extremeRows()
{
    std::vector<std::vector<Row>> all;
    for (const uint8_t fill : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80), uint8_t(0x7F), uint8_t('W'), uint8_t('@')}) {
        std::array<uint8_t, TGPS::kMessageSize> message;
        message.fill(fill);
        TGPS gps;
        gps.Decode(message.data());
        // The receiver reports -110 to 250 half degrees; the field's full
        // range would shrink the text for values that never come.
        gps.Temperature = std::clamp(gps.Temperature, -55.0, 125.0);
        all.push_back(rows(gps));
    }
    // Compass texts differ in width by sector.
    for (int sector = 0; sector < 16; ++sector) {
        std::array<uint8_t, TGPS::kMessageSize> message{};
        message[51] = uint8_t((sector * 225) >> 8);
        message[52] = uint8_t(sector * 225);
        TGPS gps;
        gps.Decode(message.data());
        all.push_back(rows(gps));
    }
    return all;
}
