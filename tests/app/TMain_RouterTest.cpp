#include "app/TMain_Router.h"

#include "app/StatusView.h"
#include "link/LinkSettings.h"
#include "protocol/DeviceRecord.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The status fields as the thread leaves them.
struct RecordingStatusView : StatusView
{
    void showFileSize(const std::string&) override {}
    void showSerialNumber(const std::string&) override {}
    void showLinkStatus(const std::string&) override {}
    void showLinkLost() override {}
    void showLimits(int, const std::string&, const std::string&, const std::string&) override {}
    void showClock(const std::string&, const std::string&, const std::string& m) override
    {
        marker = m;
        if (onClock)
            onClock();
    }
    void hideGps() override { ++gpsHidden; }

    std::string marker;
    int gpsHidden = 0;
    std::function<void()> onClock;
};

template <typename Done>
bool processUntil(Done done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

struct StatusThread : ::testing::Test
{
    DeviceRecord device;
    LinkSettings link;
    RecordingStatusView view;
    std::string calls; // 'C' counters, 'B' beep
    std::unique_ptr<TMain_Router> router;

    void SetUp() override
    {
        TMain_Router::Hooks hooks;
        hooks.fileSizeKB = [this] {
            calls += 'C';
            return std::optional<int32_t>();
        };
        hooks.beep = [this] { calls += 'B'; };
        router = std::make_unique<TMain_Router>(device, link, view, hooks, true);
    }

    void TearDown() override
    {
        router->Terminate();
        router->statusTickEvent.set(); // wakes it at once
        ASSERT_TRUE(processUntil([this] { return router->wait(0); }));
    }

    // As the decoder stores a clock message.
    void setMarker(uint8_t marker)
    {
        device.edit([&](DeviceRecord::Data& d) { d.rtc[6] = marker; });
    }
};

} // namespace

TEST_F(StatusThread, GpsLossBeepsFourTimesOncePerLoss)
{
    router->UpdateClockAndMarker(); // flag starts set: no GPS seen yet
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(view.gpsHidden, 1);

    router->gpsLossAlerted.store(0); // GPS data were shown
    router->UpdateClockAndMarker();
    EXPECT_EQ(calls, "BBBB");
    EXPECT_EQ(router->gpsLossAlerted.load(), 1);
    router->UpdateClockAndMarker();
    EXPECT_EQ(calls.size(), 4u);

    router->gpsLossAlerted.store(0);
    router->UpdateClockAndMarker();
    EXPECT_EQ(calls.size(), 8u);
    EXPECT_EQ(view.gpsHidden, 4);
}

// A clock message decoded while the window shows the one before it is shown
// as well: the thread resets rtcEvent before the update reads the clock.
TEST_F(StatusThread, ClockMessageDuringAnUpdateIsShownToo)
{
    int shown = 0;
    view.onClock = [&] {
        if (++shown == 1) {
            setMarker(8); // as the decoder stores the next message
            device.rtcEvent.set();
        }
    };
    setMarker(7);
    device.rtcEvent.set();
    router->start();
    EXPECT_TRUE(processUntil([this] { return view.marker == "Mrkr #8"; })) << view.marker;
}

TEST_F(StatusThread, ThreadServesTickBeforeClockAndResetsBoth)
{
    router->gpsLossAlerted.store(0);
    router->statusTickEvent.set();
    device.rtcEvent.set();
    router->start();
    ASSERT_TRUE(processUntil([this] {
        return calls.size() == 5 && !router->statusTickEvent.isSet() && !device.rtcEvent.isSet();
    }));
    EXPECT_EQ(calls, "CBBBB");

    // A later clock message alone updates the clock fields only.
    setMarker(42);
    device.rtcEvent.set();
    ASSERT_TRUE(processUntil([this] { return view.marker == "Mrkr #42"; }));
    EXPECT_FALSE(device.rtcEvent.isSet());
    EXPECT_EQ(calls, "CBBBB");
}
