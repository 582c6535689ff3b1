#pragma once

#include "display/ReceiverBars.h"
#include "protocol/ReceiverSettings.h"
#include "protocol/SampleReport.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DeviceRecord;
class ReceiverView;
class SampleBuffers;

// Keeps one receiver's bar graph current: sleeps on the receiver's
// data-ready event, at most once a frame copies the samples (resetting the
// event under the receiver's sample lock, so the decoder never waits and
// nothing it stores meanwhile is lost), works out the bars on this thread,
// and hands them to the window thread only to be drawn.
class TR_Router : public WorkerThread
{
    Q_OBJECT
public:
    // At most 10 display updates a second per receiver: smooth to the eye,
    // while at full scan rates it bounds the work to two calls onto the
    // window thread and a paint per update.
    static constexpr std::chrono::milliseconds kMinUpdateInterval{100};
    static constexpr int kWaitMs = 1000;

    // One update worked out: the bars, the title when it changed, and every
    // report since the last update with the settings read for it.
    struct Update
    {
        ReceiverBars::Frame frame;
        std::optional<std::string> title;
        std::vector<SampleReport> reports;
        ReceiverSettings settings;
    };

    // Where each update goes besides the view; both run on the window thread.
    struct Hooks
    {
        // Last step of each update: the map export's RSSI.
        std::function<void(int receiver, int16_t mapValue)> mapValue;
        // Each update with reports: they go to the scan history.
        std::function<void(int receiver, const std::vector<SampleReport>& reports, const ReceiverSettings& now)>
            reports;
    };

    // view may be null (nothing drawn); the thread owns it.
    TR_Router(int receiverIndex, DeviceRecord& device, SampleBuffers& samples, std::unique_ptr<ReceiverView> view,
              Hooks hooks = {}, bool createSuspended = false);
    ~TR_Router() override;

    // Updates come at most once per interval, on a grid shared by every
    // display thread; set before start.
    std::chrono::milliseconds minUpdateInterval = kMinUpdateInterval;

    // The first instant on the interval's grid at least half an interval after `after`.
    static std::chrono::steady_clock::time_point nextSlot(std::chrono::steady_clock::time_point after,
                                                          std::chrono::milliseconds interval);

    // Takes the samples and works out the update; on this thread, or on the
    // window thread through UpdateDisplay.
    // spare: storage for the reports, handed to the journal in exchange.
    Update takeUpdate(std::vector<SampleReport> spare = {});
    // Window thread: draws an update, then runs the hooks.
    void showUpdate(const Update& update);
    // Window thread: both steps at once.
    void UpdateDisplay();

    // Any thread: the next update draws the title again (the panels were laid out anew).
    void retitle() { m_retitle.store(true); }
    // Any thread: the thread is pausing between updates.
    bool pausing() const { return m_pausing.load(); }
    ReceiverView* view() const { return m_view.get(); }

    int16_t receiverIndex;

protected:
    void Execute() override;
    void terminateRequested() override;

private:
    DeviceRecord& m_device;
    SampleBuffers& m_samples;
    std::unique_ptr<ReceiverView> m_view;
    const Hooks m_hooks;
    // The device's settings generation the title shows.
    uint32_t m_titleGeneration = 0;
    std::atomic<bool> m_retitle{false};
    // Set by Terminate: ends the pause between updates and the wait for data.
    Event m_stop;
    std::atomic<bool> m_pausing{false};
};
