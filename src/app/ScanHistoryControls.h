#pragma once

#include "display/ScanHistoryWindow.h"
#include "protocol/ReceiverSettings.h"
#include "protocol/SampleReport.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QToolButton;
class ScanHistory;
class TMain_Form;

// Each receiver's scan history, kept from the start whether or not its
// window is open (a window opened later shows the last half hour), and the
// menu and tool bar entries that open the "Scan History" windows.
class ScanHistoryControls : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReceivers = 2;

    // Window thread: adds the entries to the form's menu and tool bar.
    explicit ScanHistoryControls(TMain_Form& form);
    ~ScanHistoryControls() override;

    // Shows receiver r's window, creating it the first time.
    ScanHistoryWindow* open(int r);
    ScanHistoryWindow* window(int r) const { return m_windows[std::size_t(r)]; }
    ScanHistory& history(int r) { return *m_histories[std::size_t(r)]; }
    QToolButton* toolButton() const { return m_button; }
    QAction* openAction(int r) const { return m_actions[std::size_t(r)]; }

    // Window thread, each receiver display update with reports.
    void addReports(int r, const std::vector<SampleReport>& reports, const ReceiverSettings& now);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TMain_Form& m_form;
    std::array<std::unique_ptr<ScanHistory>, kReceivers> m_histories;
    std::array<QPointer<ScanHistoryWindow>, kReceivers> m_windows;
    std::array<QAction*, kReceivers> m_actions{};
    QMenu* m_menu = nullptr;
    QToolButton* m_button = nullptr;
};
