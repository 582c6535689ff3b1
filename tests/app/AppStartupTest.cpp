// The program's start: the forms created as main creates them, the port
// dialog as the user first sees it. The run against the device emulator and
// the shutdown are in the end-to-end tests.
#include "app/FieldFont.h"
#include "app/Program.h"
#include "app/ProgramExit.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "protocol/GpsRecord.h"
#include "gps/MapExport.h"
#include "link/LinkSettings.h"
#include "protocol/DeviceRecord.h"
#include "platform/Event.h"
#include "platform/ExitGuard.h"
#include "platform/WorkerThread.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

// The receiver displays wait on the sample buffers' events from the moment
// the main form exists: close the program and join them, as main does,
// before the records go out of scope (also when an assertion ends the test).
class ClosedAtScopeEnd
{
public:
    explicit ClosedAtScopeEnd(Program& program) : m_program(program) {}
    ~ClosedAtScopeEnd()
    {
        m_program.mainForm().close();
        WorkerThread::shutdownAll();
        WorkerThread::reopen();
    }
    ClosedAtScopeEnd(const ClosedAtScopeEnd&) = delete;
    ClosedAtScopeEnd& operator=(const ClosedAtScopeEnd&) = delete;

private:
    Program& m_program;
};

} // namespace

TEST(Startup, PortDialogOffersThePortsAndStartsAtCom1)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    LinkSettings link;
    Program program(device, samples, gps, link);
    const ClosedAtScopeEnd closed(program);
    QComboBox* choice = program.comForm().portChoice();
    ASSERT_GE(choice->count(), 5);
    const char* fixed[] = {"COM1:", "COM2:", "COM3:", "COM4:", "USB"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(choice->itemText(i), QString::fromLatin1(fixed[i]));
    EXPECT_EQ(choice->currentText(), QStringLiteral("COM1:"));
    EXPECT_TRUE(choice->isEditable());
    EXPECT_EQ(program.comForm().windowTitle(), QStringLiteral("Select Communications Port"));
    EXPECT_TRUE(program.comForm().windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(program.comForm().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(program.comForm().isVisible());
    EXPECT_FALSE(program.mainForm().isVisible());
    EXPECT_EQ(link.linkKind.load(), LinkSettings::kNone);
    // Nothing is exported before a port is chosen and GPS data arrive.
    EXPECT_EQ(program.gpsThread(), nullptr);
    EXPECT_FALSE(program.mapExport().isMapped());

    // A long device path: the end, where devices differ, stays in view.
    QLineEdit* edit = choice->lineEdit();
    ASSERT_NE(edit, nullptr);
    const QString path = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9K2LQ3B-if00-port0");
    choice->addItem(path);
    EXPECT_GE(choice->view()->minimumWidth(), choice->view()->fontMetrics().horizontalAdvance(path))
        << "the list cuts the path's tail";
    choice->setEditText(path);
    EXPECT_EQ(edit->cursorPosition(), path.size());
    EXPECT_GE(QFontInfo(edit->font()).pixelSize(), FieldFont::kMinPixels);
    // A short choice keeps the designed font.
    const QFont before = edit->font();
    choice->setEditText(QStringLiteral("COM1:"));
    EXPECT_LE(QFontMetrics(edit->font()).horizontalAdvance(QStringLiteral("COM1:")), FieldFont::availableWidth(edit));
    EXPECT_GE(QFontInfo(edit->font()).pixelSize(), QFontInfo(before).pixelSize());
}

namespace {

// Runs until told to stop; the error below ends the program while it waits.
class IdleWorker : public WorkerThread
{
public:
    std::atomic<bool> finished{false};

protected:
    void Execute() override
    {
        while (!Terminated())
            m_stop.wait(1000);
        finished = true;
    }
    void terminateRequested() override { m_stop.set(); }

private:
    Event m_stop;
};

// Builds the program as main does, arms main's exit guard and calls exit()
// with the display still there.
[[noreturn]] void exitWithTheDisplayThere()
{
    // Never freed: exit() unwinds nothing, as in main.
    auto* device = new DeviceRecord;
    auto* samples = new SampleBuffers;
    auto* gps = new GpsRecord;
    auto* link = new LinkSettings;
    auto* program = new Program(*device, *samples, *gps, *link);
    new ExitGuard([program] { program->closeOnExit(); });
    std::exit(0);
}

} // namespace

// main's status: 0 only when the body returned; an error, of any type, gives
// the failure status after every worker has stopped and the error was shown.
TEST(MainExit, AnErrorEndsWithTheFailureStatusOnceTheWorkersHaveStopped)
{
    const struct
    {
        const char* legend;
        std::function<void()> fails;
        int status;
        std::string reported;
    } cases[] = {
        {"returns", [] {}, ProgramExit::kClosed, ""},
        {"std::exception", [] { throw std::runtime_error("Cannot Open Port"); }, ProgramExit::kFailed,
         "Cannot Open Port"},
        {"anything else", [] { throw 42; }, ProgramExit::kFailed, "an unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        WorkerThread::reopen();
        auto* worker = new IdleWorker; // never freed: joined like every worker
        worker->start();
        std::string reported;
        bool stoppedBeforeReport = false;
        const int status = ProgramExit::run(
            [&] {
                c.fails();
                worker->Terminate(); // as closing the window does
                worker->wait();
            },
            [&](const char* what) {
                reported = what;
                stoppedBeforeReport = worker->finished.load();
            });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(reported, c.reported);
        if (c.status != ProgramExit::kClosed) {
            EXPECT_TRUE(stoppedBeforeReport) << "the error was shown while a worker still ran";
        }
        EXPECT_TRUE(worker->isFinished());
    }
    WorkerThread::reopen();
}

// An exit() that is not the display going away closes everything all the
// same, but does not blame the display.
TEST(MainExit, AnExitWithTheDisplayThereDoesNotSayItWasLost)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Qt's own warnings may come first.
    EXPECT_EXIT(exitWithTheDisplayThere(), testing::ExitedWithCode(ExitGuard::kStatus),
                testing::AllOf(testing::HasSubstr("tavrix-dl: exit() was called while the program ran; the log is "
                                                  "closed and the program ends\n"),
                               testing::Not(testing::HasSubstr("display was lost"))));
}
