#include "display/TR_Router.h"

#include "display/ReceiverView.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Band 150 .. 175 MHz in 25 kHz steps.
void storeBand(DeviceRecord& device, int r)
{
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    device.edit([&](DeviceRecord::Data& d) { d.receiverSettings[r].storeBlock(block); });
}

} // namespace

// The display thread works the bars out itself: the window thread is handed
// a finished frame only to draw. Checked through a view without widgets.
TEST(ReceiverDisplayThread, barsAreWorkedOutOnTheDisplayThreadAndOnlyDrawnOnTheWindow)
{
    struct FakeView : ReceiverView
    {
        Options options() const override
        {
            optionsThreads.push_back(std::this_thread::get_id());
            return {ReceiverBars::Mode::Table, false};
        }
        void draw(const ReceiverBars::Frame& frame, const std::optional<std::string>& title) override
        {
            drawThreads.push_back(std::this_thread::get_id());
            frames.push_back(frame);
            titles.push_back(title);
        }
        mutable std::vector<std::thread::id> optionsThreads;
        std::vector<std::thread::id> drawThreads;
        std::vector<ReceiverBars::Frame> frames;
        std::vector<std::optional<std::string>> titles;
    };
    DeviceRecord device;
    SampleBuffers samples;
    storeBand(device, 0);
    device.settingsStored({true, false});
    auto owned = std::make_unique<FakeView>();
    FakeView* view = owned.get();
    TR_Router router(0, device, samples, std::move(owned));

    samples.tableRssi[0][9] = -52; // channel 10
    samples.receiverEvents[0].set();
    QElapsedTimer timer;
    timer.start();
    while (view->frames.empty() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    router.Terminate();
    while (!router.wait(1))
        QCoreApplication::processEvents();

    ASSERT_EQ(view->frames.size(), 1u);
    EXPECT_EQ(view->frames[0].mapValue, -52);
    EXPECT_EQ(view->titles[0], "R1 (150.00000-175.00000)MHz 25.00 KHz Step");
    ASSERT_EQ(view->optionsThreads.size(), 1u);
    EXPECT_NE(view->optionsThreads[0], std::this_thread::get_id()) << "the update was worked out on the window thread";
    EXPECT_EQ(view->drawThreads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

// Updates keep their interval, and Terminate ends the pause between them at
// once: the window closes without waiting for it.
TEST(ReceiverDisplayThread, terminateEndsThePauseBetweenUpdates)
{
    struct CountingView : ReceiverView
    {
        Options options() const override { return {ReceiverBars::Mode::Table, false}; }
        void draw(const ReceiverBars::Frame&, const std::optional<std::string>&) override { ++draws; }
        int draws = 0;
    };
    DeviceRecord device;
    SampleBuffers samples;
    auto owned = std::make_unique<CountingView>();
    CountingView* view = owned.get();
    TR_Router router(0, device, samples, std::move(owned), {}, true);
    router.minUpdateInterval = std::chrono::hours(1);
    router.start();

    samples.receiverEvents[0].set();
    QElapsedTimer timer;
    timer.start();
    while (view->draws == 0 && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(view->draws, 1);

    samples.receiverEvents[0].set(); // held back until the hour is up
    timer.restart();
    while (!router.pausing() && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(router.pausing());
    router.Terminate();
    timer.restart();
    while (!router.wait(1) && timer.elapsed() < 30000)
        QCoreApplication::processEvents();
    EXPECT_TRUE(router.isFinished()) << "Terminate did not end the pause";
    EXPECT_EQ(view->draws, 1);
}

// Both receivers' updates fall on the same instants, whatever their phase,
// and never closer than half an interval to the one before.
TEST(ReceiverDisplayThread, updatesFallOnAGridSharedByBothReceivers)
{
    using std::chrono::milliseconds;
    using std::chrono::microseconds;
    const auto at = [](microseconds t) { return std::chrono::steady_clock::time_point(t); };
    const struct
    {
        microseconds after;
        milliseconds interval;
        microseconds next;
    } cases[] = {
        {microseconds(1'000'000), milliseconds(100), microseconds(1'100'000)},
        {microseconds(1'000'001), milliseconds(100), microseconds(1'100'000)},
        {microseconds(1'049'999), milliseconds(100), microseconds(1'100'000)},
        {microseconds(1'050'000), milliseconds(100), microseconds(1'200'000)},
        {microseconds(1'099'999), milliseconds(100), microseconds(1'200'000)},
        {microseconds(7'200'000'000), milliseconds(3'600'000), microseconds(10'800'000'000)},
        {microseconds(9'000'000'000), milliseconds(3'600'000), microseconds(14'400'000'000)},
        {microseconds(5'000), milliseconds(0), microseconds(5'000)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TR_Router::nextSlot(at(c.after), c.interval), at(c.next))
            << c.after.count() << " us, interval " << c.interval.count() << " ms";
}
