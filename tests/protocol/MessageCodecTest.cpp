#include "protocol/MessageCodec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Codec = MessageCodec;

Bytes withTail(Bytes b, size_t extra)
{
    b.insert(b.end(), extra, 0xEE);
    return b;
}

TEST(MessageCodec, ScanReportEntriesReadAsReceiverSlotAndSignedRssi)
{
    const Bytes payload{0x00, 0x00, 0xB5, 0x01, 0x09, 0x80, 0x00, 0x03, 0x7F, 0x02, 0x0A, 0xFF, 0x01, 0x04, 0x00};
    const auto report = Codec::scanReport(payload);
    ASSERT_TRUE(report);
    const Codec::ScanReport expected{{{0, 0, -75}, {1, 9, -128}, {0, 3, 127}, {2, 10, -1}, {1, 4, 0}}};
    EXPECT_EQ(*report, expected);
    EXPECT_EQ(Codec::scanReport(withTail(payload, 3)), report) << "bytes past the message are not read";
    EXPECT_FALSE(Codec::scanReport(Bytes(payload.begin(), payload.end() - 1)));
}

TEST(MessageCodec, TableEntriesCarryALittleEndianIndexAndAnyNonZeroReceiverIsTheSecond)
{
    const Bytes payload{0x00, 0x34, 0x12, 0xC4, 0x01, 0xFF, 0x0B, 0x00, 0x07, 0x00, 0x00, 0x9C, 0x00, 0x01, 0x00, 0x80};
    const auto report = Codec::tableReport(payload);
    ASSERT_TRUE(report);
    EXPECT_EQ((*report)[0], (Codec::TableEntry{0, 0x1234, -60}));
    EXPECT_EQ((*report)[1], (Codec::TableEntry{1, 0x0BFF, 0}));
    EXPECT_EQ((*report)[2], (Codec::TableEntry{7, 0, -100}));
    EXPECT_EQ((*report)[2].receiver(), 1);
    EXPECT_EQ((*report)[3].receiver(), 0);
    EXPECT_EQ((*report)[3].rssi, -128);
    EXPECT_FALSE(Codec::tableReport(Bytes(15)));
}

TEST(MessageCodec, ChannelInformationReadsLittleEndianValuesPerReceiver)
{
    const Bytes current{0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x80};
    const auto f = Codec::currentFrequency(current);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->current[0], 0x12345678u);
    EXPECT_EQ(f->current[1], 0x80000001u);
    EXPECT_FALSE(Codec::currentFrequency(Bytes(7)));

    Bytes list(80);
    for (size_t i = 0; i < 20; ++i)
        list[4 * i] = uint8_t(i + 1), list[4 * i + 3] = uint8_t(0x10 * (i % 10));
    const auto l = Codec::scanChannelList(withTail(list, 2));
    ASSERT_TRUE(l);
    EXPECT_EQ(l->channels[0][0], 0x00000001u);
    EXPECT_EQ(l->channels[0][9], 0x9000000Au);
    EXPECT_EQ(l->channels[1][0], 0x0000000Bu);
    EXPECT_EQ(l->channels[1][9], 0x90000014u);
    EXPECT_FALSE(Codec::scanChannelList(Bytes(79)));
}

TEST(MessageCodec, ReceiverSetupSplitsFlagsAndTwoTwelveByteBlocks)
{
    Bytes payload(25);
    payload[0] = 0x02;
    for (size_t i = 1; i < 25; ++i)
        payload[i] = uint8_t(i);
    const auto setup = Codec::receiverSetup(payload);
    ASSERT_TRUE(setup);
    EXPECT_FALSE(setup->active(0));
    EXPECT_TRUE(setup->active(1));
    EXPECT_EQ(setup->blocks[0][0], 1);
    EXPECT_EQ(setup->blocks[0][11], 12);
    EXPECT_EQ(setup->blocks[1][0], 13);
    EXPECT_EQ(setup->blocks[1][11], 24);
    EXPECT_FALSE(Codec::receiverSetup(Bytes(24)));
}

TEST(MessageCodec, SingleBlockMeanTruncatesTowardZeroAndAnEmptyBlockHasNone)
{
    struct Row
    {
        Bytes samples;
        std::optional<int8_t> mean;
    };
    const Row rows[] = {
        {{}, std::nullopt},
        {{0x80}, -128},
        {{0xFF, 0xFE}, -1},       // -1.5
        {{0x01, 0x02}, 1},        // 1.5
        {{0x9C, 0x9D, 0x9D}, -99}, // -99.67
        {Bytes(2045, 0x80), -128},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Codec::singleBlock(r.samples).mean(), r.mean) << r.samples.size() << " samples";
}

TEST(MessageCodec, SerialNumberStopsAtTheFirstNulWithinEightBytes)
{
    EXPECT_EQ(Codec::serialNumber(Bytes{'T', 'X', '0', '4', '2', 0, 'Z', 'Z'}), "TX042");
    EXPECT_EQ(Codec::serialNumber(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), "12345678");
    EXPECT_FALSE(Codec::serialNumber(Bytes(7, '1')));
    const Bytes clock{1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(Codec::clockMarker(clock));
    EXPECT_EQ(Codec::clockMarker(clock)->fields[6], 7);
    EXPECT_FALSE(Codec::clockMarker(Bytes(6)));
}

TEST(MessageCodec, GpsMessageIsTheFirst152BytesOfALongEnoughPayload)
{
    Bytes payload(160, 0x11);
    const auto m = Codec::gpsMessage(payload);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->data(), payload.data());
    EXPECT_FALSE(Codec::gpsMessage(Bytes(151)));
}

// The lengths handed to the framer: what the device sends must pass, and a
// frame whose type byte is a sync byte, or one longer than its type can be,
// must not.
TEST(MessageCodec, FrameLengthsPassTheDevicesMessagesAndStopOverlongOnes)
{
    const FrameLengths lengths = Codec::frameLengths();
    struct Row
    {
        uint8_t type;
        int length;
        bool plausible;
    };
    const Row rows[] = {
        {Message::ScanReport, 17, true},      {Message::ScanReport, 18, false},
        {Message::ScanReport, 2, true},       {Message::TableReport, 18, true},
        {Message::TableReport, 19, false},    {Message::GpsMessage, 154, true},
        {Message::GpsMessage, 256, true},     {Message::GpsMessage, 2000, false},
        {Message::SingleBlockR1, 2047, true}, {Message::SingleBlockR2, 2, true},
        {Message::ReceiverSetup, 27, true},   {Message::ReceiverSetup, 28, false},
        {Message::ScanChannelList, 82, true}, {Message::ScanChannelList, 83, false},
        {Message::CurrentFrequency, 10, true}, {Message::ClockMarker, 9, true},
        {Message::SerialNumber, 10, true},    {Message::SerialNumber, 11, false},
        {0x1C, 2, true},                      {0x30, 2, true},
        {0x42, 256, true},                    {0x42, 257, false},
        {0xAA, 2, false},                     {0xAA, 2000, false},
        {Message::ScanReport, 0, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(lengths.plausible(r.type, r.length), r.plausible) << "type " << int(r.type) << " L " << r.length;
}

} // namespace
