#include "AppTestSupport.h"
#include "app/FieldFont.h"
#include "app/ShowMessageBox.h"
#include "app/TMain_Form.h"
#include "app/TMain_Router.h"
#include "display/DBar.h"
#include "link/LinkSettings.h"
#include "display/ReceiverBars.h"
#include "display/ReceiverGraphView.h"
#include "display/TR_Router.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"
#include "ui_TMain_Form.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

const auto* const joinWorkers = ::testing::AddGlobalTestEnvironment(new JoinWorkersAtExit);

// The records the window's displays read, made here as main makes them.
DeviceRecord& device()
{
    static DeviceRecord* record = new DeviceRecord;
    return *record;
}

SampleBuffers& samples()
{
    static SampleBuffers* buffers = new SampleBuffers;
    return *buffers;
}

// What stands behind the window's hooks; a test puts its own in and takes
// it out again.
struct FormHooks
{
    std::function<void()> logModeClick;
    std::function<void()> tickStatus;
    std::function<bool(const QUrl&)> openUrl;
    std::function<void(int receiver, int16_t value)> mapValue;
};

FormHooks& hooks()
{
    static FormHooks* swapped = new FormHooks;
    return *swapped;
}

// The installed documentation the window is made with: no manual in it
// unless a test puts one there.
const QTemporaryDir& installedDocs()
{
    static QTemporaryDir* docs = new QTemporaryDir;
    return *docs;
}

// One window for the binary, as in the program: its creation starts the two
// receiver display threads.
TMain_Form& form()
{
    static TMain_Form* window = [] {
        TMain_Form::Hooks wired;
        wired.logModeClick = [] {
            if (hooks().logModeClick)
                hooks().logModeClick();
        };
        wired.tickStatus = [] {
            if (hooks().tickStatus)
                hooks().tickStatus();
        };
        // No desktop viewer is ever started from a test.
        wired.openUrl = [](const QUrl& url) { return hooks().openUrl && hooks().openUrl(url); };
        wired.receiverDisplays.mapValue = [](int receiver, int16_t value) {
            if (hooks().mapValue)
                hooks().mapValue(receiver, value);
        };
        return new TMain_Form(device(), samples(), std::move(wired), installedDocs().path());
    }();
    return *window;
}

Ui::TMain_Form& ui()
{
    return form().form();
}

QRect bounds(QWidget* w)
{
    return w->geometry();
}

// Back to the state at start: receiver screen, both receivers, horizontal
// tiling, GPS screen still underneath.
void resetScreen()
{
    ui().btnReceiverPanels->setChecked(true);
    ui().btnReceiver1->setChecked(true);
    ui().btnReceiver2->setChecked(true);
    ui().btnTileH->setChecked(true);
    ui().GPSPanel->show();
    ui().Receiver1Panel->show();
    ui().Receiver2Panel->show();
    form().LayoutReceiverPanels();
}

const QRect kLeft(105, 33, 343, 453);
const QRect kRight(446, 33, 343, 453);
const QRect kTop(105, 33, 684, 227);
const QRect kBottom(105, 259, 684, 227);
const QRect kWhole(105, 33, 684, 453);

} // namespace

TEST(TMain_Form, StartsAsLaidOut)
{
    TMain_Form& f = form();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Tavrix Data Logger"));
    EXPECT_EQ(ui().centralwidget->size(), QSize(892, 504));
    EXPECT_TRUE(ui().btnReceiverPanels->isChecked());
    EXPECT_FALSE(ui().btnGPSPanel->isChecked());
    EXPECT_TRUE(ui().btnSingleMode->isChecked());
    EXPECT_TRUE(ui().btnTileH->isChecked());
    EXPECT_TRUE(ui().sbFrequency->isChecked());
    EXPECT_FALSE(ui().btnLogMode->isChecked());
    EXPECT_EQ(ui().LogFile->text(), QStringLiteral("Tavrix"));
    EXPECT_EQ(ui().edFileSize->text(), QStringLiteral("0 kB"));
    EXPECT_TRUE(ui().gbGPS->isHidden());
    EXPECT_FALSE(ui().gbGPS->isEnabled());
    EXPECT_FALSE(ui().lGPS->isHidden());
    EXPECT_FALSE(ui().GPSPanel->isHidden());
    EXPECT_EQ(ui().GPSPanel->geometry(), QRect(105, 33, 682, 452));
    EXPECT_EQ(bounds(ui().Receiver1Panel), kLeft);
    EXPECT_EQ(bounds(ui().Receiver2Panel), kRight);
    // The clock label moved into the status bar.
    EXPECT_EQ(ui().olClock->parentWidget(), ui().sbarTavrix);
    ASSERT_NE(f.receiverGraph(0), nullptr);
    ASSERT_NE(f.receiverGraph(1), nullptr);
    EXPECT_EQ(f.receiverGraph(0)->parentWidget(), ui().Receiver1Panel);
    EXPECT_EQ(f.receiverGraph(1)->parentWidget(), ui().Receiver2Panel);
    ASSERT_NE(f.receiverThread(0), nullptr);
    ASSERT_NE(f.receiverThread(1), nullptr);
    for (int r = 0; r < 2; ++r) {
        auto* view = dynamic_cast<ReceiverGraphView*>(f.receiverThread(r)->view());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->graph(), f.receiverGraph(r));
    }
}

TEST(TMain_Form, ButtonGroupsAndToggles)
{
    ui().btnScanMode->click();
    EXPECT_TRUE(ui().btnScanMode->isChecked());
    EXPECT_FALSE(ui().btnSingleMode->isChecked());
    ui().btnScanMode->click(); // a grouped button stays down
    EXPECT_TRUE(ui().btnScanMode->isChecked());
    ui().btnSingleMode->click();

    ui().sbChannel->click();
    EXPECT_FALSE(ui().sbFrequency->isChecked());
    ui().sbFrequency->click();
    EXPECT_FALSE(ui().sbChannel->isChecked());

    // "All up" singles release on a second click.
    int logClicks = 0;
    hooks().logModeClick = [&] { ++logClicks; };
    ui().btnLogMode->click();
    EXPECT_TRUE(ui().btnLogMode->isChecked());
    ui().btnLogMode->click();
    EXPECT_FALSE(ui().btnLogMode->isChecked());
    EXPECT_EQ(logClicks, 2);
    hooks().logModeClick = nullptr;
}

TEST(TMain_Form, TilingFollowsTheTileButtons)
{
    resetScreen();
    ui().btnTileV->click();
    EXPECT_EQ(bounds(ui().Receiver1Panel), kTop);
    EXPECT_EQ(bounds(ui().Receiver2Panel), kBottom);
    ui().btnTileH->click();
    EXPECT_EQ(bounds(ui().Receiver1Panel), kLeft);
    EXPECT_EQ(bounds(ui().Receiver2Panel), kRight);
    // Each graph fills its panel after the resize.
    ui().btnTileV->click();
    EXPECT_EQ(form().receiverGraph(0)->geometry(), QRect(0, 0, 684, 227));
    EXPECT_EQ(form().receiverGraph(1)->geometry(), QRect(0, 0, 684, 227));
    resetScreen();
}

TEST(TMain_Form, LayoutAsksForNewGraphTitles)
{
    resetScreen();
    // Settings stored without a reply counted: only the layout brings them
    // into the titles.
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    device().edit([&](DeviceRecord::Data& d) {
        d.receiverSettings[0].storeBlock(block);
        d.receiverSettings[1].storeBlock(block);
    });
    ui().btnTileH->click();
    for (Event& e : samples().receiverEvents)
        e.set();
    const auto titled = [](int r) {
        return form().receiverGraph(r)->titleText()
            == QString::fromStdString(ReceiverBars::title(r, device().settingsCopy(r)));
    };
    EXPECT_TRUE(processUntil([&] { return titled(0) && titled(1); }));
}

TEST(TMain_Form, ScreenSwitching)
{
    resetScreen();
    ui().btnGPSPanel->click();
    EXPECT_FALSE(ui().GPSPanel->isHidden());
    EXPECT_TRUE(ui().Receiver1Panel->isHidden());
    EXPECT_TRUE(ui().Receiver2Panel->isHidden());

    // R1 toggled while the GPS screen shows: nothing appears now...
    ui().btnReceiver1->click();
    ui().btnReceiver1->click();
    EXPECT_TRUE(ui().btnReceiver1->isChecked());
    EXPECT_TRUE(ui().Receiver1Panel->isHidden());
    // ...but it shows once the receiver screen is chosen.
    ui().btnReceiverPanels->click();
    EXPECT_TRUE(ui().GPSPanel->isHidden());
    EXPECT_FALSE(ui().Receiver1Panel->isHidden());
    EXPECT_FALSE(ui().Receiver2Panel->isHidden());
    EXPECT_EQ(bounds(ui().Receiver1Panel), kLeft);
    EXPECT_EQ(bounds(ui().Receiver2Panel), kRight);

    // R1 off on the receiver screen: R2 takes the whole area; R1 keeps bounds.
    ui().btnReceiver1->click();
    EXPECT_TRUE(ui().Receiver1Panel->isHidden());
    EXPECT_EQ(bounds(ui().Receiver2Panel), kWhole);
    EXPECT_EQ(bounds(ui().Receiver1Panel), kLeft);
    ui().btnReceiver1->click();
    EXPECT_FALSE(ui().Receiver1Panel->isHidden());
    EXPECT_EQ(bounds(ui().Receiver1Panel), kLeft);
    EXPECT_EQ(bounds(ui().Receiver2Panel), kRight);
    resetScreen();
}

TEST(TMain_Form, BothReceiversOffAtStartShowTheGpsScreenThrough)
{
    resetScreen();
    ui().btnReceiver1->click();
    ui().btnReceiver2->click();
    EXPECT_TRUE(ui().Receiver1Panel->isHidden());
    EXPECT_TRUE(ui().Receiver2Panel->isHidden());
    EXPECT_FALSE(ui().GPSPanel->isHidden());
    // Once the receiver screen has been chosen the GPS screen is gone.
    ui().btnReceiverPanels->click();
    EXPECT_TRUE(ui().GPSPanel->isHidden());
    EXPECT_TRUE(ui().Receiver1Panel->isHidden());
    EXPECT_TRUE(ui().Receiver2Panel->isHidden());
    resetScreen();
}

TEST(TMain_Form, ModePressesArePostedNotWaitedFor)
{
    ui().btnSingleMode->setChecked(true);
    // The link thread must return even while the window thread is busy.
    auto pressed = std::async(std::launch::async, [] {
        form().pressModeButton(DecoderWindow::Mode::Table);
        form().pressModeButton(DecoderWindow::Mode::Scan);
    });
    ASSERT_EQ(pressed.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(ui().btnSingleMode->isChecked()); // not applied before the loop runs
    ASSERT_TRUE(processUntil([] { return ui().btnScanMode->isChecked(); }));
    EXPECT_FALSE(ui().btnTableMode->isChecked());
    EXPECT_FALSE(ui().btnSingleMode->isChecked());
    ui().btnSingleMode->setChecked(true);
}

TEST(TMain_Form, TickWakesReceiversWithNewSingleData)
{
    SampleBuffers& s = samples();
    ui().btnSingleMode->setChecked(true);
    ASSERT_TRUE(processUntil([&] { return !s.receiverEvents[0].isSet() && !s.receiverEvents[1].isSet(); }));
    std::vector<int16_t> shown[2];
    hooks().mapValue = [&shown](int receiver, int16_t value) { shown[receiver].push_back(value); };
    s.singleAverage[0].store(-77);
    s.newSamples[0].store(1);
    s.newSamples[1].store(0);
    int statusTicks = 0;
    hooks().tickStatus = [&] { ++statusTicks; };
    form().Timer1Timer();
    hooks().tickStatus = nullptr;
    EXPECT_FALSE(s.receiverEvents[1].isSet());
    EXPECT_EQ(s.newSamples[0].load(), 0);
    EXPECT_EQ(statusTicks, 1);
    EXPECT_NE(ui().olClock->text(), QStringLiteral("HH:MM:SS"));
    // Receiver 1's display shows the new single-channel value; receiver 2's had nothing new.
    EXPECT_TRUE(processUntil([&] {
        return std::find(shown[0].begin(), shown[0].end(), -77) != shown[0].end() && !s.receiverEvents[0].isSet();
    }));
    EXPECT_TRUE(std::find(shown[1].begin(), shown[1].end(), -77) == shown[1].end());
    hooks().mapValue = nullptr;
}

TEST(TMain_Form, UserManualOpensFromTheCurrentFolderOrSaysSo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));

    std::vector<QUrl> opened;
    bool openResult = true;
    hooks().openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return openResult;
    };

    auto missing = dismissNextMessageBox();
    form().UserManualClick();
    EXPECT_TRUE(missing->seen);
    EXPECT_EQ(missing->caption, QStringLiteral("Information"));
    const QString path = QDir(dir.path()).absoluteFilePath(QStringLiteral("Tavrix1.0.pdf"));
    EXPECT_EQ(missing->text, QStringLiteral("Could Not Load User Manual!!!\n%1: Not Found").arg(path));
    EXPECT_EQ(missing->icon, QMessageBox::Information);
    EXPECT_TRUE(opened.empty());

    QFile pdf(dir.filePath(QStringLiteral("Tavrix1.0.pdf")));
    ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
    pdf.close();
    form().UserManualClick();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(dir.filePath(QStringLiteral("Tavrix1.0.pdf"))));

    openResult = false; // no viewer
    auto noViewer = dismissNextMessageBox();
    form().UserManualClick();
    EXPECT_TRUE(noViewer->seen);
    EXPECT_EQ(noViewer->text,
              QStringLiteral("Could Not Load User Manual!!!\n%1: No Program Could Open It").arg(path));

    hooks().openUrl = nullptr;
    QDir::setCurrent(before);
}

// Started in a folder of the user's, the program still finds the manual
// where it is installed.
TEST(TMain_Form, UserManualFallsBackToTheInstalledDocumentation)
{
    QTemporaryDir start;
    ASSERT_TRUE(start.isValid() && installedDocs().isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    const QString installed = installedDocs().filePath(QStringLiteral("Tavrix1.0.pdf"));
    QFile pdf(installed);
    ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
    pdf.close();
    // The other cases find no installed manual, whatever the order.
    const std::unique_ptr<QFile, void (*)(QFile*)> removed(&pdf, [](QFile* f) { f->remove(); });

    std::vector<QUrl> opened;
    hooks().openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    form().UserManualClick();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(installed));

    // One beside the start folder comes first.
    QFile local(start.filePath(QStringLiteral("Tavrix1.0.pdf")));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.close();
    form().UserManualClick();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(start.filePath(QStringLiteral("Tavrix1.0.pdf"))));

    hooks().openUrl = nullptr;
    QDir::setCurrent(before);
}

TEST(ShowMessageBox, KindsCaptionsAndTextLimit)
{
    struct Case
    {
        int16_t kind;
        const char* caption;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {0, "Information", QMessageBox::Information},
        {1, "Warning", QMessageBox::Warning},
        {2, "Error", QMessageBox::Critical},
    };
    for (const Case& c : cases) {
        auto seen = dismissNextMessageBox();
        ShowMessageBox(c.kind, "Kind %d!!", c.kind);
        EXPECT_TRUE(seen->seen);
        EXPECT_EQ(seen->caption, QString::fromLatin1(c.caption));
        EXPECT_EQ(seen->icon, c.icon);
        EXPECT_EQ(seen->text, QStringLiteral("Kind %1!!").arg(c.kind));
    }
    const std::string longText(3000, 'x');
    auto seen = dismissNextMessageBox();
    ShowMessageBox(1, "%s", longText.c_str());
    EXPECT_EQ(seen->text.size(), 1023);
}

TEST(ShowMessageBox, FromAWorkerWaitsUntilDismissed)
{
    auto seen = dismissNextMessageBox();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ShowMessageBox(1, "Scan Channel Information Not In Log File!!");
        returned = true;
    });
    ASSERT_TRUE(processUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(seen->seen);
    EXPECT_EQ(seen->caption, QStringLiteral("Warning"));
    EXPECT_EQ(seen->text, QStringLiteral("Scan Channel Information Not In Log File!!"));
}

// ---- status thread ----

namespace {

struct StatusFixture : ::testing::Test
{
    DeviceRecord s;
    LinkSettings link;
    std::vector<char> calls; // 'C' counters, 'B' beep
    std::optional<int32_t> size;
    StatusFieldsView view{form().statusControls()};
    std::unique_ptr<TMain_Router> router;

    void SetUp() override
    {
        TMain_Router::Hooks hooks;
        hooks.fileSizeKB = [this] {
            calls.push_back('C');
            return size;
        };
        hooks.beep = [this] { calls.push_back('B'); };
        router = std::make_unique<TMain_Router>(s, link, view, hooks, true);
        ui().edFileSize->setText(QStringLiteral("0 kB"));
    }

    void TearDown() override
    {
        router->Terminate();
        router->statusTickEvent.set(); // wakes it at once
        ASSERT_TRUE(processUntil([this] { return router->wait(0); }));
    }

    void setBand(int r, uint32_t low, uint32_t high, uint16_t stepRaw)
    {
        uint8_t block[12] = {};
        std::memcpy(block, &low, 4);
        std::memcpy(block + 4, &high, 4);
        block[8] = uint8_t(stepRaw);
        block[9] = uint8_t(stepRaw >> 8);
        s.edit([&](DeviceRecord::Data& d) { d.receiverSettings[r].storeBlock(block); });
    }

    void setSerial(const char* sn)
    {
        s.edit([&](DeviceRecord::Data& d) {
            std::memset(d.serialNumber, 0, sizeof d.serialNumber);
            std::memcpy(d.serialNumber, sn, std::min<size_t>(std::strlen(sn), 8));
        });
    }

    // As the decoder stores a clock message.
    void setMarker(uint8_t marker)
    {
        s.edit([&](DeviceRecord::Data& d) { d.rtc[6] = marker; });
    }
};

} // namespace

TEST_F(StatusFixture, CountersShowSerialLinkTextAndFileSize)
{
    setSerial("");
    link.setStatusText("");
    router->UpdateCounters();
    EXPECT_EQ(ui().edSN->text(), QStringLiteral("SN: "));
    EXPECT_EQ(form().linkStatusPanel()->text(), QString());
    EXPECT_EQ(ui().edFileSize->text(), QStringLiteral("0 kB")); // nothing logged yet

    setSerial("AB123456");
    link.setStatusText("Connected via COM");
    size = 57;
    router->UpdateCounters();
    EXPECT_EQ(ui().edSN->text(), QStringLiteral("SN: AB123456"));
    EXPECT_EQ(form().linkStatusPanel()->text(), QStringLiteral("Connected via COM"));
    EXPECT_EQ(ui().edFileSize->text(), QStringLiteral("57 kB"));

    size = 0; // a log file that cannot be examined
    router->UpdateCounters();
    EXPECT_EQ(ui().edFileSize->text(), QStringLiteral("0 kB"));
}

// The fields are refreshed every second; a user copying the serial number
// or a band limit must not lose the selection to a refresh that changes
// nothing, and an unchanged field is not repainted.
TEST_F(StatusFixture, RefreshThatChangesNothingLeavesTheFieldsAlone)
{
    setSerial("AB123456");
    setBand(0, 32000, 38400, 3200);
    size = 57;
    s.settingsStored({true, true});
    router->UpdateCounters();
    QLineEdit* const fields[] = {ui().edSN, ui().edFileSize, ui().edMin1};
    for (QLineEdit* edit : fields)
        edit->selectAll();

    s.settingsStored({true, true}); // the same settings again
    router->UpdateCounters();
    for (QLineEdit* edit : fields)
        EXPECT_TRUE(edit->hasSelectedText()) << edit->objectName().toStdString();

    setSerial("AB123457");
    router->UpdateCounters();
    EXPECT_EQ(ui().edSN->text(), QStringLiteral("SN: AB123457"));
    EXPECT_FALSE(ui().edSN->hasSelectedText());
    EXPECT_TRUE(ui().edFileSize->hasSelectedText());
}

TEST_F(StatusFixture, BandLimitsOnlyAfterNewSettingsAndForBothReceivers)
{
    setBand(0, 32000, 38400, 3200);
    setBand(1, 64000, 70400, 1600);
    s.settingsStored({true, true});
    router->UpdateCounters();
    EXPECT_EQ(ui().edMin1->text(), QStringLiteral("400"));
    EXPECT_EQ(ui().edMax1->text(), QStringLiteral("480"));
    EXPECT_EQ(ui().edStep1->text(), QStringLiteral("12.5"));
    EXPECT_EQ(ui().edMin2->text(), QStringLiteral("400"));
    EXPECT_EQ(ui().edMax2->text(), QStringLiteral("440"));
    EXPECT_EQ(ui().edStep2->text(), QStringLiteral("6.25"));

    // Without a new ReceiverSetup the fields stay as they are.
    setBand(0, 1, 2, 256);
    router->UpdateCounters();
    EXPECT_EQ(ui().edMin1->text(), QStringLiteral("400"));
}

TEST_F(StatusFixture, ClockMarkerAndGpsOff)
{
    const uint8_t rtc[7] = {5, 4, 3, 17, 11, 7, 0};
    s.edit([&](DeviceRecord::Data& d) { std::memcpy(d.rtc, rtc, 7); });
    ui().gbGPS->setVisible(true);
    ui().gbGPS->setEnabled(true);
    const std::pair<uint8_t, const char*> markers[] = {{7, "Mrkr #7"}, {123, "Mrkr #23"}, {100, "Mrkr #0"}, {255, "Mrkr #55"}};
    for (const auto& [marker, text] : markers) {
        setMarker(marker);
        router->UpdateClockAndMarker();
        EXPECT_EQ(ui().edMarker->text(), QString::fromLatin1(text));
    }
    EXPECT_EQ(ui().edRTCDate->text(), QStringLiteral("11/17/2007"));
    EXPECT_EQ(ui().edRTCTime->text(), QStringLiteral("03:04:05"));
    EXPECT_TRUE(ui().gbGPS->isHidden());
    EXPECT_FALSE(ui().gbGPS->isEnabled());
}

TEST(TMain_Form, ControlsWithoutCaptionAreNamedByTheirHint)
{
    int named = 0;
    for (QWidget* w : form().findChildren<QWidget*>()) {
        auto* button = qobject_cast<QAbstractButton*>(w);
        const bool control = button || qobject_cast<QLineEdit*>(w);
        if (!control || w->toolTip().isEmpty() || (button && !button->text().isEmpty()))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), w->toolTip()) << w->objectName().toStdString();
        ++named;
    }
    EXPECT_GE(named, 7); // the icon-only tool bar buttons at least
    // A screen reader can tell every tool bar button apart.
    for (QToolButton* b : form().findChildren<QToolButton*>()) {
        if (b->objectName().startsWith(QLatin1String("qt_")))
            continue; // Qt's own menu bar overflow button
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << b->objectName().toStdString();
    }
}

TEST_F(StatusFixture, LostLinkShowsGpsOffAndGreysTheBarsUntilDataFlowAgain)
{
    DBar& graph = *form().receiverGraph(0);
    const auto barsIn = [&](QRgb colour) {
        int n = 0;
        const QImage& c = graph.canvas();
        for (int y = graph.plotGeometry().plotRect.top; y < graph.plotGeometry().plotRect.bottom; ++y)
            for (int x = graph.plotGeometry().plotRect.left; x < graph.plotGeometry().plotRect.right; ++x)
                n += c.pixel(x, y) == colour;
        return n;
    };
    const QRgb maroon = qRgb(0x80, 0, 0);
    const auto drawBars = [&] {
        graph.BeginBars();
        graph.DrawBar(1, QStringLiteral("-60 dBm"), -60.0);
        graph.EndBars(QString());
    };
    drawBars();
    ASSERT_GT(barsIn(maroon), 1000);
    ui().gbGPS->setVisible(true);
    ui().gbGPS->setEnabled(true);

    link.setStatusText("Link Lost!!");
    link.linkLost = true;
    router->UpdateCounters();
    EXPECT_TRUE(ui().gbGPS->isHidden());
    EXPECT_FALSE(ui().gbGPS->isEnabled());
    EXPECT_TRUE(graph.stale());
    EXPECT_EQ(barsIn(maroon), 0) << "bars still drawn as live";
    EXPECT_GT(barsIn(qRgb(0xA0, 0xA0, 0xA0)), 1000);

    // Back, but no data yet: still not live.
    link.setStatusText("Connected via COM");
    link.linkLost = false;
    router->UpdateCounters();
    EXPECT_TRUE(graph.stale());
    drawBars();
    EXPECT_FALSE(graph.stale());
    EXPECT_GT(barsIn(maroon), 1000);
}

TEST(TMain_Form, SerialNumberFieldShowsTheWholeText)
{
    QLineEdit* sn = ui().edSN;
    sn->setText(QStringLiteral("SN: "));
    const QFont design = sn->font();
    const int room = FieldFont::availableWidth(sn);
    for (const char* text : {"SN: RAW00001", "SN: AB123456", "SN: WWWWMMMM"}) {
        sn->setText(QString::fromLatin1(text));
        EXPECT_LE(QFontMetrics(sn->font()).horizontalAdvance(sn->text()), room) << text;
        EXPECT_GE(QFontInfo(sn->font()).pixelSize(), FieldFont::kMinPixels);
    }
    sn->setText(QStringLiteral("SN: "));
    EXPECT_EQ(sn->font(), design);
}
