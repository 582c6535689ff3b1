#include "TMain_Router.h"

#include "StatusTexts.h"
#include "StatusView.h"
#include "link/LinkSettings.h"
#include "protocol/DeviceRecord.h"

#include <QLocale>

TMain_Router::TMain_Router(DeviceRecord& device, LinkSettings& link, StatusView& view, Hooks hooks,
                           bool createSuspended)
    : m_device(device)
    , m_link(link)
    , m_view(view)
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
        const int signalled = waitAny({&statusTickEvent, &m_device.rtcEvent, &m_stop}, kWaitMs);
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

void TMain_Router::terminateRequested()
{
    m_stop.set();
}

void TMain_Router::UpdateCounters()
{
    if (m_hooks.fileSizeKB) {
        if (std::optional<int32_t> kb = m_hooks.fileSizeKB())
            m_view.showFileSize(StatusTexts::fileSizeText(*kb));
    }
    m_view.showSerialNumber(StatusTexts::serialText(m_device.serialNumberText()));
    m_view.showLinkStatus(m_link.statusText());

    // While the link is lost nothing on screen is live: "GPS OFF" instead of
    // the last fix, and greyed bars, until data flow again (the GPS screen
    // and the next bar update bring them back).
    if (m_link.linkLost.load())
        m_view.showLinkLost();

    // Counted before the settings are read: a ReceiverSetup stored meanwhile
    // counts again and is shown on the next tick instead of lost.
    if (const uint32_t replies = m_device.settingsReplies(); replies != m_settingsShown) {
        m_settingsShown = replies;
        const QChar point = QLocale::system().decimalPoint().front();
        const char sep = point.toLatin1() ? point.toLatin1() : '.';
        for (int r = 0; r < DeviceRecord::kReceivers; ++r) {
            const ReceiverSettings s = m_device.settingsCopy(r);
            const long double step = s.stepKHz;
            const auto text = [sep](long double v) { return StatusTexts::limitText(v, sep); };
            m_view.showLimits(r, text((long double)s.lowEdge() * step * 0.001L),
                              text((long double)s.highEdge() * step * 0.001L), text(step));
        }
    }
}

void TMain_Router::UpdateClockAndMarker()
{
    m_view.showClock(m_device.rtcDateText(), m_device.rtcTimeText(),
                     StatusTexts::markerText(m_device.markerNumber()));
    m_view.hideGps();
    // Once per fall-back from GPS data to clock messages; the GPS screen
    // clears the flag whenever GPS data arrive.
    if (gpsLossAlerted.load() == 0) {
        for (int i = 0; i < kGpsLossBeeps && m_hooks.beep; ++i)
            m_hooks.beep();
        gpsLossAlerted.store(1);
    }
}
