#pragma once

#include "StatusFieldsView.h"
#include "protocol/DecoderWindow.h"

#include <QMainWindow>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

class DBar;
class DeviceRecord;
class SampleBuffers;
class QFrame;
class QLabel;
class QTimer;
class QUrl;
class TAboutDlg;
class TR_Router;

namespace Ui {
class TMain_Form;
}

// The main window: tool bar, status columns, GPS screen, the two receiver
// panels, status bar and menus. It builds the receiver displays (and owns
// their threads) when created, ticks the status and receiver threads once a
// second and sets every worker's terminate flag when it closes.
class TMain_Form : public QMainWindow, public DecoderWindow
{
    Q_OBJECT
public:
    TMain_Form(DeviceRecord& device, SampleBuffers& samples, QWidget* parent = nullptr);
    ~TMain_Form() override;

    // The controls, for the parts that fill or read them (GPS screen, log
    // control, tests).
    Ui::TMain_Form& form() { return *ui; }
    StatusControls statusControls() const;
    QLabel* linkStatusPanel() const { return m_linkStatus; }
    QTimer* timer() const { return Timer1; }

    void setAboutBox(TAboutDlg* about) { m_about = about; }

    // Link thread: posted to the window thread, never waits for it.
    void pressModeButton(Mode mode) override;
    // Any thread: a non-modal warning box, shown on the window thread.
    void postWarning(const QString& text);

    // Filled at integration by the map range dialog and the log control.
    std::function<void()> onMapClick;
    std::function<void()> onLogFileClick;
    std::function<void()> onLogModeClick;
    // Runs when the window closes, after the terminate flags: stops the log
    // writer so everything received is on disk before the process ends.
    std::function<void()> onClosing;
    // How the user manual is opened; the desktop's viewer by default.
    std::function<bool(const QUrl&)> openUrl;
    // Where User Manual looks when the manual is not in the current folder:
    // the installed documentation.
    QString installedDocFolder;
    // Filled once the port dialog has started the link: each timer tick wakes
    // the status thread; closing terminates the link thread (first) and the
    // status and GPS threads (after the receiver displays).
    std::function<void()> tickStatus;
    std::function<void()> terminateLink;
    std::function<void()> terminateWorkers;

    // Never freed: joined at exit like every worker.
    std::array<TR_Router*, 2> receiverThreads{};
    std::array<DBar*, 2> receiverGraphs{};
    std::array<QFrame*, 2> receiverPanels{};

    void FormCreate();
    void FormResize();
    void FormClose();
    void Receiver1PanelResize();
    void Receiver2PanelResize();
    void btnGPSPanelClick();
    void btnReceiverPanelsClick();
    void btnReceiver1Click();
    void btnReceiver2Click();
    void btnTileVClick();
    void btnTileHClick();
    void btnLogFileClick();
    void btnLogModeClick();
    void LayoutReceiverPanels();
    void Timer1Timer();
    void MapClick();
    void AboutClick();
    void Exit1Click();
    void UserManualClick();

    static constexpr const char* kUserManual = "Tavrix1.0.pdf";

signals:
    // pressModeButton's hand-over, queued to the window thread.
    void modeButtonRequested(int mode, QPrivateSignal);
    // postWarning's hand-over, queued to the window thread.
    void warningPosted(const QString& text, QPrivateSignal);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void receiverPanelResize(int r);
    void receiverButtonClick(int r);

    DeviceRecord& m_device;
    SampleBuffers& m_samples;
    std::unique_ptr<Ui::TMain_Form> ui;
    QLabel* m_linkStatus = nullptr;
    QTimer* Timer1 = nullptr;
    TAboutDlg* m_about = nullptr;
    // The mode button that is down, mirrored for the link thread.
    std::atomic<int> m_modeShown{int(Mode::Single)};
};
