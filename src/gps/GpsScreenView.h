#pragma once

#include "gps/GpsView.h"

#include <QPointer>

#include <vector>

class GpsScreen;
class QWidget;

// The main window's GPS fields as the GPS thread's view: gbGPS, its edGPS*
// edits and the GPS screen's labels, found once by object name under the
// window.
class GpsScreenView : public GpsView
{
public:
    // Window thread; window may be null (nothing shown).
    explicit GpsScreenView(QWidget* window);

    void showGps(const TGPS& gps) override;

private:
    struct Target
    {
        const char* name;
        QPointer<QWidget> widget; // QLabel or QLineEdit; null when the window lacks it
    };

    QPointer<QWidget> m_gbGPS;
    QPointer<QWidget> m_edGPSStatus;
    QPointer<GpsScreen> m_screen;
    std::vector<Target> m_targets; // rows of GpsScreenText, by object name
};
