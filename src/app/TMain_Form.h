#pragma once

#include "StatusFieldsView.h"
#include "display/TR_Router.h"
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

namespace Ui {
class TMain_Form;
}

// The main window: tool bar, status columns, GPS screen, the two receiver
// panels, status bar and menus. It builds the receiver displays (and owns
// their threads) when created, ticks the status and receiver threads once a
// second and sets every worker's terminate flag when it closes. It knows the
// other parts only through the hooks it is made with.
class TMain_Form : public QMainWindow, public DecoderWindow
{
    Q_OBJECT
public:
    // What the window's commands and its close reach in the other parts.
    // Each may be empty (nothing happens); all run on the window thread.
    struct Hooks
    {
        // Map > Map, Log File and Log Data.
        std::function<void()> mapClick;
        std::function<void()> logFileClick;
        std::function<void()> logModeClick;
        // Each timer tick: wakes the status thread once the link runs.
        std::function<void()> tickStatus;
        // Closing runs these in order, the receiver displays' flags set
        // between the first two: the link thread's flag, the GPS and status
        // threads' flags, then the log writer's stop, so that everything
        // received is on disk before the process ends.
        std::function<void()> terminateLink;
        std::function<void()> terminateWorkers;
        std::function<void()> closing;
        // How the user manual is opened; the desktop's viewer when empty.
        std::function<bool(const QUrl&)> openUrl;
        // Each receiver display's map value and scan reports.
        TR_Router::Hooks receiverDisplays;
    };

    // installedDocFolder: where User Manual looks when the manual is not in
    // the current folder (the installed documentation); none when empty.
    TMain_Form(DeviceRecord& device, SampleBuffers& samples, Hooks hooks, QString installedDocFolder = {},
               QWidget* parent = nullptr);
    ~TMain_Form() override;

    // The controls, for the parts that fill or read them (GPS screen, log
    // control, tests).
    Ui::TMain_Form& form() { return *ui; }
    StatusControls statusControls() const;
    QLabel* linkStatusPanel() const { return m_linkStatus; }
    QTimer* timer() const { return Timer1; }
    // Receiver r's display thread (never freed: joined at exit like every
    // worker) and its bar graph.
    TR_Router* receiverThread(int r) const { return receiverThreads[std::size_t(r)]; }
    DBar* receiverGraph(int r) const { return receiverGraphs[std::size_t(r)]; }

    void setAboutBox(TAboutDlg* about) { m_about = about; }

    // Link thread: posted to the window thread, never waits for it.
    void pressModeButton(Mode mode) override;
    // Any thread: a non-modal warning box, shown on the window thread.
    void postWarning(const QString& text);

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
    const Hooks m_hooks;
    const QString m_installedDocFolder;
    std::unique_ptr<Ui::TMain_Form> ui;
    std::array<TR_Router*, 2> receiverThreads{};
    std::array<DBar*, 2> receiverGraphs{};
    std::array<QFrame*, 2> receiverPanels{};
    QLabel* m_linkStatus = nullptr;
    QTimer* Timer1 = nullptr;
    TAboutDlg* m_about = nullptr;
    // The mode button that is down, mirrored for the link thread.
    std::atomic<int> m_modeShown{int(Mode::Single)};
};
