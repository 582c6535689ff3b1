#include "protocol/GpsRecord.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Mode = DecoderWindow::Mode;

class FakeWindow : public DecoderWindow
{
public:
    void pressModeButton(Mode mode) override { presses.push_back(mode); }
    std::vector<Mode> presses;
};

// A received packet: L = payload + 2 unless the test gives another L.
PacketRecord packet(uint8_t type, const Bytes& payload, int length = -1)
{
    PacketRecord record;
    record.setLength(uint16_t(length < 0 ? payload.size() + 2 : length));
    record.bytes[3] = type;
    uint8_t checksum = type;
    for (size_t i = 0; i < payload.size(); ++i) {
        record.bytes[4 + i] = payload[i];
        checksum ^= payload[i];
    }
    record.bytes[4 + payload.size()] = checksum;
    return record;
}

void putLe32(Bytes& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

Bytes settingsBlock(uint32_t lowEdge, uint32_t highEdge, uint16_t stepRaw, uint8_t flags)
{
    Bytes block(12);
    putLe32(block, 0, lowEdge);
    putLe32(block, 4, highEdge);
    block[8] = uint8_t(stepRaw);
    block[9] = uint8_t(stepRaw >> 8);
    block[10] = flags;
    return block;
}

Bytes receiverSetup(uint8_t active, const Bytes& block0, const Bytes& block1)
{
    Bytes payload{active};
    payload.insert(payload.end(), block0.begin(), block0.end());
    payload.insert(payload.end(), block1.begin(), block1.end());
    return payload;
}

Bytes scanChannelList(uint32_t base0, uint32_t base1)
{
    Bytes payload(80);
    for (int slot = 0; slot < 10; ++slot) {
        putLe32(payload, 4 * slot, base0 + slot);
        putLe32(payload, 40 + 4 * slot, base1 + slot);
    }
    return payload;
}

void setActive(DeviceRecord& device, uint8_t flags)
{
    device.edit([&](DeviceRecord::Data& d) { d.receiverActive = {(flags & 1) != 0, (flags & 2) != 0}; });
}

const Bytes kSettingsRequest{0xAA, 0x02, 0x00, 0x01, 0x01};
const Bytes kChannelInfoRequest{0xAA, 0x02, 0x00, 0x30, 0x30};

class DecoderTest : public ::testing::Test
{
protected:
    DecoderTest()
        : decoder(device, samples, gps, [this](const PacketRecord& frame) {
            sent.emplace_back(frame.bytes.begin(), frame.bytes.begin() + frame.length() + 3);
            return true;
        })
    {
        decoder.setWindow(&window);
        decoder.setLoggingHandOff([this](const PacketRecord& p) {
            handedOff.emplace_back(p.fromLength(), p.fromLength() + p.fromLengthCount());
        });
    }

    void decode(const PacketRecord& record) { decoder.decodePacket(record); }
    void decode(uint8_t type, const Bytes& payload) { decode(packet(type, payload)); }
    void activate(uint8_t flags) { setActive(device, flags); }

    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    FakeWindow window;
    std::vector<Bytes> sent;
    std::vector<Bytes> handedOff;
    Decoder decoder;
};

} // namespace

TEST_F(DecoderTest, commandsAreFiveByteFramesWithEmptyPayload)
{
    decoder.requestSerialNumber();
    decoder.requestSettings();
    decoder.requestChannelInfo();
    decoder.sendCommand(0xAA);
    const std::vector<Bytes> expected{
        {0xAA, 0x02, 0x00, 0x1C, 0x1C}, kSettingsRequest, kChannelInfoRequest, {0xAA, 0x02, 0x00, 0xAA, 0xAA}};
    EXPECT_EQ(sent, expected);
}

TEST_F(DecoderTest, serialNumberIsStoredThenSettingsRequested)
{
    struct Case { Bytes payload; std::string serial; };
    const Case cases[] = {
        {{'A', 'B', '1', '2', '3', '4', '5', '6'}, "AB123456"},
        {{'X', 'Y', 0, 0, 0, 0, 0, 0}, "XY"},             // shorter text clears the rest
        {{'Q', 0, 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'}, "Q"},     // stops at the first zero
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, "12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        sent.clear();
        decode(Decoder::SerialNumber, c.payload);
        const DeviceRecord::Data data = device.snapshot();
        EXPECT_EQ(std::string(data.serialNumber), c.serial);
        EXPECT_EQ(data.serialNumber[8], '\0');
        EXPECT_EQ(sent, std::vector<Bytes>{kSettingsRequest});
    }
}

TEST_F(DecoderTest, receiverSetupStoresActiveBlocksOnly)
{
    const Bytes old0 = settingsBlock(1, 2, 256, 0);
    const Bytes old1 = settingsBlock(3, 4, 512, 0);
    const Bytes new0 = settingsBlock(1000, 2000, 7680, 1);
    const Bytes new1 = settingsBlock(5000, 6000, 3200, 0);
    struct Case { uint8_t flags; bool active0, active1; };
    for (const Case& c : {Case{0x00, false, false}, Case{0x01, true, false}, Case{0x02, false, true},
                          Case{0x03, true, true}, Case{0xFC, false, false}}) {
        SCOPED_TRACE(int(c.flags));
        DeviceRecord fresh;
        SampleBuffers freshSamples;
        Decoder d(fresh, freshSamples, gps, nullptr);
        d.decodePacket(packet(Decoder::ReceiverSetup, receiverSetup(0x03, old0, old1)));
        const uint32_t generation0 = fresh.settingsGeneration(0);
        const uint32_t generation1 = fresh.settingsGeneration(1);
        const uint32_t replies = fresh.settingsReplies();

        d.decodePacket(packet(Decoder::ReceiverSetup, receiverSetup(c.flags, new0, new1)));
        EXPECT_EQ(fresh.receiverActive(0), c.active0);
        EXPECT_EQ(fresh.receiverActive(1), c.active1);
        EXPECT_EQ(fresh.settingsGeneration(0) - generation0, c.active0 ? 1u : 0u);
        EXPECT_EQ(fresh.settingsGeneration(1) - generation1, c.active1 ? 1u : 0u);
        EXPECT_EQ(fresh.settingsReplies() - replies, 1u);
        const ReceiverSettings s0 = fresh.settingsCopy(0);
        const ReceiverSettings s1 = fresh.settingsCopy(1);
        EXPECT_EQ(Bytes(s0.block().begin(), s0.block().end()), c.active0 ? new0 : old0);
        EXPECT_EQ(Bytes(s1.block().begin(), s1.block().end()), c.active1 ? new1 : old1);
        EXPECT_EQ(s0.stepKHz, c.active0 ? 30.0 : 1.0);
    }
}

TEST_F(DecoderTest, bandOrStepChangeForgetsThatReceiversTable)
{
    const Bytes band = settingsBlock(1000, 2000, 6400, 0);
    struct Case
    {
        const char* legend;
        Bytes block0;
        bool display0Busy; // receiver 0's event set: its display is drawing a copy
        bool cleared0;
    };
    const Case cases[] = {
        {"same band again", band, false, false},
        {"spare byte only", [&] { Bytes b = band; b[11] = 7; return b; }(), false, false},
        {"new low edge", settingsBlock(1001, 2000, 6400, 0), false, true},
        {"new high edge", settingsBlock(1000, 2001, 6400, 0), false, true},
        {"new step", settingsBlock(1000, 2000, 3200, 0), false, true},
        {"numbering from 991", settingsBlock(1000, 2000, 6400, 1), false, true},
        {"new step while displayed", settingsBlock(1000, 2000, 3200, 0), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        DeviceRecord fresh;
        SampleBuffers freshSamples;
        Decoder d(fresh, freshSamples, gps, nullptr);
        d.decodePacket(packet(Decoder::ReceiverSetup, receiverSetup(0x03, band, band)));
        freshSamples.tableRssi[0][5] = -40;
        freshSamples.tableRssi[1][5] = -40;
        if (c.display0Busy)
            freshSamples.receiverEvents[0].set();
        d.decodePacket(packet(Decoder::ReceiverSetup, receiverSetup(0x03, c.block0, band)));
        EXPECT_EQ(freshSamples.tableRssi[0][5], c.cleared0 ? 0 : -40);
        EXPECT_EQ(freshSamples.tableRssi[1][5], -40); // the other receiver's band stayed
    }
}

TEST_F(DecoderTest, singleBlockAveragesTowardZero)
{
    struct Case { const char* legend; Bytes samples; int average; };
    const Case cases[] = {
        {"truncation", {uint8_t(-50), uint8_t(-51)}, -50},
        {"empty block", {}, -120},
        {"wide sum", Bytes(300, uint8_t(-120)), -120},
        {"toward zero, not down", {uint8_t(-1), 0}, 0},
        {"ten samples", {0xF6, 0xF6, 0xF6, 0xF6, 0xF6, 0xEC, 0xEC, 0xEC, 0xEC, 0xEC}, -15},
        {"extremes", {0x80, 0x7F, 0x7F}, 42},
        {"longest block", Bytes(2045, 0x80), -128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        for (int r = 0; r < 2; ++r) {
            samples.newSamples[r] = 0;
            samples.singleAverage[r] = 99;
            decode(uint8_t(Decoder::SingleBlockR1 + r), c.samples);
            EXPECT_EQ(samples.singleAverage[r], c.average);
            EXPECT_EQ(samples.newSamples[r], 1);
            // Single-mode data wake the display through the timer, not here.
            EXPECT_FALSE(samples.receiverEvents[r].isSet());
            EXPECT_EQ(window.presses.back(), Mode::Single);
        }
    }
}

TEST_F(DecoderTest, singleBlockIsStoredWhileTheDisplayIsStillBusy)
{
    samples.receiverEvents[1].set();
    samples.singleAverage[1] = -77;
    decode(Decoder::SingleBlockR2, Bytes{0xD8});
    EXPECT_EQ(samples.singleAverage[1], -40);
    EXPECT_EQ(samples.newSamples[1], 1);
    EXPECT_EQ(window.presses, std::vector<Mode>{Mode::Single});
    EXPECT_EQ(sent, std::vector<Bytes>{kChannelInfoRequest}); // common steps still run
    EXPECT_EQ(handedOff.size(), 1u);

    decode(Decoder::SingleBlockR1, Bytes{0xD8}); // the other receiver is unaffected
    EXPECT_EQ(samples.singleAverage[0], -40);
}

TEST_F(DecoderTest, scanReportStoresEntriesOfActiveFreeReceivers)
{
    struct Case {
        const char* legend;
        uint8_t active;
        bool busy0, busy1;
        Bytes payload;
        std::vector<std::tuple<int, int, int>> expected; // receiver, slot, dBm
        bool event0, event1;
    };
    const Bytes mixed{1, 3, uint8_t(-70), 0, 0, uint8_t(-80), 1, 9, uint8_t(-60), 0, 4, uint8_t(-90), 0, 0, uint8_t(-85)};
    const Case cases[] = {
        {"only R2 active", 0x02, false, false, mixed, {{1, 3, -70}, {1, 9, -60}}, false, true},
        {"both active, later entry wins", 0x03, false, false, mixed,
         {{1, 3, -70}, {1, 9, -60}, {0, 0, -85}, {0, 4, -90}}, true, true},
        {"R1 display busy: stored all the same", 0x03, true, false, mixed,
         {{1, 3, -70}, {1, 9, -60}, {0, 0, -85}, {0, 4, -90}}, true, true},
        {"no receiver active", 0x00, false, false, mixed, {}, false, false},
        {"entries outside the state ignored", 0x03, false, false,
         {2, 0, uint8_t(-50), 0, 10, uint8_t(-50), 255, 255, uint8_t(-50), 1, 200, uint8_t(-50), 0xFF, 1, uint8_t(-50)},
         {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        DeviceRecord fresh;
        SampleBuffers freshSamples;
        Decoder d(fresh, freshSamples, gps, nullptr);
        FakeWindow w;
        d.setWindow(&w);
        setActive(fresh, c.active);
        if (c.busy0)
            freshSamples.receiverEvents[0].set();
        if (c.busy1)
            freshSamples.receiverEvents[1].set();

        d.decodePacket(packet(Decoder::ScanReport, c.payload));
        int8_t expected[2][10];
        std::memset(expected, -120, sizeof expected);
        for (auto [r, slot, dbm] : c.expected)
            expected[r][slot] = int8_t(dbm);
        EXPECT_EQ(std::memcmp(expected, freshSamples.scanRssi, sizeof expected), 0);
        EXPECT_EQ(freshSamples.receiverEvents[0].isSet(), c.event0);
        EXPECT_EQ(freshSamples.receiverEvents[1].isSet(), c.event1);
        EXPECT_EQ(w.presses, std::vector<Mode>{Mode::Scan});
    }
}

TEST_F(DecoderTest, tableReportStoresByChannelIndex)
{
    activate(0x03);
    decode(Decoder::TableReport,
           {0, 0x02, 0x01, uint8_t(-90), 7, 0xFF, 0x0B, uint8_t(-60), 0, 0x00, 0x0C, uint8_t(-50), 1, 0xFF, 0xFF, uint8_t(-40)});
    EXPECT_EQ(samples.tableRssi[0][258], -90); // channel 259
    EXPECT_EQ(samples.tableRssi[1][3071], -60); // any non-zero receiver byte is R2
    EXPECT_TRUE(samples.receiverEvents[0].isSet());
    EXPECT_TRUE(samples.receiverEvents[1].isSet());
    int written = 0;
    for (int r = 0; r < 2; ++r)
        for (int8_t v : samples.tableRssi[r])
            written += v != 0;
    EXPECT_EQ(written, 2); // indexes 3072 and 65535 ignored
    EXPECT_EQ(window.presses, std::vector<Mode>{Mode::Table});
    EXPECT_EQ(device.channelInfoPresent, 1);
    EXPECT_TRUE(sent.empty());
}

TEST_F(DecoderTest, tableReportLeavesInactiveReceiversAloneAndFillsBusyOnes)
{
    activate(0x01);
    samples.receiverEvents[0].set(); // the display has not taken the last report yet
    decode(Decoder::TableReport, {0, 1, 0, uint8_t(-90), 1, 1, 0, uint8_t(-80), 0, 2, 0, uint8_t(-70), 1, 2, 0, uint8_t(-60)});
    EXPECT_EQ(samples.tableRssi[0][1], -90);
    EXPECT_EQ(samples.tableRssi[0][2], -70);
    EXPECT_EQ(samples.tableRssi[1][1], 0);
    EXPECT_EQ(samples.tableRssi[1][2], 0);
    EXPECT_TRUE(samples.receiverEvents[0].isSet());
    EXPECT_FALSE(samples.receiverEvents[1].isSet());
    EXPECT_EQ(device.channelInfoPresent, 1);
}

TEST_F(DecoderTest, scanChannelListSetsSlotsCurrentAndChannelInfo)
{
    for (int r = 0; r < 2; ++r)
        std::memset(samples.scanRssi[r], -30, 10);
    const PacketRecord list = packet(Decoder::ScanChannelList, scanChannelList(100, 700));
    decode(list);
    for (int r = 0; r < 2; ++r) {
        const ReceiverSettings s = device.settingsCopy(r);
        EXPECT_EQ(s.scanChannels[0], r ? 700u : 100u);
        EXPECT_EQ(s.scanChannels[9], r ? 709u : 109u);
        EXPECT_EQ(s.current, s.scanChannels[0]);
        EXPECT_TRUE(s.scanChannelsKnown);
        for (int8_t v : samples.scanRssi[r])
            EXPECT_EQ(v, -120);
    }
    EXPECT_EQ(device.channelInfoPresent, 1);
    const DeviceRecord::Data data = device.snapshot();
    EXPECT_EQ(data.channelInfoRecord.count, 84);
    EXPECT_EQ(Bytes(data.channelInfoRecord.bytes.begin(), data.channelInfoRecord.bytes.begin() + 84),
              Bytes(list.bytes.begin() + 1, list.bytes.begin() + 85));
    EXPECT_FALSE(samples.receiverEvents[0].isSet());
}

TEST_F(DecoderTest, currentFrequencyReplacesChannelInfoAndStopsRequests)
{
    decode(Decoder::ScanChannelList, scanChannelList(1, 2)); // leaves 84 bytes behind
    device.channelInfoPresent = 0;
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    EXPECT_EQ(sent, std::vector<Bytes>{kChannelInfoRequest});

    Bytes payload(8);
    putLe32(payload, 0, 0x01020304);
    putLe32(payload, 4, 0xFFFFFFFF);
    decode(Decoder::CurrentFrequency, payload);
    EXPECT_EQ(device.settingsCopy(0).current, 0x01020304u);
    EXPECT_EQ(device.settingsCopy(1).current, 0xFFFFFFFFu); // inactive receivers too
    const DeviceRecord::Data data = device.snapshot();
    const RecordSlot& slot = data.channelInfoRecord;
    EXPECT_EQ(slot.count, 12);
    const Bytes head{0x0A, 0x00, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x05 ^ 0x04 ^ 0x03 ^ 0x02 ^ 0x01};
    EXPECT_EQ(Bytes(slot.bytes.begin(), slot.bytes.begin() + 12), head);
    for (size_t i = 12; i < slot.bytes.size(); ++i)
        ASSERT_EQ(slot.bytes[i], 0) << i;

    decode(Decoder::SingleBlockR1, {0x90});
    decode(Decoder::SingleBlockR2, {0x90});
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(DecoderTest, measurementPacketsAskForChannelInfoUntilItArrives)
{
    decode(Decoder::SingleBlockR1, {});
    decode(Decoder::SingleBlockR2, {0x90});
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    decode(Decoder::TableReport, Bytes(16, 0xFF)); // counts as channel information
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    EXPECT_EQ(sent, std::vector<Bytes>(3, kChannelInfoRequest));
}

TEST_F(DecoderTest, clockMarkerStoresClockAndWakesStatus)
{
    decode(Decoder::ClockMarker, {5, 4, 3, 17, 11, 7, 42});
    EXPECT_EQ(device.rtcDateText(), "11/17/2007");
    EXPECT_EQ(device.rtcTimeText(), "03:04:05");
    EXPECT_EQ(device.markerNumber(), 42);
    EXPECT_TRUE(device.rtcEvent.isSet());
    decode(Decoder::ClockMarker, {0, 0, 0, 1, 1, 0, 255});
    EXPECT_EQ(device.markerNumber(), 255);
}

TEST_F(DecoderTest, gpsMessageIsDecodedAndWakesTheGpsScreen)
{
    Bytes message(152);
    message[31] = 0x08; // 145969560 mas, big-endian
    message[32] = 0xB3;
    message[33] = 0x51;
    message[34] = 0x98;
    message[129] = 0xE0;
    decode(Decoder::GpsMessage, message);
    EXPECT_TRUE(gps.gpsEvent.isSet());
    const TGPS copy = gps.copy();
    EXPECT_EQ(copy.LatitudeText(), "40.5471 N");
    EXPECT_EQ(copy.ReceiverStatusText(), "3D Fix");
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(window.presses.empty());
}

TEST_F(DecoderTest, truncatedPacketsAreLoggedButNotDecoded)
{
    activate(0x03);
    // Each record holds a full, plausible payload behind a length that cuts
    // it short, so reading past L would show in the state.
    struct Case { const char* legend; uint8_t type; int payloadSize; int length; };
    const Case cases[] = {
        {"gps", Decoder::GpsMessage, 152, 153},
        {"setup", Decoder::ReceiverSetup, 25, 26},
        {"clock", Decoder::ClockMarker, 7, 8},
        {"current frequency", Decoder::CurrentFrequency, 8, 9},
        {"scan channel list", Decoder::ScanChannelList, 80, 81},
        {"scan report", Decoder::ScanReport, 15, 16},
        {"table report", Decoder::TableReport, 16, 17},
        {"serial number", Decoder::SerialNumber, 8, 9},
        {"single block, L 1", Decoder::SingleBlockR1, 4, 1},
        {"single block, L 0", Decoder::SingleBlockR2, 4, 0},
        {"L beyond the record", Decoder::SingleBlockR1, 4, 2050},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes payload(c.payloadSize, 0x01);
        payload[0] = 0x03;
        handedOff.clear();
        decode(packet(c.type, payload, c.length));
        if (c.length <= 2047) {
            ASSERT_EQ(handedOff.size(), 1u);
            EXPECT_EQ(handedOff[0].size(), size_t(c.length + 2));
        } else {
            EXPECT_TRUE(handedOff.empty());
        }
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(window.presses.empty());
    EXPECT_FALSE(gps.gpsEvent.isSet());
    EXPECT_FALSE(device.rtcEvent.isSet());
    EXPECT_FALSE(samples.receiverEvents[0].isSet());
    EXPECT_FALSE(samples.receiverEvents[1].isSet());
    EXPECT_EQ(device.settingsReplies(), 0u);
    EXPECT_EQ(samples.newSamples[0], 0);
    EXPECT_EQ(samples.newSamples[1], 0);
    EXPECT_EQ(device.channelInfoPresent, 0);
    EXPECT_EQ(device.snapshot().channelInfoRecord.count, 0);
    EXPECT_EQ(device.serialNumberText(), "");
    EXPECT_EQ(device.markerNumber(), 0);
    EXPECT_EQ(device.settingsCopy(0).current, 0u);
    EXPECT_EQ(device.settingsCopy(0).stepRaw(), 0);
    EXPECT_EQ(gps.copy().Message[0], 0);
}

TEST_F(DecoderTest, codesWithoutHandlerAreOnlyLogged)
{
    for (int type : {8, 10, 27, 29, 48, 255}) {
        SCOPED_TRACE(type);
        decode(uint8_t(type), Bytes(152, 0x01));
    }
    EXPECT_EQ(handedOff.size(), 6u);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(window.presses.empty());
    EXPECT_EQ(device.channelInfoPresent, 0);
    EXPECT_EQ(device.settingsReplies(), 0u);
    EXPECT_EQ(samples.scanRssi[0][1], -120);
    EXPECT_FALSE(gps.gpsEvent.isSet());
}

TEST_F(DecoderTest, handOffRunsLastWithThePacketFromItsLengthField)
{
    std::vector<std::pair<int, size_t>> seen; // channelInfoPresent, frames sent so far
    decoder.setLoggingHandOff([&](const PacketRecord& p) {
        seen.emplace_back(device.channelInfoPresent.load(), sent.size());
        handedOff.emplace_back(p.fromLength(), p.fromLength() + p.fromLengthCount());
    });
    decode(Decoder::SingleBlockR1, {0x90, 0x91});
    decode(Decoder::CurrentFrequency, Bytes(8, 0));
    EXPECT_EQ(seen, (std::vector<std::pair<int, size_t>>{{0, 1}, {1, 1}}));
    ASSERT_EQ(handedOff.size(), 2u);
    EXPECT_EQ(handedOff[0], (Bytes{0x04, 0x00, 0x02, 0x90, 0x91, 0x02 ^ 0x90 ^ 0x91}));

    decoder.setLoggingHandOff(nullptr);
    decode(Decoder::SingleBlockR1, {0x90});
    EXPECT_EQ(handedOff.size(), 2u);
}

TEST_F(DecoderTest, modePressesFollowTheDataWithoutAWindowToo)
{
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    decode(Decoder::TableReport, Bytes(16, 0xFF));
    decode(Decoder::SingleBlockR2, {});
    EXPECT_EQ(window.presses, (std::vector<Mode>{Mode::Scan, Mode::Table, Mode::Single}));
    decoder.setWindow(nullptr);
    decode(Decoder::ScanReport, Bytes(15, 0xFF));
    EXPECT_EQ(window.presses.size(), 3u);
}

// What the history of each receiver is given: every report in decoding order,
// with the settings that name its channels placed before the reports they
// name, however the display takes them.
TEST_F(DecoderTest, everyReportReachesItsReceiversJournalInOrderAfterTheSettingsThatNameIt)
{
    using Kind = SampleReport::Kind;
    const Bytes bandA = settingsBlock(1000, 2000, 6400, 0);
    const Bytes bandB = settingsBlock(3000, 4000, 6400, 0);
    decode(Decoder::ReceiverSetup, receiverSetup(0x03, bandA, bandA));
    const Bytes mixed{1, 3, uint8_t(-70), 0, 0, uint8_t(-80), 1, 9, uint8_t(-60), 0, 4, uint8_t(-90), 0, 0, uint8_t(-85)};
    decode(Decoder::ScanReport, mixed);
    // The same band again names nothing new.
    decode(Decoder::ReceiverSetup, receiverSetup(0x03, bandA, bandA));
    decode(Decoder::ReceiverSetup, receiverSetup(0x03, bandB, bandA));
    decode(Decoder::TableReport, {0, 0x02, 0x01, uint8_t(-90), 1, 0x05, 0x00, uint8_t(-60), 0, 0x00, 0x0C,
                                  uint8_t(-50), 0, 0x00, 0x00, uint8_t(-40)});
    decode(Decoder::SingleBlockR2, {uint8_t(-50), uint8_t(-51)});
    decode(Decoder::ScanChannelList, scanChannelList(1500, 1600));

    struct Expected
    {
        Kind kind;
        std::vector<std::pair<int, int>> entries; // index, dBm
        uint32_t lowEdge = 0; // Settings only
    };
    const std::vector<Expected> expected[2] = {
        {{Kind::Settings, {}, 1000},
         {Kind::Scan, {{0, -80}, {4, -90}, {0, -85}}},
         {Kind::Settings, {}, 3000},
         {Kind::Table, {{0x102, -90}, {0, -40}}}, // index 3072 is outside the table
         {Kind::Settings, {}, 3000}},
        {{Kind::Settings, {}, 1000},
         {Kind::Scan, {{3, -70}, {9, -60}}},
         {Kind::Table, {{5, -60}}},
         {Kind::Single, {{0, -50}}},
         {Kind::Settings, {}, 1000}},
    };
    for (int r = 0; r < 2; ++r) {
        SCOPED_TRACE(r);
        std::vector<SampleReport> got;
        samples.reports[r].takeAll(got);
        ASSERT_EQ(got.size(), expected[r].size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].kind, expected[r][i].kind);
            std::vector<std::pair<int, int>> entries;
            for (int e = 0; e < got[i].count; ++e)
                entries.emplace_back(got[i].entries[e].index, got[i].entries[e].dBm);
            EXPECT_EQ(entries, expected[r][i].entries);
            if (got[i].kind == Kind::Settings) {
                ASSERT_TRUE(got[i].settings.has_value());
                EXPECT_EQ(got[i].settings->lowEdge(), expected[r][i].lowEdge);
            } else {
                EXPECT_GT(got[i].utcMs, 1'700'000'000'000);
            }
        }
        // Taken means gone.
        samples.reports[r].takeAll(got);
        EXPECT_TRUE(got.empty());
    }
}

TEST(ReportJournal, aFullJournalDropsReportsButNeverSettings)
{
    ReportJournal journal;
    SampleReport report;
    report.count = 1;
    for (std::size_t i = 0; i < ReportJournal::kCapacity + 3; ++i)
        journal.push(report);
    SampleReport settings;
    settings.kind = SampleReport::Kind::Settings;
    journal.push(settings);
    EXPECT_EQ(journal.dropped(), 3u);
    std::vector<SampleReport> got;
    journal.takeAll(got);
    ASSERT_EQ(got.size(), ReportJournal::kCapacity + 1);
    EXPECT_EQ(got.back().kind, SampleReport::Kind::Settings);
}
