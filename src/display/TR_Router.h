#pragma once

#include <chrono>

#include "platform/WorkerThread.h"

#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>

class DBar;
class DeviceRecord;
class SampleBuffers;
class QAbstractButton;
class QWidget;

// The main window's buttons, read on the window thread at each update.
struct ReceiverDisplayControls
{
    QAbstractButton* singleMode = nullptr;
    QAbstractButton* tableMode = nullptr;
    QAbstractButton* showFrequency = nullptr;
};

// Keeps one receiver's bar graph current: sleeps on the receiver's
// data-ready event and redraws the graph on the window thread, at most once
// a frame. The redraw copies the samples and resets the event under the
// receiver's sample lock, so the decoder never waits for a redraw and
// nothing it stores meanwhile is lost.
class TR_Router : public WorkerThread
{
    Q_OBJECT
public:
    // At most 10 display updates a second per receiver: smooth to the eye,
    // and it keeps the window thread's drawing small at full scan rates.
    static constexpr std::chrono::milliseconds kMinUpdateInterval{100};
    static constexpr int kWaitMs = 1000;

    TR_Router(int receiverIndex, DeviceRecord& device, SampleBuffers& samples, bool createSuspended = false);

    // Window thread, before the first update.
    void setGraph(DBar* graph, ReceiverDisplayControls controls);

    // Last step of each update, on the window thread; set before start.
    std::function<void(int receiver, int16_t mapValue)> mapValueHook;

    // Window thread.
    void UpdateDisplay();

    // Any thread: the next update draws the title again (the panels were laid out anew).
    void retitle() { m_retitle.store(true); }
    DBar* graph() const;

    int16_t receiverIndex;

protected:
    void Execute() override;

private:
    DeviceRecord& m_device;
    SampleBuffers& m_samples;
    QPointer<DBar> m_graph;
    // The device's settings generation the title shows.
    uint32_t m_titleGeneration = 0;
    std::atomic<bool> m_retitle{false};
    ReceiverDisplayControls m_controls;
};

// The receiver graphs' ranges, captions and options, right after construction.
void configureReceiverGraph(DBar& graph);

// Creates receiver r's display thread (running) and its bar graph inside
// panel, configured for RSSI and sized to the panel; the caller owns the thread.
TR_Router* createReceiverDisplay(int r, QWidget* panel, ReceiverDisplayControls controls, DeviceRecord& device,
                                 SampleBuffers& samples);
