#include "gps/TGPS_Router.h"

#include "gps/GpsTestMessage.h"
#include "gps/GpsView.h"
#include "gps/MapExport.h"
#include "gps/MapTestSupport.h"
#include "link/PacketFramer.h"
#include "platform/SharedMemory.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/GpsRecord.h"
#include "protocol/SampleBuffers.h"
#include "protocol/TGPS.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

// The window as the GPS thread sees it: what was shown, and on which thread.
struct RecordingView : GpsView
{
    void showGps(const TGPS& gps) override
    {
        seconds.push_back(gps.Seconds);
        threads.push_back(std::this_thread::get_id());
        if (onShow)
            onShow();
    }
    std::vector<int> seconds; // of each record shown
    std::vector<std::thread::id> threads;
    std::function<void()> onShow;
};

// Lets the window thread serve the worker's Synchronize until done() holds.
template <typename Done>
bool serveUntil(Done done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void stop(TGPS_Router& router)
{
    router.Terminate();
    serveUntil([&] { return router.wait(1); });
}

} // namespace

TEST(TGPS_Router, UpdateScreenShowsTheRecordThenRearmsTheAlarm)
{
    DeviceRecord device;
    GpsRecord gps;
    RecordingView view;
    TGPS_Router router(gps, device, &view, nullptr, true);
    std::vector<int> shownAtHook;
    router.screenShown = [&] { shownAtHook.push_back(int(view.seconds.size())); };

    TGPS record;
    record.Decode(GpsTestMessage::reference().bytes.data());
    router.UpdateScreen(record);

    EXPECT_EQ(view.seconds, std::vector<int>{7});
    EXPECT_EQ(shownAtHook, std::vector<int>{1}) << "the GPS-loss alarm rearms after the screen shows the record";
}

// The thread: one message wakes it, it refreshes the screen on the window
// thread, exports the map point from the same record, and only then resets
// the event.
TEST(TGPS_Router, MessageRefreshesScreenThenExportsMapPoint)
{
    DeviceRecord device;
    device.edit([](DeviceRecord::Data& d) { std::strcpy(d.serialNumber, "TVX00042"); });
    GpsRecord gps;
    RecordingView view;
    const std::string name = uniqueBlockName("router");
    MapExport map(name, nullptr);
    map.SetMapRSSI(0, -77);
    TGPS_Router router(gps, device, &view, &map);

    gps.Decode(GpsTestMessage::reference().bytes.data());
    gps.gpsEvent.set();
    ASSERT_TRUE(serveUntil([&] { return !view.seconds.empty(); }));
    EXPECT_EQ(view.seconds, std::vector<int>{7});
    EXPECT_EQ(view.threads, std::vector<std::thread::id>{std::this_thread::get_id()}) << "shown off the window thread";
    EXPECT_FALSE(gps.gpsEvent.isSet());
    // The export follows the refresh on the GPS thread; joining it orders
    // both before the checks.
    stop(router);
    EXPECT_TRUE(map.isMapped());

    SharedMemory reader(name, 4096);
    ASSERT_TRUE(reader.open());
    double latitude;
    std::memcpy(&latitude, reader.data() + 16, 8);
    EXPECT_NEAR(latitude, -40.5471, 1e-4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reader.data() + 297)), "TVX00042");
    EXPECT_EQ(int16_t(reader.data()[34] | reader.data()[35] << 8), -77);

    SharedMemory::unlink(name);
}

TEST(TGPS_Router, TerminationWinsOverAPendingMessage)
{
    DeviceRecord device;
    GpsRecord gps;
    RecordingView view;
    const std::string name = uniqueBlockName("router-stop");
    MapExport map(name, nullptr);
    TGPS_Router router(gps, device, &view, &map);

    router.Terminate();
    gps.Decode(GpsTestMessage::reference().bytes.data());
    gps.gpsEvent.set();
    ASSERT_TRUE(serveUntil([&] { return router.isFinished(); }));
    EXPECT_TRUE(view.seconds.empty());
    EXPECT_FALSE(map.isMapped());
}

// A message decoded while the screen shows the one before it still reaches
// the screen: the thread resets its event before it takes the record.
TEST(TGPS_Router, AMessageDecodedDuringARefreshIsShownToo)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    Decoder decoder(device, samples, gps, nullptr);
    RecordingView view;
    TGPS_Router router(gps, device, &view, nullptr);

    const GpsTestMessage first = GpsTestMessage::reference();
    GpsTestMessage second = GpsTestMessage::reference();
    second.u8(10, 8); // 13:05:08
    const auto packetOf = [](const GpsTestMessage& m) {
        return buildFrame(Decoder::GpsMessage, m.bytes.data(), int(m.bytes.size()));
    };
    // The refresh of the first message decodes the second, as the link
    // thread would while the window thread is busy drawing.
    view.onShow = [&] {
        if (view.seconds.size() == 1)
            decoder.decodePacket(packetOf(second));
    };
    decoder.decodePacket(packetOf(first));
    ASSERT_TRUE(serveUntil([&] { return view.seconds.size() >= 2; })) << "the second message was never shown";
    stop(router);
    EXPECT_EQ(view.seconds, (std::vector<int>{7, 8}));
}
