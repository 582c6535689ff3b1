// The emulated device's behaviour: answers, measurement streams, GPS route
// and the on/off cycles.
#include "DeviceModel.h"
#include "GpsRoute.h"
#include "MessageTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <utility>

namespace {

const uint8_t* payload(const SimFrame& f)
{
    return f.bytes.data() + 4;
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

DeviceConfig config(MeasurementMode mode, uint8_t active = 0x03)
{
    DeviceConfig c;
    c.mode = mode;
    c.activeFlags = active;
    c.band = {34040, 34099, 6400, false}; // 60 channels
    return c;
}

TEST(SimDeviceModel, answersEachCommandAsTheDeviceDoes)
{
    DeviceConfig c = config(MeasurementMode::Scan);
    c.serial = "ZX9";
    DeviceModel model(c);

    const auto serial = model.answer(sim::SerialNumberRequest);
    ASSERT_EQ(serial.size(), 1u);
    EXPECT_EQ(serial[0].type, sim::SerialNumber);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload(serial[0]))), "ZX9");

    const auto setup = model.answer(sim::SettingsRequest);
    ASSERT_EQ(setup.size(), 1u);
    EXPECT_EQ(setup[0].type, sim::ReceiverSetup);
    EXPECT_EQ(payload(setup[0])[0], 0x03);
    EXPECT_EQ(le32(payload(setup[0]) + 1), 34040u);
    EXPECT_EQ(le32(payload(setup[0]) + 5), 34099u);
    EXPECT_EQ(le32(payload(setup[0]) + 13), 34040u);

    const auto info = model.answer(sim::ChannelInfoRequest);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].type, sim::ScanChannelList);
    EXPECT_EQ(info[1].type, sim::CurrentFrequency);
    // In scan mode the current frequency is the first scan slot of each receiver.
    EXPECT_EQ(le32(payload(info[1])), le32(payload(info[0])));
    EXPECT_EQ(le32(payload(info[1]) + 4), le32(payload(info[0]) + 40));
    for (int k = 0; k < 20; ++k) {
        const uint32_t v = le32(payload(info[0]) + 4 * k);
        EXPECT_GE(v, 34040u);
        EXPECT_LE(v, 34099u);
    }

    EXPECT_TRUE(model.answer(0x55).empty());
    model.setWithholdChannelInfo(true);
    EXPECT_TRUE(model.answer(sim::ChannelInfoRequest).empty());
    EXPECT_TRUE(model.startMeasurement(MeasurementMode::Table, 1.0).empty());
}

TEST(SimDeviceModel, scanSweepCoversEveryActiveSlotFivePerPacket)
{
    struct Case
    {
        uint8_t active;
        int packetsPerSweep;
    };
    for (const Case c : {Case{0x03, 4}, Case{0x01, 2}, Case{0x02, 2}}) {
        DeviceModel model(config(MeasurementMode::Scan, c.active));
        model.startMeasurement(MeasurementMode::Scan, 0.0);
        std::set<std::pair<int, int>> seen;
        for (int i = 0; i < c.packetsPerSweep; ++i) {
            const SimFrame f = model.nextMeasurement(0.1 * i);
            ASSERT_EQ(f.type, sim::ScanReport);
            ASSERT_EQ(f.bytes.size(), 15u + 5u);
            for (int e = 0; e < 5; ++e) {
                const uint8_t* entry = payload(f) + 3 * e;
                EXPECT_TRUE(c.active & (1 << entry[0])) << "inactive receiver " << int(entry[0]);
                EXPECT_LT(entry[1], 10);
                seen.insert({entry[0], entry[1]});
            }
        }
        EXPECT_EQ(int(seen.size()), c.packetsPerSweep * 5) << "active " << int(c.active);
    }
}

// The pattern is what history tests check the program against, so its
// levels are worked out here independently of the model's formula.
TEST(SimDeviceModel, patternScanLevelsAreAFixedStaircaseOverTheGraphsRange)
{
    DeviceConfig c = config(MeasurementMode::Scan, 0x03);
    c.pattern = true;
    DeviceModel model(c);
    model.startMeasurement(MeasurementMode::Scan, 0.0);
    std::set<int> levels;
    // Three sweeps of four packets: R1 slots 0-4, 5-9, then R2.
    for (int packet = 0; packet < 12; ++packet) {
        const SimFrame f = model.nextMeasurement(0.0);
        const int sweep = packet / 4;
        for (int e = 0; e < 5; ++e) {
            const uint8_t* entry = payload(f) + 3 * e;
            const int r = packet % 4 / 2, slot = packet % 2 * 5 + e;
            ASSERT_EQ(entry[0], r);
            ASSERT_EQ(entry[1], slot);
            int expected = -120 + 13 * sweep + 29 * slot + 41 * r;
            while (expected > -30)
                expected -= 91;
            EXPECT_EQ(int8_t(entry[2]), expected) << "sweep " << sweep << " R" << r + 1 << " slot " << slot;
            levels.insert(expected);
        }
    }
    EXPECT_GT(levels.size(), 20u);
    // Starting scan again starts the staircase again.
    model.startMeasurement(MeasurementMode::Scan, 0.0);
    EXPECT_EQ(int8_t(payload(model.nextMeasurement(0.0))[2]), -120);
}

TEST(SimDeviceModel, tableSweepCoversTheBandFourEntriesPerPacket)
{
    DeviceModel model(config(MeasurementMode::Table, 0x01));
    std::set<int> indexes;
    for (int i = 0; i < 15; ++i) { // 60 channels
        const SimFrame f = model.nextMeasurement(0.0);
        ASSERT_EQ(f.type, sim::TableReport);
        ASSERT_EQ(f.bytes.size(), 16u + 5u);
        for (int e = 0; e < 4; ++e) {
            const uint8_t* entry = payload(f) + 4 * e;
            EXPECT_EQ(entry[0], 0);
            indexes.insert(entry[1] | entry[2] << 8);
        }
    }
    ASSERT_EQ(indexes.size(), 60u);
    EXPECT_EQ(*indexes.begin(), 0);
    EXPECT_EQ(*indexes.rbegin(), 59);
}

TEST(SimDeviceModel, numberingFrom991PutsTheFirst34PositionsAtChannels991To1024)
{
    DeviceConfig c = config(MeasurementMode::Table, 0x01);
    c.band.numbering991 = true;
    DeviceModel model(c);
    EXPECT_EQ(model.tableIndexOf(1), 990);
    EXPECT_EQ(model.tableIndexOf(34), 1023);
    EXPECT_EQ(model.tableIndexOf(35), 0);
    EXPECT_EQ(model.tableIndexOf(60), 25);
}

TEST(SimDeviceModel, singleBlocksAlternateReceiversWithPlausibleLevels)
{
    DeviceModel model(config(MeasurementMode::Single));
    int strong = 0;
    for (int i = 0; i < 200; ++i) {
        const SimFrame f = model.nextMeasurement(i * 0.05);
        ASSERT_EQ(f.type, i % 2 == 0 ? sim::SingleBlockR1 : sim::SingleBlockR2);
        const int n = (f.bytes[1] | f.bytes[2] << 8) - 2;
        EXPECT_GE(n, 9);
        EXPECT_LE(n, 11);
        for (int s = 0; s < n; ++s) {
            const int8_t rssi = int8_t(payload(f)[s]);
            EXPECT_GE(rssi, -120);
            EXPECT_LE(rssi, -30);
            strong += rssi > -80;
        }
    }
    // Both receivers sit on strong carriers in single mode.
    EXPECT_GT(strong, 1000);
}

TEST(SimDeviceModel, cycleModeStepsThroughTheModesAndAnnouncesEach)
{
    DeviceConfig c = config(MeasurementMode::Single);
    c.cycle = true;
    c.cycleSeconds = 20;
    DeviceModel model(c);
    EXPECT_TRUE(model.advance(19.9).empty());
    EXPECT_EQ(model.advance(20.0).size(), 2u);
    EXPECT_EQ(model.mode(), MeasurementMode::Scan);
    EXPECT_TRUE(model.advance(39.5).empty());
    EXPECT_EQ(model.advance(41.0).size(), 2u);
    EXPECT_EQ(model.mode(), MeasurementMode::Table);
    EXPECT_EQ(model.advance(60.2).size(), 2u);
    EXPECT_EQ(model.mode(), MeasurementMode::Single);
}

TEST(SimDeviceModel, gpsCycleSendsClockMarkersWithRisingMarkerWhileOff)
{
    DeviceConfig c = config(MeasurementMode::Scan);
    c.gps = GpsMode::Cycle;
    DeviceModel model(c);
    EXPECT_EQ(model.secondTick(0.0, 0).type, sim::GpsMessage);
    EXPECT_EQ(model.secondTick(59.0, 0).type, sim::GpsMessage);
    const SimFrame off1 = model.secondTick(60.0, 0);
    const SimFrame off2 = model.secondTick(61.0, 0);
    ASSERT_EQ(off1.type, sim::ClockMarker);
    ASSERT_EQ(off2.type, sim::ClockMarker);
    EXPECT_EQ(uint8_t(payload(off1)[6] + 1), payload(off2)[6]);
    EXPECT_EQ(model.secondTick(80.0, 0).type, sim::GpsMessage);

    model.setGps(GpsMode::Off, 90.0);
    EXPECT_EQ(model.secondTick(91.0, 0).type, sim::ClockMarker);
}

TEST(SimGpsRoute, drivesALoopNearTheStartAtFiftyKmH)
{
    using std::numbers::pi;
    GpsRoute route(3);
    GpsFix previous = route.fixAt(0.0, 1700000000);
    EXPECT_NEAR(previous.filteredLatitude, 145969560, 2);
    EXPECT_NEAR(previous.filteredLongitude, -267769080, 2);
    int fixes3D = 0;
    for (int t = 1; t <= 300; ++t) {
        const GpsFix f = route.fixAt(t, 1700000000 + t);
        const double northM = (f.filteredLatitude - previous.filteredLatitude) / 3.6e6 * 111132.0;
        const double eastM =
            (f.filteredLongitude - previous.filteredLongitude) / 3.6e6 * 111320.0 * std::cos(40.5471 * pi / 180);
        // About 13.9 m a second, in the direction the heading names.
        EXPECT_NEAR(std::hypot(northM, eastM), 13.9, 0.5) << t;
        double bearing = std::atan2(eastM, northM) * 180 / pi;
        if (bearing < 0)
            bearing += 360;
        const double diff = std::fmod(std::abs(bearing - f.heading / 10.0) + 180.0, 360.0) - 180.0;
        EXPECT_LT(std::abs(diff), 5.0) << t;
        EXPECT_NEAR(f.speed2D, 1389, 50);
        EXPECT_GE(f.speed3D, f.speed2D);
        EXPECT_GE(f.visibleSats, 8);
        EXPECT_LE(f.visibleSats, 10);
        EXPECT_LE(f.trackedSats, f.visibleSats);
        EXPECT_EQ(f.channels[f.trackedSats - 1][1], 8); // tracking
        EXPECT_EQ(f.status2 & 0x06, 0);                 // antenna OK
        EXPECT_NEAR(f.mslHeight - f.gpsHeight, 3350, 1);
        fixes3D += f.status1 == 0xE0;
        previous = f;
    }
    EXPECT_GT(fixes3D, 290);
    const GpsFix f = route.fixAt(0, 1700000000); // 2023-11-14 22:13:20 UTC
    EXPECT_EQ(f.year, 2023);
    EXPECT_EQ(f.month, 11);
    EXPECT_EQ(f.day, 14);
    EXPECT_EQ(f.hours, 22);
    EXPECT_TRUE(f.gmtNegative);
    EXPECT_EQ(f.gmtHours, 5);
}

} // namespace
