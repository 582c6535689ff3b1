#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Builds 152-byte GPS messages field by field (big-endian, as on the wire).
struct GpsTestMessage
{
    std::array<uint8_t, 152> bytes{};

    GpsTestMessage& u8(int offset, uint8_t v)
    {
        bytes[offset] = v;
        return *this;
    }
    GpsTestMessage& be16(int offset, int v)
    {
        bytes[offset] = uint8_t(v >> 8);
        bytes[offset + 1] = uint8_t(v);
        return *this;
    }
    GpsTestMessage& be32(int offset, int32_t v)
    {
        const auto u = uint32_t(v);
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = uint8_t(u >> (24 - 8 * i));
        return *this;
    }
    GpsTestMessage& channel(int n, std::array<uint8_t, 6> block)
    {
        std::memcpy(&bytes[57 + 6 * (n - 1)], block.data(), 6);
        return *this;
    }
    GpsTestMessage& idTag(const char (&tag)[7])
    {
        std::memcpy(&bytes[145], tag, 6);
        return *this;
    }

    // The reference message of the GPS screen tests.
    static GpsTestMessage reference()
    {
        GpsTestMessage m;
        m.u8(4, 3).u8(5, 9).be16(6, 0x07D4)             // 03/09/2004
            .u8(8, 13).u8(9, 5).u8(10, 7)                // 13:05:07
            .be32(15, 145969560).be32(19, -267769080)    // 40.5471 N, 74.3803 W
            .be32(23, 12345).be32(27, -12360)            // cm
            .be32(31, -145969560).be32(35, 267769080)    // 40.5471 S, 74.3803 E
            .be32(39, 12360).be32(43, 0)
            .be16(47, 99).be16(49, -250)                 // cm/s
            .be16(51, 3599)                              // NNW
            .be16(53, 15)                                // 1.5 DOP
            .u8(55, 9).u8(56, 7)
            .channel(1, {31, 8, 200, 99, 0x0F, 0xFA})
            .channel(12, {5, 8, 45, 7, 0x00, 0x03})
            .u8(129, 0xC3).u8(130, 0xC1)                 // 2D fix, both flags; cold start, diff. fix, internal
            .be16(133, -1234).be32(135, -56789)
            .be16(139, 0x0033)                           // 25 C
            .u8(141, 0xCF)                               // enabled, decoded, 15
            .u8(142, 1).u8(143, 5).u8(144, 0)            // -05:00
            .idTag("TAVRIX");
        return m;
    }

    // Every text the GPS screen shows for reference(), in the order written.
    static const std::vector<std::pair<std::string, std::string>>& referenceTexts()
    {
        static const std::vector<std::pair<std::string, std::string>> texts = {
            {"edGPSDate", "03/09/2004"},
            {"edGPSTime", "13:05:07"},
            {"edGPSLatitude", "40.5471 N"},
            {"edGPSLongitude", "74.3803 W"},
            {"edGPSAltitude", "123 meters"},
            {"edGPSSpeed", "0 m/s"},
            {"edGPSHeading", "Heading = NNW"},
            {"edGPSSats", "Sats = 7"},
            {"lblDateTime", "03/09/2004   13:05:07"},
            {"lblFilLat", "Latitude  = 40.5471 N"},
            {"lblFilLon", "Longitude = 74.3803 W"},
            {"lblLat", "Latitude  = 40.5471 S"},
            {"lblLon", "Longitude = 74.3803 E"},
            {"lblFilGPSHeight", "GPS Height = 123 M"},
            {"lblGPSHeight", "GPS Height = 124 M"},
            {"lblFilMSLHeight", "MSL Height = -124 M"},
            {"lblMSLHeight", "MSL Height = 0 M"},
            {"lbl3DSpeed", "3D Speed = 0 m/s"},
            {"lbl2DSpeed", "2D Speed = -2 m/s"},
            {"lblHeading", "Heading = NNW"},
            {"lblClockBias", "Clock Bias = -1234 ns"},
            {"lblOscOffset", "Osc. Offset = -56789 Hz"},
            {"lblTemperature", "Temperature = 25.5 C"},
            {"lblSatData", "9 Visible, 7 Tracked"},
            {"lblUTCMode", "Mode = ENABLED"},
            {"lblUTCOffset", "Offset = DECODED"},
            {"lblUTCValue", "Offset Value = 15"},
            {"lblGMT", "-05:00"},
            {"lblID", "TAVRIX"},
            {"lblRecStat1", "2D Fix"},
            {"lblRecStat2", "(Fast Acq. Pos.)(Filter Reset)"},
            {"lblRecStat3", "(Cold Start)(Diff. Fix)"},
            {"lblRecStat4", ""},
            {"lblRecStat5", ""},
            {"lblRecStat6", "Antenna: OK"},
            {"lblRecStat7", "Code Location: INTERNAL"},
            {"lblChannelHdr", "CHANNEL  SVID  MODE  SIGNAL  IODE  ACCURACY  STATUS"},
            {"lblChannel1", "   01     31    08    200     099     10     (Time Used)(Diff. Corr.)"
                            "(Invalid Data)(Parity Error)(PosFix Used)(Mom Alert)(Anti-Spoof)(Unhealthy)"},
            {"lblChannel2", "   02     00    00    000     000     00     "},
            {"lblChannel3", "   03     00    00    000     000     00     "},
            {"lblChannel4", "   04     00    00    000     000     00     "},
            {"lblChannel5", "   05     00    00    000     000     00     "},
            {"lblChannel6", "   06     00    00    000     000     00     "},
            {"lblChannel7", "   07     00    00    000     000     00     "},
            {"lblChannel8", "   08     00    00    000     000     00     "},
            {"lblChannel9", "   09     00    00    000     000     00     "},
            {"lblChannel10", "   10     00    00    000     000     00     "},
            {"lblChannel11", "   11     00    00    000     000     00     "},
            {"lblChannel12", "   12     05    08    045     007     03     "},
            {"lblGeometry", "1.5 DOP"},
        };
        return texts;
    }
};
