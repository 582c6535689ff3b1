#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TGPS;

// The texts of the GPS screen, built from one copy of the GPS record with no
// widgets involved; TGPS_Router only puts them into the controls.
class GpsScreenText
{
public:
    struct Row
    {
        const char* target; // object name of the label or edit
        std::string text;   // Latin-1: the ID tag comes from the device as is
    };

    struct Colours
    {
        uint32_t background; // 0xRRGGBB
        uint32_t text;       // 0xRRGGBB
    };

    static constexpr const char* kChannelHeader =
        "CHANNEL  SVID  MODE  SIGNAL  IODE  ACCURACY  STATUS";

    // Every text of one refresh, in the order the screen is written.
    static std::vector<Row> rows(const TGPS& gps);

    // The fix quality colour field: 2D yellow on black text, 3D green on
    // white, anything else red on white.
    static Colours statusColours(int statusCode);

    // Channel n (1-12) of the table, from its 6-byte block.
    static std::string channelLine(int channel, const std::array<uint8_t, 6>& block);
    static std::string channelStatusText(const std::array<uint8_t, 6>& block);

    // The rows of a few extreme messages (every byte 0x00, 0xFF, 0x80, 0x7F,
    // 'W' or '@', every flag set): between them they hold the widest text
    // each field can show, so the screen can size its fonts once.
    static std::vector<std::vector<Row>> extremeRows();

    static std::string metresText(double centimetres);  // "%.0f M"
    static std::string speedText(int16_t centimetresPerSecond); // "%d m/s", toward zero
};
