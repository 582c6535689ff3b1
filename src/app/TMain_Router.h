#pragma once

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class DeviceRecord;
class LinkSettings;
class StatusView;

// The status thread: wakes on the one-second tick or on a clock message,
// resets that event and has the window thread refresh the status fields
// through its view, so a clock message decoded during an update is shown by
// the next one.
class TMain_Router : public WorkerThread
{
    Q_OBJECT
public:
    static constexpr int kWaitMs = 1000;
    static constexpr int kGpsLossBeeps = 4;

    struct Hooks
    {
        // Size of the current or last log file in kB; empty or nullopt while
        // nothing has been logged since start.
        std::function<std::optional<int32_t>()> fileSizeKB;
        // One alarm beep; none when empty.
        std::function<void()> beep;
    };

    // view outlives the thread.
    TMain_Router(DeviceRecord& device, LinkSettings& link, StatusView& view, Hooks hooks,
                 bool createSuspended = false);

    // Window thread.
    void UpdateCounters();
    void UpdateClockAndMarker();

    // Set by the window's one-second timer.
    Event statusTickEvent;
    // Cleared whenever the GPS screen shows data; set once the alarm for
    // their loss has sounded, so it sounds once per loss.
    std::atomic<uint8_t> gpsLossAlerted{1};

protected:
    void Execute() override;
    void terminateRequested() override;

private:
    DeviceRecord& m_device;
    LinkSettings& m_link;
    uint32_t m_settingsShown = 0; // the device's settings replies the limits show
    StatusView& m_view;
    Hooks m_hooks;
    // Wakes the thread at once to stop, instead of at its next time-out.
    Event m_stop;
};
