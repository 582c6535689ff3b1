#include "ReceiverGraphView.h"

#include "display/DBar.h"
#include "display/ReceiverBars.h"
#include "display/TR_Router.h"

#include <QAbstractButton>

#include <memory>

ReceiverGraphView::ReceiverGraphView(DBar* graph, ReceiverDisplayControls controls)
    : m_graph(graph)
{
    const std::pair<QAbstractButton*, std::atomic<bool>*> mirrors[] = {
        {controls.singleMode, &m_single}, {controls.tableMode, &m_table}, {controls.showFrequency, &m_frequency}};
    for (const auto& [button, mirror] : mirrors) {
        if (!button)
            continue;
        mirror->store(button->isChecked());
        m_connections.push_back(QObject::connect(button, &QAbstractButton::toggled,
                                                 [mirror = mirror](bool down) { mirror->store(down); }));
    }
}

ReceiverGraphView::~ReceiverGraphView()
{
    for (const QMetaObject::Connection& c : m_connections)
        QObject::disconnect(c);
}

ReceiverView::Options ReceiverGraphView::options() const
{
    Options o;
    o.mode = m_single.load() ? ReceiverBars::Mode::Single
        : m_table.load()     ? ReceiverBars::Mode::Table
                             : ReceiverBars::Mode::Scan;
    o.showFrequency = m_frequency.load();
    return o;
}

void ReceiverGraphView::draw(const ReceiverBars::Frame& frame, const std::optional<std::string>& title)
{
    if (!m_graph)
        return;
    DBar& g = *m_graph;
    if (title)
        g.SetTitle(QString::fromStdString(*title));
    g.SetXMax(frame.xMax);
    g.verticalLabels = frame.verticalLabels;
    g.SetBottomCaption(QString::fromStdString(frame.bottomCaption));
    g.BeginBars();
    for (const ReceiverBars::Bar& bar : frame.bars)
        g.DrawBar(bar.x, QString::fromStdString(bar.label), bar.value);
    g.EndBars(QString());
}

DBar* ReceiverGraphView::graph() const
{
    return m_graph;
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
    g.SetYBottom(ReceiverBars::kBottomDbm);
    g.SetYTop(ReceiverBars::kTopDbm);
    g.zoomLow = 0;
    g.zoomHigh = 11.0;
    g.zoomMinSpan = 2.0;
    g.zoomEnabled = false;
    g.markers[2].enabled = false;
    g.markers[3].enabled = false;
}

TR_Router* createReceiverDisplay(int r, QWidget* panel, ReceiverDisplayControls controls, DeviceRecord& device,
                                 SampleBuffers& samples, DBar** graph, TR_Router::Hooks hooks)
{
    auto* g = new DBar(panel);
    configureReceiverGraph(*g);
    PlaceGraph(g, 0, 0, panel->width(), panel->height());
    g->show();
    if (graph)
        *graph = g;
    // The thread reaches the graph only through Synchronize, so it may start
    // before this window-thread step returns.
    return new TR_Router(r, device, samples, std::make_unique<ReceiverGraphView>(g, controls), std::move(hooks));
}
