// The program's start and end in one process: the forms created as main
// creates them, the port dialog confirmed, the status fields filled from the
// device emulator, then the window closed with every worker running.
#include "AppTestSupport.h"
#include "app/LinkStarter.h"
#include "app/TAboutDlg.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "display/TR_Router.h"
#include "gps/GpsRecord.h"
#include "gps/TGPS_Router.h"
#include "link/LinkSettings.h"
#include "link/TCom_Router.h"
#include "protocol/Decoder.h"
#include "protocol/MeasurementState.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

struct Program
{
    TMain_Form mainForm{measurementState()};
    TAboutDlg about;
    LinkStarter starter{measurementState(), gpsRecord(), linkSettings()};
    std::unique_ptr<TCom_Form> comForm;
    bool closingHookRan = false;

    Program()
    {
        mainForm.setWindowState(Qt::WindowMinimized);
        mainForm.setAboutBox(&about);
        starter.window = &mainForm;
        starter.statusControls = mainForm.statusControls();
        starter.startGpsThread = [this] {
            auto* gps = new TGPS_Router(measurementState(), gpsRecord(), &mainForm, nullptr);
            measurementState().gpsThread.store(gps);
        };
        mainForm.onClosing = [this] { closingHookRan = true; };
        comForm = std::make_unique<TCom_Form>(starter, &mainForm);
        comForm->show();
    }
};

Program* program = nullptr;
QProcess* emulator = nullptr;
QTemporaryDir* tmp = nullptr;

QString text(const char* name)
{
    if (auto* edit = program->mainForm.findChild<QLineEdit*>(QLatin1String(name)))
        return edit->text();
    return QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

QString emulatorBinary()
{
    const QByteArray dir = qgetenv("TAVRIX_BIN_DIR");
    const QString path = QString::fromLocal8Bit(dir) + QStringLiteral("/tavrix-sim");
    return !dir.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

} // namespace

TEST(Startup, PortDialogOffersThePortsAndStartsAtCom1)
{
    program = new Program;
    QComboBox* choice = program->comForm->portChoice();
    ASSERT_GE(choice->count(), 5);
    const char* fixed[] = {"COM1:", "COM2:", "COM3:", "COM4:", "USB"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(choice->itemText(i), QString::fromLatin1(fixed[i]));
    EXPECT_EQ(choice->currentText(), QStringLiteral("COM1:"));
    EXPECT_TRUE(choice->isEditable());
    EXPECT_EQ(program->comForm->windowTitle(), QStringLiteral("Select Communications Port"));
    EXPECT_TRUE(program->comForm->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(program->comForm->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(program->comForm->isVisible());
    EXPECT_FALSE(program->mainForm.isVisible());
    EXPECT_EQ(linkSettings().linkKind.load(), LinkSettings::kNone);
}

TEST(Startup, TypedDeviceAndEnterConnectAndTheStatusShowsTheDevice)
{
    ASSERT_NE(program, nullptr);
    tmp = new QTemporaryDir;
    const QString linkPath = tmp->filePath(QStringLiteral("tavrix-pty"));
    const QString sim = emulatorBinary();
    if (!sim.isEmpty()) {
        emulator = new QProcess;
        emulator->start(sim, {QStringLiteral("--link"), linkPath, QStringLiteral("--gps"), QStringLiteral("off")});
        ASSERT_TRUE(emulator->waitForStarted(5000));
        ASSERT_TRUE(processUntil([&] { return QFileInfo::exists(linkPath); }, 5000)) << "no pty from the emulator";
    }

    // Typed path, then Enter in the combo box: the default button confirms.
    QComboBox* choice = program->comForm->portChoice();
    choice->setEditText(linkPath);
    QTest::keyClick(choice->lineEdit(), Qt::Key_Return);

    EXPECT_EQ(linkSettings().linkKind.load(), LinkSettings::kSerial);
    EXPECT_EQ(linkSettings().comPort.load(), 0);
    EXPECT_EQ(linkSettings().devicePath(), linkPath.toStdString());
    EXPECT_EQ(choice->count(), 5 + TCom_Form::serialDevices().size()); // not inserted as an item
    EXPECT_TRUE(program->starter.started());
    EXPECT_NE(linkThread.load(), nullptr);
    EXPECT_NE(measurementState().statusThread.load(), nullptr);
    EXPECT_NE(measurementState().gpsThread.load(), nullptr);
    EXPECT_TRUE(program->comForm->isHidden());
    EXPECT_TRUE(program->mainForm.isVisible());
    EXPECT_FALSE(program->mainForm.windowState() & Qt::WindowMinimized);

    if (sim.isEmpty())
        GTEST_SKIP() << "tavrix-sim not built: no device to talk to";

    ASSERT_TRUE(processUntil([] { return text("edSN") == QStringLiteral("SN: AB123456"); }, 10000))
        << text("edSN").toStdString();
    ASSERT_TRUE(processUntil([] {
        return program->mainForm.linkStatusPanel()->text() == QStringLiteral("Connected via COM");
    }));

    // The clock message of the GPS-less device fills the clock fields.
    ASSERT_TRUE(processUntil([] { return !text("edMarker").isEmpty(); }, 5000));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}$")).match(text("edRTCDate")).hasMatch())
        << text("edRTCDate").toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(text("edRTCTime")).hasMatch())
        << text("edRTCTime").toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Mrkr #\\d{1,2}$")).match(text("edMarker")).hasMatch())
        << text("edMarker").toStdString();

    // Band limits come with the device's reply to a settings request.
    program->starter.decoder()->requestSettings();
    ASSERT_TRUE(processUntil([] { return text("edMin1") == QStringLiteral("851"); }, 5000))
        << text("edMin1").toStdString();
    EXPECT_EQ(text("edMax1"), QStringLiteral("860"));
    EXPECT_EQ(text("edStep1"), QStringLiteral("25"));
    EXPECT_EQ(text("edMin2"), QStringLiteral("851"));
    EXPECT_EQ(text("edMax2"), QStringLiteral("860"));
    EXPECT_EQ(text("edStep2"), QStringLiteral("25"));
}

TEST(Startup, ClosingSetsEveryFlagAndAllWorkersJoin)
{
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(program->starter.started());
    MeasurementState& s = measurementState();

    program->about.show(); // an open about box does not keep the program alive
    program->mainForm.close();

    EXPECT_TRUE(program->closingHookRan);
    EXPECT_TRUE(linkThread.load()->Terminated()); // serial link
    EXPECT_TRUE(s.receiverThreads[0].load()->Terminated());
    EXPECT_TRUE(s.receiverThreads[1].load()->Terminated());
    EXPECT_TRUE(s.gpsThread.load()->Terminated());
    EXPECT_TRUE(s.statusThread.load()->Terminated());

    QElapsedTimer clock;
    clock.start();
    WorkerThread::shutdownAll();
    std::printf("[ figure   ] shutdown with every worker running: %lld ms\n",
                static_cast<long long>(clock.elapsed()));
    EXPECT_TRUE(linkThread.load()->isFinished());
    EXPECT_TRUE(s.receiverThreads[0].load()->isFinished());
    EXPECT_TRUE(s.receiverThreads[1].load()->isFinished());
    EXPECT_TRUE(s.gpsThread.load()->isFinished());
    EXPECT_TRUE(s.statusThread.load()->isFinished());

    if (emulator) {
        emulator->terminate();
        emulator->waitForFinished(3000);
    }
}
