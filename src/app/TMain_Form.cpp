#include "TMain_Form.h"

#include "AccessibleNames.h"
#include "AppStyle.h"
#include "ClockText.h"
#include "FieldFont.h"
#include "PanelTiling.h"
#include "ShowMessageBox.h"
#include "TAboutDlg.h"
#include "display/DBar.h"
#include "display/ReceiverGraphView.h"
#include "display/TR_Router.h"
#include "protocol/SampleBuffers.h"
#include "ui_TMain_Form.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace {

PanelTiling::Rect toTile(const QRect& r)
{
    return {int16_t(r.x()), int16_t(r.y()), int16_t(r.width()), int16_t(r.height())};
}

void makeGroup(QObject* owner, std::initializer_list<QAbstractButton*> buttons)
{
    auto* group = new QButtonGroup(owner);
    group->setExclusive(true);
    for (QAbstractButton* b : buttons)
        group->addButton(b);
}

} // namespace

TMain_Form::TMain_Form(DeviceRecord& device, SampleBuffers& samples, Hooks hooks, QString installedDocFolder,
                       QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint)
    , m_device(device)
    , m_samples(samples)
    , m_hooks(std::move(hooks))
    , m_installedDocFolder(std::move(installedDocFolder))
    , ui(std::make_unique<Ui::TMain_Form>())
{
    initAppResources();
    ui->setupUi(this);
    setFont(AppStyle::formFont());
    ui->centralwidget->setFixedSize(892, 504);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Speed-button groups: one exclusive group per group number; the "all up"
    // singles (btnLogMode, btnReceiver1, btnReceiver2) stay plain toggles.
    makeGroup(this, {ui->btnGPSPanel, ui->btnReceiverPanels});
    makeGroup(this, {ui->btnSingleMode, ui->btnScanMode, ui->btnTableMode});
    makeGroup(this, {ui->btnTileV, ui->btnTileH});
    makeGroup(this, {ui->sbFrequency, ui->sbChannel});
    const std::pair<QToolButton*, Mode> modes[] = {
        {ui->btnSingleMode, Mode::Single}, {ui->btnScanMode, Mode::Scan}, {ui->btnTableMode, Mode::Table}};
    for (const auto& [button, mode] : modes) {
        connect(button, &QToolButton::toggled, this, [this, mode = mode](bool down) {
            if (down)
                m_modeShown.store(int(mode));
        });
    }
    // A queued signal rather than a posted lambda: Qt copies the int itself,
    // so the hand-over from the link thread is ordered for thread checkers
    // too; a lambda's captures, written there and read here, cross Qt's
    // uninstrumented event queue.
    connect(this, &TMain_Form::modeButtonRequested, this, [this](int mode) {
        switch (Mode(mode)) {
        case Mode::Single: ui->btnSingleMode->setChecked(true); break;
        case Mode::Scan: ui->btnScanMode->setChecked(true); break;
        case Mode::Table: ui->btnTableMode->setChecked(true); break;
        }
    }, Qt::QueuedConnection);
    connect(this, &TMain_Form::warningPosted, this, [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, "Warning", text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    }, Qt::QueuedConnection);

    m_linkStatus = new QLabel(ui->sbarTavrix);
    m_linkStatus->setObjectName(QStringLiteral("sbarTavrixPanel0"));
    m_linkStatus->setFixedWidth(800);
    ui->sbarTavrix->addWidget(m_linkStatus);

    connect(ui->btnGPSPanel, &QToolButton::clicked, this, &TMain_Form::btnGPSPanelClick);
    connect(ui->btnReceiverPanels, &QToolButton::clicked, this, &TMain_Form::btnReceiverPanelsClick);
    connect(ui->btnReceiver1, &QToolButton::clicked, this, &TMain_Form::btnReceiver1Click);
    connect(ui->btnReceiver2, &QToolButton::clicked, this, &TMain_Form::btnReceiver2Click);
    connect(ui->btnTileV, &QToolButton::clicked, this, &TMain_Form::btnTileVClick);
    connect(ui->btnTileH, &QToolButton::clicked, this, &TMain_Form::btnTileHClick);
    connect(ui->btnLogFile, &QToolButton::clicked, this, &TMain_Form::btnLogFileClick);
    connect(ui->btnLogMode, &QToolButton::clicked, this, &TMain_Form::btnLogModeClick);
    connect(ui->Exit1, &QAction::triggered, this, &TMain_Form::Exit1Click);
    connect(ui->Map1, &QAction::triggered, this, &TMain_Form::MapClick);
    connect(ui->UserManual1, &QAction::triggered, this, &TMain_Form::UserManualClick);
    connect(ui->About1, &QAction::triggered, this, &TMain_Form::AboutClick);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TMain_Form::Timer1Timer);

    FormCreate();
    AccessibleNames::fromHints(this);
    // "SN: " and up to eight characters of the device's choosing.
    FieldFont::follow(ui->edSN);
    Timer1->start();
    AppStyle::centreOnScreen(this);
}

TMain_Form::~TMain_Form() = default;

void TMain_Form::FormCreate()
{
    QLabel* clock = ui->olClock;
    clock->setStyleSheet(QStringLiteral("font-weight: bold;"));
    // A fixed size: a label that may change size asks its layout to run
    // again on every setText, and the status bar laid itself out every
    // second for a clock whose size never changes.
    clock->setFixedSize(88, clock->sizeHint().height());
    ui->sbarTavrix->addPermanentWidget(clock);

    receiverPanels = {ui->Receiver1Panel, ui->Receiver2Panel};
    for (QFrame* panel : receiverPanels)
        panel->installEventFilter(this);

    const ReceiverDisplayControls controls{ui->btnSingleMode, ui->btnTableMode, ui->sbFrequency};
    for (int r = 0; r < 2; ++r) {
        receiverThreads[r] = createReceiverDisplay(r, receiverPanels[r], controls, m_device, m_samples,
                                                   &receiverGraphs[r], m_hooks.receiverDisplays);
    }

    FormResize();
}

StatusControls TMain_Form::statusControls() const
{
    StatusControls c;
    c.edFileSize = ui->edFileSize;
    c.edSN = ui->edSN;
    c.linkStatus = m_linkStatus;
    c.edMin[0] = ui->edMin1;
    c.edMax[0] = ui->edMax1;
    c.edStep[0] = ui->edStep1;
    c.edMin[1] = ui->edMin2;
    c.edMax[1] = ui->edMax2;
    c.edStep[1] = ui->edStep2;
    c.edRTCDate = ui->edRTCDate;
    c.edRTCTime = ui->edRTCTime;
    c.edMarker = ui->edMarker;
    c.gbGPS = ui->gbGPS;
    c.graphs[0] = receiverGraphs[0];
    c.graphs[1] = receiverGraphs[1];
    return c;
}

void TMain_Form::pressModeButton(Mode mode)
{
    // Every measurement packet asks for its mode; only a change is worth a
    // trip to the window thread.
    if (m_modeShown.load() == int(mode))
        return;
    emit modeButtonRequested(int(mode), QPrivateSignal());
}

void TMain_Form::postWarning(const QString& text)
{
    emit warningPosted(text, QPrivateSignal());
}

void TMain_Form::FormResize()
{
    LayoutReceiverPanels();
}

void TMain_Form::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

bool TMain_Form::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == receiverPanels[0])
            Receiver1PanelResize();
        else if (watched == receiverPanels[1])
            Receiver2PanelResize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMain_Form::Receiver1PanelResize()
{
    receiverPanelResize(0);
}

void TMain_Form::Receiver2PanelResize()
{
    receiverPanelResize(1);
}

void TMain_Form::receiverPanelResize(int r)
{
    DBar* graph = receiverGraphs[r];
    if (!graph)
        return;
    graph->setGeometry(0, 0, receiverPanels[r]->width(), receiverPanels[r]->height());
    graph->update();
}

// The panels' own visibility flags count here, not whether the window is on
// screen: the layout is made while the window is still hidden.
void TMain_Form::LayoutReceiverPanels()
{
    QFrame* panels[2] = {ui->Receiver1Panel, ui->Receiver2Panel};
    PanelTiling::Input in{};
    in.statusColumn = toTile(ui->pnlStatus->geometry());
    in.infoLeft = int16_t(ui->pnlReceiverInfo->x());
    in.tileVertical = ui->btnTileV->isChecked();
    for (int r = 0; r < 2; ++r) {
        in.visible[r] = !panels[r]->isHidden();
        in.current[r] = toTile(panels[r]->geometry());
    }

    for (TR_Router* t : receiverThreads) {
        if (t)
            t->retitle();
    }

    PanelTiling::Rect out[2];
    PanelTiling::layout(in, out);
    // The panels' resize events wait while the window is hidden; the graphs
    // are sized here so that they fill their panels from the start.
    for (int r = 0; r < 2; ++r) {
        if (!in.visible[r])
            continue;
        panels[r]->setGeometry(out[r].left, out[r].top, out[r].width, out[r].height);
        receiverPanelResize(r);
    }
}

void TMain_Form::btnGPSPanelClick()
{
    ui->GPSPanel->show();
    ui->Receiver1Panel->hide();
    ui->Receiver2Panel->hide();
}

void TMain_Form::btnReceiverPanelsClick()
{
    ui->GPSPanel->hide();
    if (ui->btnReceiver1->isChecked())
        ui->Receiver1Panel->show();
    if (ui->btnReceiver2->isChecked())
        ui->Receiver2Panel->show();
    LayoutReceiverPanels();
}

void TMain_Form::btnReceiver1Click()
{
    receiverButtonClick(0);
}

void TMain_Form::btnReceiver2Click()
{
    receiverButtonClick(1);
}

// A receiver switched on while the GPS screen shows appears only when the
// receiver screen is chosen.
void TMain_Form::receiverButtonClick(int r)
{
    QAbstractButton* button = r == 0 ? ui->btnReceiver1 : ui->btnReceiver2;
    QFrame* panel = r == 0 ? ui->Receiver1Panel : ui->Receiver2Panel;
    if (button->isChecked()) {
        if (ui->GPSPanel->isHidden())
            panel->show();
    } else {
        panel->hide();
    }
    LayoutReceiverPanels();
}

void TMain_Form::btnTileVClick()
{
    LayoutReceiverPanels();
}

void TMain_Form::btnTileHClick()
{
    LayoutReceiverPanels();
}

void TMain_Form::btnLogFileClick()
{
    if (m_hooks.logFileClick)
        m_hooks.logFileClick();
}

void TMain_Form::btnLogModeClick()
{
    if (m_hooks.logModeClick)
        m_hooks.logModeClick();
}

void TMain_Form::Timer1Timer()
{
    ui->olClock->setText(ClockText::text(QLocale::system(), QTime::currentTime()));
    if (m_hooks.tickStatus)
        m_hooks.tickStatus();
    // Single-channel data reach the graphs at most once a second.
    m_samples.wakeForNewSamples();
}

void TMain_Form::MapClick()
{
    if (m_hooks.mapClick)
        m_hooks.mapClick();
}

void TMain_Form::AboutClick()
{
    if (!m_about)
        return;
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void TMain_Form::Exit1Click()
{
    close();
}

void TMain_Form::UserManualClick()
{
    QFileInfo manual(QDir::current(), QString::fromLatin1(kUserManual));
    if (!manual.exists() && !m_installedDocFolder.isEmpty()) {
        const QFileInfo installed(QDir(m_installedDocFolder), QString::fromLatin1(kUserManual));
        if (installed.exists())
            manual = installed;
    }
    const QUrl url = QUrl::fromLocalFile(manual.absoluteFilePath());
    // The second line says where the manual was looked for and why it did
    // not open, so the user knows which folder to start the program from.
    const char* reason = nullptr;
    if (!manual.exists())
        reason = "Not Found";
    else if (!manual.isFile())
        reason = "Not A File";
    else if (!manual.isReadable())
        reason = "Not Readable";
    else if (!(m_hooks.openUrl ? m_hooks.openUrl(url) : QDesktopServices::openUrl(url)))
        reason = "No Program Could Open It";
    if (reason)
        ShowMessageBox(0, "Could Not Load User Manual!!!\n%s: %s",
                       QFile::encodeName(manual.absoluteFilePath()).constData(), reason);
}

void TMain_Form::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

// Only sets the flags, in this order, and returns: main joins the workers
// after the event loop, while a pending Synchronize can still be served or
// abandoned. The USB link's flag is left to that final join.
void TMain_Form::FormClose()
{
    Timer1->stop();
    if (m_hooks.terminateLink)
        m_hooks.terminateLink();
    for (TR_Router* t : receiverThreads) {
        if (t)
            t->Terminate();
    }
    if (m_hooks.terminateWorkers)
        m_hooks.terminateWorkers();
    if (m_hooks.closing)
        m_hooks.closing();
    // The about box may still be open; closing this window ends the program
    // all the same.
    QCoreApplication::quit();
}
