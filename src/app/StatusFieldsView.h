#pragma once

#include "StatusView.h"

class DBar;
class QLabel;
class QLineEdit;
class QWidget;

// The main window's status fields the status thread fills.
struct StatusControls
{
    QLineEdit* edFileSize = nullptr;
    QLineEdit* edSN = nullptr;
    QLabel* linkStatus = nullptr; // status bar panel 0
    QLineEdit* edMin[2] = {};
    QLineEdit* edMax[2] = {};
    QLineEdit* edStep[2] = {};
    QLineEdit* edRTCDate = nullptr;
    QLineEdit* edRTCTime = nullptr;
    QLineEdit* edMarker = nullptr;
    QWidget* gbGPS = nullptr;
    DBar* graphs[2] = {}; // greyed while the link is lost
};

// The status thread's view over the main window's fields. A field is written
// only when its text changes: a refresh that changes nothing leaves the
// user's selection alone and repaints nothing.
class StatusFieldsView : public StatusView
{
public:
    explicit StatusFieldsView(StatusControls controls);

    void showFileSize(const std::string& text) override;
    void showSerialNumber(const std::string& text) override;
    void showLinkStatus(const std::string& text) override;
    void showLinkLost() override;
    void showLimits(int receiver, const std::string& minimum, const std::string& maximum,
                    const std::string& step) override;
    void showClock(const std::string& date, const std::string& time, const std::string& marker) override;
    void hideGps() override;

private:
    StatusControls m_controls;
};
