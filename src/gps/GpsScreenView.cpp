#include "GpsScreenView.h"

#include "gps/GpsScreen.h"
#include "gps/GpsScreenText.h"
#include "protocol/TGPS.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>

GpsScreenView::GpsScreenView(QWidget* window)
{
    if (!window)
        return;
    m_gbGPS = window->findChild<QWidget*>(QStringLiteral("gbGPS"));
    m_edGPSStatus = window->findChild<QWidget*>(QStringLiteral("edGPSStatus"));
    m_screen = window->findChild<GpsScreen*>();
    // The names come from the text builder itself, so the two cannot drift apart.
    for (const GpsScreenText::Row& row : GpsScreenText::rows(TGPS{}))
        m_targets.push_back({row.target, window->findChild<QWidget*>(QLatin1String(row.target))});
}

void GpsScreenView::showGps(const TGPS& gps)
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
        else if (auto* edit = qobject_cast<QLineEdit*>(target); edit && edit->text() != text)
            edit->setText(text); // a line edit lays its text out again even when it is the same
    }
    if (m_screen)
        m_screen->fitChannelTable();
}
