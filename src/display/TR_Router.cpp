#include "TR_Router.h"

#include "display/DBar.h"
#include "display/TableRanking.h"
#include "protocol/MeasurementState.h"

#include <QAbstractButton>

namespace {

bool isDown(const QAbstractButton* button)
{
    return button != nullptr && button->isChecked();
}

} // namespace

TR_Router::TR_Router(int receiverIndex, MeasurementState& state, bool createSuspended)
    : receiverIndex(int16_t(receiverIndex))
    , m_state(state)
{
    m_state.receiverEvents[receiverIndex].reset();
    if (!createSuspended)
        start();
}

void TR_Router::setGraph(DBar* graph, ReceiverDisplayControls controls)
{
    m_graph = graph;
    m_controls = controls;
}

void TR_Router::Execute()
{
    Event& event = m_state.receiverEvents[receiverIndex];
    while (!Terminated()) {
        if (!event.wait(kWaitMs))
            continue;
        if (Terminated())
            return;
        // The event stays set until the update has read the sample data; the
        // decoder leaves them alone meanwhile.
        if (!Synchronize([this] { UpdateDisplay(); }))
            return;
        event.reset();
    }
}

void TR_Router::UpdateDisplay()
{
    if (!m_graph)
        return;
    const int r = receiverIndex;
    DBar& g = *m_graph;

    // Cleared before the settings are read, so a change that arrives during
    // this update shows at the next one.
    if (m_state.settingsChanged[r].exchange(0) != 0) {
        const ReceiverSettings s = m_state.settingsCopy(r);
        g.SetTitle(QString::asprintf("R%d (%.5f-%.5f)MHz %.2f KHz Step", r + 1, s.lowEdgeMHz(),
                                     s.highEdgeMHz(), s.stepKHz));
    }

    const bool showFrequency = isDown(m_controls.showFrequency);
    int16_t mapValue;
    if (isDown(m_controls.singleMode))
        mapValue = updateSingle(showFrequency);
    else if (isDown(m_controls.tableMode))
        mapValue = updateTable(showFrequency);
    else
        mapValue = updateScan(showFrequency);

    if (mapValueHook)
        mapValueHook(r, mapValue);
}

int16_t TR_Router::updateSingle(bool showFrequency)
{
    const int r = receiverIndex;
    DBar& g = *m_graph;
    const ReceiverSettings s = m_state.settingsCopy(r);

    g.SetXMax(2.0);
    g.verticalLabels = false;
    g.SetBottomCaption(showFrequency ? QString::asprintf("%.5f MHz", s.currentMHz())
                                     : QString::asprintf("Channel %d", int(s.currentChannel())));
    g.BeginBars();
    const int16_t v = m_state.singleAverage[r];
    g.DrawBar(1, QString::asprintf("%d dBm", int(v)), v);
    g.EndBars(QString());
    return v;
}

int16_t TR_Router::updateTable(bool showFrequency)
{
    const int r = receiverIndex;
    DBar& g = *m_graph;
    const ReceiverSettings s = m_state.settingsCopy(r);

    g.SetXMax(11.0);
    g.verticalLabels = true;
    g.SetBottomCaption(showFrequency ? QStringLiteral("Frequency") : QStringLiteral("Channel"));
    g.BeginBars();
    const TableRanking::Slots ranked = TableRanking::rank(m_state.tableRssi[r], MeasurementState::kTableSize);
    for (int k = 0; k < TableRanking::kSlots; ++k) {
        const TableRanking::Slot& slot = ranked[k];
        QString label;
        if (slot.level > TableRanking::kFloor) {
            // The table index stands for the channel number.
            label = showFrequency ? QString::asprintf("%.4f", s.frequencyOfChannelMHz(int16_t(slot.channel)))
                                  : QString::asprintf("%d", slot.channel);
        }
        g.DrawBar(int16_t(k + 1), label, slot.level);
    }
    g.EndBars(QString());
    return int16_t(ranked[0].level);
}

int16_t TR_Router::updateScan(bool showFrequency)
{
    const int r = receiverIndex;
    DBar& g = *m_graph;
    const ReceiverSettings s = m_state.settingsCopy(r);

    int max = TableRanking::kFloor;
    g.SetXMax(11.0);
    g.verticalLabels = true;
    g.SetBottomCaption(showFrequency ? QStringLiteral("Frequency") : QStringLiteral("Channel"));
    g.BeginBars();
    for (int k = 0; k < MeasurementState::kScanSlots; ++k) {
        const int v = TableRanking::levelOf(m_state.scanRssi[r][k]);
        if (v > max)
            max = v;
        QString label;
        if (v > TableRanking::kFloor) {
            label = showFrequency ? QString::asprintf("%.4f", s.frequencyOfValueMHz(s.scanChannels[k]))
                                  : QString::asprintf("%d", int(s.channelOf(s.scanChannels[k])));
        }
        g.DrawBar(int16_t(k + 1), label, v);
    }
    // Single mode shows the first scan slot until its own data arrive.
    m_state.singleAverage[r] = m_state.scanRssi[r][0];
    g.EndBars(QString());
    return int16_t(max);
}

DBar* createReceiverDisplay(int r, QWidget* panel, ReceiverDisplayControls controls, MeasurementState& state)
{
    auto* thread = new TR_Router(r, state);
    state.receiverThreads[r] = thread;

    auto* g = new DBar(panel);
    g->rightScaleVisible = false;
    g->xLabelsVisible = false;
    g->xSubLabelsVisible = false;
    g->barColor = QColor(0x80, 0x00, 0x00);
    g->SetValueCaption(QStringLiteral("RSSI (dBm)"));
    g->SetTitle(QString());
    g->SetBottomCaption(QString());
    g->xLabelDigits = 0;
    g->xSubLabelDigits = 0;
    g->SetXMin(0);
    g->SetXMax(2.0);
    g->SetYBottom(-120.0);
    g->SetYTop(-30.0);
    g->zoomLow = 0;
    g->zoomHigh = 11.0;
    g->zoomMinSpan = 2.0;
    g->zoomEnabled = false;
    g->markers[2].enabled = false;
    g->markers[3].enabled = false;
    // The thread reaches the graph only through Synchronize, which cannot run
    // before this window-thread step returns.
    thread->setGraph(g, controls);
    PlaceGraph(g, 0, 0, panel->width(), panel->height());
    g->show();
    return g;
}
