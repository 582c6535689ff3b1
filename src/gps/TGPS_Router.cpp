#include "TGPS_Router.h"

#include "gps/GpsRecord.h"
#include "gps/GpsScreen.h"
#include "gps/GpsScreenText.h"
#include "gps/MapExport.h"
#include "gps/TGPS.h"
#include "protocol/DeviceRecord.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>

TGPS_Router::TGPS_Router(GpsRecord& gps, DeviceRecord& device, QWidget* window, MapExport* map,
                         bool createSuspended)
    : m_gps(gps)
    , m_device(device)
    , m_map(map)
{
    if (window) {
        m_gbGPS = window->findChild<QWidget*>(QStringLiteral("gbGPS"));
        m_edGPSStatus = window->findChild<QWidget*>(QStringLiteral("edGPSStatus"));
        m_screen = window->findChild<GpsScreen*>();
        // The names come from the text builder itself, so the two cannot drift apart.
        for (const GpsScreenText::Row& row : GpsScreenText::rows(TGPS{}))
            m_targets.push_back({row.target, window->findChild<QWidget*>(QLatin1String(row.target))});
    }
    if (!createSuspended)
        start();
}

TGPS_Router::~TGPS_Router()
{
    Terminate();
    wait();
}

void TGPS_Router::Execute()
{
    while (!Terminated()) {
        if (!m_gps.gpsEvent.wait(kWaitMs))
            continue;
        if (Terminated())
            break;
        // Reset before the record is taken: a message decoded from here on
        // sets the event again and gets its own refresh and map point.
        m_gps.gpsEvent.reset();
        uint64_t decoded = 0;
        const TGPS gps = m_gps.copy(decoded);
        // Already shown and exported: the message that set the event again
        // was in the previous copy.
        if (decoded == m_shown)
            continue;
        m_shown = decoded;
        if (!Synchronize([&] { UpdateScreen(gps); }))
            break; // the program is closing
        SendMapData(gps);
    }
}

void TGPS_Router::UpdateScreen(const TGPS& gps)
{
    if (m_gbGPS) {
        m_gbGPS->setVisible(true);
        m_gbGPS->setEnabled(true);
    }

    if (m_edGPSStatus) {
        const GpsScreenText::Colours c = GpsScreenText::statusColours(gps.StatusCode());
        QPalette palette = m_edGPSStatus->palette();
        palette.setColor(QPalette::Base, QColor::fromRgb(c.background));
        palette.setColor(QPalette::Text, QColor::fromRgb(c.text));
        m_edGPSStatus->setPalette(palette);
    }

    const std::vector<GpsScreenText::Row> rows = GpsScreenText::rows(gps);
    for (std::size_t i = 0; i < rows.size() && i < m_targets.size(); ++i) {
        QWidget* target = m_targets[i].widget;
        if (!target)
            continue;
        const QString text = QString::fromLatin1(rows[i].text.data(), qsizetype(rows[i].text.size()));
        if (auto* label = qobject_cast<QLabel*>(target))
            label->setText(text);
        else if (auto* edit = qobject_cast<QLineEdit*>(target))
            edit->setText(text);
    }
    if (m_screen)
        m_screen->fitChannelTable();
    if (screenShown)
        screenShown();
}

void TGPS_Router::SendMapData(const TGPS& gps)
{
    if (m_map)
        m_map->SendMapData(gps, m_device.serialNumberText());
}
