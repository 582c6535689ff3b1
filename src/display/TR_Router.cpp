#include "TR_Router.h"

#include "display/DBar.h"
#include "display/ReceiverBars.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractButton>

#include <chrono>
#include <thread>

namespace {

bool isDown(const QAbstractButton* button)
{
    return button != nullptr && button->isChecked();
}

} // namespace

TR_Router::TR_Router(int receiverIndex, DeviceRecord& device, SampleBuffers& samples, bool createSuspended)
    : receiverIndex(int16_t(receiverIndex))
    , m_device(device)
    , m_samples(samples)
{
    m_samples.receiverEvents[receiverIndex].reset();
    if (!createSuspended)
        start();
}

void TR_Router::setGraph(DBar* graph, ReceiverDisplayControls controls)
{
    m_graph = graph;
    m_controls = controls;
}

DBar* TR_Router::graph() const
{
    return m_graph;
}

void TR_Router::Execute()
{
    Event& event = m_samples.receiverEvents[receiverIndex];
    auto nextUpdate = std::chrono::steady_clock::now();
    while (!Terminated()) {
        if (!event.wait(kWaitMs))
            continue;
        // Scan and table reports can arrive hundreds of times a second, far
        // faster than anyone reads a bar graph: at most one update a frame
        // bounds the window thread's drawing. The decoder goes on storing
        // meanwhile, so what arrives before the update is in it.
        const auto wait = nextUpdate - std::chrono::steady_clock::now();
        if (wait > std::chrono::steady_clock::duration::zero() && !Terminated())
            std::this_thread::sleep_for(wait);
        if (Terminated())
            return;
        nextUpdate = std::chrono::steady_clock::now() + kMinUpdateInterval;
        // The update takes the samples and resets the event in one step, so
        // data stored after it wake the next update.
        if (!Synchronize([this] { UpdateDisplay(); }))
            return;
    }
}

void TR_Router::UpdateDisplay()
{
    if (!m_graph)
        return;
    const int r = receiverIndex;
    DBar& g = *m_graph;

    // The generation is read before the settings, so a change that arrives
    // during this update shows at the next one.
    const uint32_t generation = m_device.settingsGeneration(r);
    if (m_retitle.exchange(false) || generation != m_titleGeneration) {
        m_titleGeneration = generation;
        g.SetTitle(QString::fromStdString(ReceiverBars::title(r, m_device.settingsCopy(r))));
    }

    const ReceiverSettings settings = m_device.settingsCopy(r);
    const bool showFrequency = isDown(m_controls.showFrequency);
    const bool scanMode = !isDown(m_controls.singleMode) && !isDown(m_controls.tableMode);
    // Single mode shows the first scan slot until its own data arrive.
    const ReceiverSamples samples = m_samples.takeSamples(r, scanMode);
    const ReceiverBars::Frame frame = isDown(m_controls.singleMode)
        ? ReceiverBars::single(samples, settings, showFrequency)
        : isDown(m_controls.tableMode) ? ReceiverBars::table(samples, settings, showFrequency)
                                       : ReceiverBars::scan(samples, settings, showFrequency);

    g.SetXMax(frame.xMax);
    g.verticalLabels = frame.verticalLabels;
    g.SetBottomCaption(QString::fromStdString(frame.bottomCaption));
    g.BeginBars();
    for (const ReceiverBars::Bar& bar : frame.bars)
        g.DrawBar(bar.x, QString::fromStdString(bar.label), bar.value);
    g.EndBars(QString());

    if (mapValueHook)
        mapValueHook(r, frame.mapValue);
}

void configureReceiverGraph(DBar& g)
{
    g.rightScaleVisible = false;
    g.xLabelsVisible = false;
    g.xSubLabelsVisible = false;
    g.barColor = QColor(0x80, 0x00, 0x00);
    g.SetValueCaption(QStringLiteral("RSSI (dBm)"));
    g.SetTitle(QString());
    g.SetBottomCaption(QString());
    g.xLabelDigits = 0;
    g.xSubLabelDigits = 0;
    g.SetXMin(0);
    g.SetXMax(2.0);
    g.SetYBottom(-120.0);
    g.SetYTop(-30.0);
    g.zoomLow = 0;
    g.zoomHigh = 11.0;
    g.zoomMinSpan = 2.0;
    g.zoomEnabled = false;
    g.markers[2].enabled = false;
    g.markers[3].enabled = false;
}

TR_Router* createReceiverDisplay(int r, QWidget* panel, ReceiverDisplayControls controls, DeviceRecord& device,
                                 SampleBuffers& samples)
{
    auto* thread = new TR_Router(r, device, samples);

    auto* g = new DBar(panel);
    configureReceiverGraph(*g);
    // The thread reaches the graph only through Synchronize, which cannot run
    // before this window-thread step returns.
    thread->setGraph(g, controls);
    PlaceGraph(g, 0, 0, panel->width(), panel->height());
    g->show();
    return thread;
}
