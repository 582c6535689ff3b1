#pragma once

#include "display/ReceiverView.h"
#include "display/TR_Router.h"

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <vector>

class DBar;
class DeviceRecord;
class QAbstractButton;
class QWidget;
class SampleBuffers;

// The main window's buttons a receiver display follows.
struct ReceiverDisplayControls
{
    QAbstractButton* singleMode = nullptr;
    QAbstractButton* tableMode = nullptr;
    QAbstractButton* showFrequency = nullptr;
};

// A receiver display's view in the main window: its bar graph, and the mode
// and label buttons mirrored into atomics as they toggle, so the display
// thread reads them without touching a widget.
class ReceiverGraphView : public ReceiverView
{
public:
    // Window thread.
    ReceiverGraphView(DBar* graph, ReceiverDisplayControls controls);
    ~ReceiverGraphView() override;

    Options options() const override;
    void draw(const ReceiverBars::Frame& frame, const std::optional<std::string>& title) override;

    DBar* graph() const;

private:
    QPointer<DBar> m_graph;
    std::atomic<bool> m_single{false};
    std::atomic<bool> m_table{false};
    std::atomic<bool> m_frequency{false};
    std::vector<QMetaObject::Connection> m_connections;
};

// The receiver graphs' ranges, captions and options, right after construction.
void configureReceiverGraph(DBar& graph);

// Creates receiver r's bar graph inside panel, configured for RSSI and sized
// to the panel, and its display thread (running) drawing into it; the caller
// owns the thread. graph, when given, receives the bar graph.
TR_Router* createReceiverDisplay(int r, QWidget* panel, ReceiverDisplayControls controls, DeviceRecord& device,
                                 SampleBuffers& samples, DBar** graph = nullptr, TR_Router::Hooks hooks = {});
