#include "TMain_Router.h"

#include "StatusTexts.h"
#include "display/DBar.h"
#include "link/LinkSettings.h"
#include "protocol/DeviceRecord.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

namespace {

// A line edit given its own text again still repaints and drops the user's
// selection; most ticks change nothing, so only a change is written.
void setTextIfChanged(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

TMain_Router::TMain_Router(DeviceRecord& device, LinkSettings& link, StatusControls controls,
                           Hooks hooks, bool createSuspended)
    : m_device(device)
    , m_link(link)
    , m_controls(controls)
    , m_hooks(std::move(hooks))
{
    // The clock event lives in the device record from program start, so a
    // clock message that came before this thread is still shown.
    if (!createSuspended)
        start();
}

void TMain_Router::Execute()
{
    while (!Terminated()) {
        const int signalled = waitAny({&statusTickEvent, &m_device.rtcEvent}, kWaitMs);
        if (Terminated())
            break;
        // Each event is reset before its update reads the state, so a clock
        // message decoded during the update wakes another one.
        if (signalled == 0) {
            statusTickEvent.reset();
            Synchronize([this] { UpdateCounters(); });
        } else if (signalled == 1) {
            m_device.rtcEvent.reset();
            Synchronize([this] { UpdateClockAndMarker(); });
        }
    }
}

void TMain_Router::UpdateCounters()
{
    const StatusControls& c = m_controls;
    if (m_hooks.fileSizeKB) {
        if (std::optional<int32_t> kb = m_hooks.fileSizeKB())
            setTextIfChanged(c.edFileSize, QString::fromStdString(StatusTexts::fileSizeText(*kb)));
    }
    setTextIfChanged(c.edSN, QString::fromStdString(StatusTexts::serialText(m_device.serialNumberText())));
    c.linkStatus->setText(QString::fromStdString(m_link.statusText())); // QLabel skips an equal text

    // While the link is lost nothing on screen is live: "GPS OFF" instead of
    // the last fix, and greyed bars, until data flow again (the GPS screen
    // and the next bar update bring them back).
    if (m_link.linkLost.load()) {
        if (c.gbGPS) {
            c.gbGPS->setVisible(false);
            c.gbGPS->setEnabled(false);
        }
        for (DBar* graph : c.graphs) {
            if (graph)
                graph->SetStale(true);
        }
    }

    // Counted before the settings are read: a ReceiverSetup stored meanwhile
    // counts again and is shown on the next tick instead of lost.
    if (const uint32_t replies = m_device.settingsReplies(); replies != m_settingsShown) {
        m_settingsShown = replies;
        const QChar point = QLocale::system().decimalPoint().front();
        const char sep = point.toLatin1() ? point.toLatin1() : '.';
        for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
            const ReceiverSettings s = m_device.settingsCopy(r);
            const long double step = s.stepKHz;
            const auto text = [sep](long double v) {
                return QString::fromStdString(StatusTexts::limitText(v, sep));
            };
            setTextIfChanged(c.edMin[r], text((long double)s.lowEdge() * step * 0.001L));
            setTextIfChanged(c.edMax[r], text((long double)s.highEdge() * step * 0.001L));
            setTextIfChanged(c.edStep[r], text(step));
        }
    }
}

void TMain_Router::UpdateClockAndMarker()
{
    const StatusControls& c = m_controls;
    setTextIfChanged(c.edRTCDate, QString::fromStdString(m_device.rtcDateText()));
    setTextIfChanged(c.edRTCTime, QString::fromStdString(m_device.rtcTimeText()));
    setTextIfChanged(c.edMarker, QString::fromStdString(StatusTexts::markerText(m_device.markerNumber())));
    c.gbGPS->setVisible(false);
    c.gbGPS->setEnabled(false);
    // Once per fall-back from GPS data to clock messages; the GPS screen
    // clears the flag whenever GPS data arrive.
    if (gpsLossAlerted.load() == 0) {
        for (int i = 0; i < kGpsLossBeeps; ++i) {
            if (m_hooks.beep)
                m_hooks.beep();
            else
                QApplication::beep();
        }
        gpsLossAlerted.store(1);
    }
}
