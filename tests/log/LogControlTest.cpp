#include "link/PacketRecord.h"
#include "log/KlfRecordList.h"
#include "log/LogControl.h"
#include "log/LogTestUtil.h"
#include "log/TLogWarningForm.h"
#include "log/LogFileName.h"
#include <QFileInfo>
#include <QFileDialog>
#include <QDir>
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace {

PacketRecord packetOf(uint8_t type, const std::vector<uint8_t>& payload)
{
    PacketRecord p;
    const auto r = makeRecord(type, payload);
    p.bytes[0] = PacketRecord::kSync;
    std::copy(r.begin(), r.end(), p.bytes.begin() + 1);
    return p;
}

int openWarningBoxes()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()
                                                        && box->text() == LogControl::kWarningText)
            ++n;
    return n;
}

class LogControlFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logFile.setText(dir.path() + "/run1.old");
        btnLogMode.setCheckable(true);
        control = std::make_unique<LogControl>(device, &logFile, &btnLogMode, &window, &warningForm,
                                               [this] {
                                                   ++settingsRequests;
                                                   writerAtRequest = control->writer();
                                               });
        // As the program joins them.
        warningForm.onConfirmed = [this] { control->resetUnloggedScans(); };
    }
    void TearDown() override { control.reset(); }

    void switchLogging(bool on)
    {
        btnLogMode.setChecked(on);
        control->btnLogModeClick();
    }

    QTemporaryDir dir;
    DeviceRecord device;
    QWidget window;
    QLineEdit logFile;
    QToolButton btnLogMode;
    TLogWarningForm warningForm{device};
    int settingsRequests = 0;
    TLog_Router* writerAtRequest = reinterpret_cast<TLog_Router*>(1);
    std::unique_ptr<LogControl> control;
};

} // namespace

TEST_F(LogControlFixture, switchingOnRequestsSettingsThenLogsEveryPacketType)
{
    switchLogging(true);
    EXPECT_EQ(settingsRequests, 1);
    EXPECT_NE(writerAtRequest, nullptr) << "the settings reply could come before anything takes posts";
    EXPECT_EQ(writerAtRequest, control->writer());
    EXPECT_TRUE(warningForm.isVisible());
    EXPECT_FALSE(logFile.isEnabled());
    TLog_Router* writer = control->writer();
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->fileName(), (dir.path() + "/run1.KLF").toStdString());

    device.channelInfoPresent = 1;
    const std::vector<PacketRecord> packets{
        packetOf(1, std::vector<uint8_t>(25, 1)), packetOf(7, std::vector<uint8_t>(15, 2)),
        packetOf(8, {1, 2, 3}), packetOf(0, std::vector<uint8_t>(152, 4)), packetOf(42, {})};
    for (const auto& p : packets)
        control->handOff(p);
    switchLogging(false);
    EXPECT_TRUE(logFile.isEnabled());
    control->handOff(packets[0]); // logging off: not written
    writer->stopAndWait();

    const auto data = readFile(writer->fileName());
    KlfRecordList r(data);
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    ASSERT_EQ(r.records().size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto bytes = r.recordBytes(r.records()[i]);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), packets[i].fromLength())) << i;
    }
    ASSERT_TRUE(control->fileSizeKB());
    EXPECT_EQ(*control->fileSizeKB(), int32_t(data.size() / 1024));
}

TEST_F(LogControlFixture, missingChannelInformationWarnsAtThe21stPacketWithoutBlocking)
{
    switchLogging(true);
    TLog_Router* writer = control->writer();
    warningForm.hide();
    device.channelInfoPresent = 0;
    const PacketRecord scan = packetOf(7, std::vector<uint8_t>(15, 0));
    const PacketRecord clock = packetOf(4, std::vector<uint8_t>(7, 0));

    for (int i = 0; i < 20; ++i) {
        control->handOff(scan);
        control->handOff(clock); // not a measurement packet: never counted
    }
    QApplication::processEvents();
    EXPECT_EQ(control->unloggedScanCount(), 20);
    EXPECT_EQ(openWarningBoxes(), 0);

    // The link thread hands off the 21st and carries on without waiting.
    auto linkThread = std::async(std::launch::async, [&] {
        for (int i = 0; i < 50; ++i)
            control->handOff(scan);
    });
    ASSERT_EQ(linkThread.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the hand-off waited for the window thread";
    QApplication::processEvents();
    ASSERT_EQ(openWarningBoxes(), 1);
    QMessageBox* box = control->warningBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Warning");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_FALSE(box->isModal());

    // More packets while the box is open: still one box, still logged.
    for (int i = 0; i < 40; ++i)
        control->handOff(scan);
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 1);

    box->button(QMessageBox::Ok)->click();
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 0);
    EXPECT_EQ(control->unloggedScanCount(), 0);

    // Counting starts again: the next box comes with the 21st packet after.
    for (int i = 0; i < 20; ++i)
        control->handOff(scan);
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 0);
    control->handOff(scan);
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 1);
    control->warningBox()->button(QMessageBox::Ok)->click();
    QApplication::processEvents();

    switchLogging(false);
    writer->stopAndWait();
    EXPECT_EQ(writer->writtenCount(), 20u * 2 + 50 + 40 + 21);
    EXPECT_EQ(writer->droppedCount(), 0u);
}

TEST_F(LogControlFixture, noCountingWhileLoggingIsOffOrChannelInformationIsPresent)
{
    const PacketRecord single = packetOf(2, std::vector<uint8_t>(10, 0));
    for (int i = 0; i < 30; ++i)
        control->handOff(single);
    EXPECT_EQ(control->unloggedScanCount(), 0);

    switchLogging(true);
    device.channelInfoPresent = 1;
    for (int i = 0; i < 30; ++i)
        control->handOff(single);
    EXPECT_EQ(control->unloggedScanCount(), 0);
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 0);
    switchLogging(false);
}

TEST_F(LogControlFixture, warningFormOkForgetsChannelInformationButTheTitleBarDoesNot)
{
    switchLogging(true);
    warningForm.hide();
    device.channelInfoPresent = 0;
    for (int i = 0; i < 7; ++i)
        control->handOff(packetOf(7, std::vector<uint8_t>(15, 0)));
    device.channelInfoPresent = 1;
    warningForm.show();
    warningForm.close();
    EXPECT_EQ(device.channelInfoPresent.load(), 1);
    EXPECT_EQ(control->unloggedScanCount(), 7);

    warningForm.show();
    warningForm.findChild<QPushButton*>("Button1")->click();
    EXPECT_EQ(device.channelInfoPresent.load(), 0);
    EXPECT_EQ(control->unloggedScanCount(), 0);
    EXPECT_FALSE(warningForm.isVisible());
    switchLogging(false);
}

TEST_F(LogControlFixture, aHeaderAfterOkCarriesNoChannelInformationFromBefore)
{
    const auto old = makeRecord(6, std::vector<uint8_t>(98, 0x33)); // an earlier scan's list
    device.edit([&](DeviceRecord::Data& d) {
        d.channelInfoRecord.count = uint16_t(old.size());
        std::copy(old.begin(), old.end(), d.channelInfoRecord.bytes.begin());
    });
    device.channelInfoPresent = 1;
    warningForm.show();
    warningForm.findChild<QPushButton*>("Button1")->click();
    device.channelInfoPresent = 1; // a table report: present, but nothing stored

    TLog_Router writer((dir.path() + "/table.KLF").toStdString(), device);
    writer.stopAndWait();
    const auto data = readFile(writer.fileName());
    KlfRecordList r(data);
    EXPECT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    EXPECT_FALSE(r.channelInfo()) << "the header carries the earlier scan's channel list";
}

TEST_F(LogControlFixture, warningFormOpensWithItsFrameAtTheDesignedPlaceAndSize)
{
    for (int showing = 0; showing < 2; ++showing) {
        SCOPED_TRACE(showing);
        switchLogging(true);
        ASSERT_TRUE(warningForm.isVisible());
        EXPECT_EQ(warningForm.frameGeometry(), QRect(281, 133, 522, 440));
        // Moved and resized by the user, it opens as designed again.
        warningForm.setGeometry(10, 10, 300, 300);
        switchLogging(false);
        warningForm.hide();
    }
}

TEST_F(LogControlFixture, hiddenWarningFormGivesBackItsWindowAndShowsAgain)
{
    warningForm.show();
    ASSERT_NE(warningForm.windowHandle(), nullptr);
    warningForm.findChild<QPushButton*>("Button1")->click();
    QApplication::processEvents();
    EXPECT_EQ(warningForm.windowHandle(), nullptr) << "the hidden dialog keeps its window and screen buffer";

    warningForm.show();
    EXPECT_TRUE(warningForm.isVisible());
    EXPECT_NE(warningForm.windowHandle(), nullptr);
    EXPECT_EQ(warningForm.findChild<QPushButton*>("Button1")->text(), QStringLiteral("OK"));
}

TEST_F(LogControlFixture, aLogFileThatCannotBeCreatedIsReportedAndLoggingStops)
{
    logFile.setText(dir.path() + "/missing/run");
    switchLogging(true);
    for (int i = 0; i < 200 && !control->errorBox(); ++i)
        QTest::qWait(10);
    ASSERT_NE(control->errorBox(), nullptr);
    EXPECT_TRUE(control->errorBox()->text().startsWith("Could Not Create Log File!!! "))
        << control->errorBox()->text().toStdString();
    EXPECT_FALSE(btnLogMode.isChecked());
    EXPECT_TRUE(logFile.isEnabled());
    EXPECT_FALSE(control->logging());
    EXPECT_FALSE(warningForm.isVisible()) << "the dialog still says to start the measurement";
    control->handOff(packetOf(7, std::vector<uint8_t>(15, 0)));
    EXPECT_EQ(control->unloggedScanCount(), 0);
}

// Log Data right after connecting: the header must carry what the settings
// reply brings, and the packets that came before it are kept.
TEST_F(LogControlFixture, theHeaderWaitsForTheSettingsReplyAndPacketsMeanwhileAreKept)
{
    control->setSettingsWait(std::chrono::minutes(5)); // only the reply may end the wait here
    switchLogging(true);
    TLog_Router* writer = control->writer();
    const PacketRecord scan = packetOf(7, std::vector<uint8_t>(15, 3));
    for (int i = 0; i < 5; ++i)
        control->handOff(scan);

    // The reply, as the decoder stores it before the hand-off.
    device.edit([](DeviceRecord::Data& d) {
        std::strcpy(d.serialNumber, "TX000042");
        d.receiverActive = {true, true};
    });
    device.settingsStored({true, true});
    const PacketRecord reply = packetOf(1, std::vector<uint8_t>(25, 1));
    control->handOff(reply);
    ASSERT_TRUE(QTest::qWaitFor([&] { return writer->writtenCount() == 6; }, 20000));
    switchLogging(false);
    writer->stopAndWait();

    const auto data = readFile(writer->fileName());
    KlfRecordList r(data);
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    EXPECT_EQ(r.serialNumber(), "TX000042");
    EXPECT_EQ(r.receiverFlags(), 0x03);
    EXPECT_EQ(r.records().size(), 6u);
}

TEST_F(LogControlFixture, withoutASettingsReplyTheHeaderIsWrittenAfterTheWait)
{
    control->setSettingsWait(std::chrono::milliseconds(50));
    switchLogging(true);
    TLog_Router* writer = control->writer();
    control->handOff(packetOf(7, std::vector<uint8_t>(15, 3)));
    // Logging is still on: only the wait can have let the header out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return writer->writtenCount() == 1; }, 20000));
    EXPECT_EQ(readFile(writer->fileName()).size(), 63u + 19u);
    switchLogging(false);
}

TEST_F(LogControlFixture, aLogFileInUseIsRefusedAndTheButtonReleased)
{
    const std::string name = (dir.path() + "/run1.KLF").toStdString();
    TLog_Router other(name, device);
    other.PostRecord(packetOf(7, std::vector<uint8_t>(15, 0)).fromLength(), 19);
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.writtenCount() == 1; }, 20000));

    switchLogging(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->errorBox() != nullptr; }, 20000));
    EXPECT_EQ(control->errorBox()->text(), QString::fromStdString("Log File In Use!!! " + name));
    EXPECT_FALSE(btnLogMode.isChecked());
    EXPECT_TRUE(logFile.isEnabled());
    EXPECT_FALSE(control->logging());
    other.stopAndWait();
}

TEST_F(LogControlFixture, namesWithoutAFileNameOrTooLongAreRefusedBeforeAnythingHappens)
{
    const QString cases[] = {QString(), QStringLiteral(".."), dir.path() + "/sub/", dir.path() + "/.hidden",
                             dir.path() + "/" + QString(300, QLatin1Char('x'))};
    for (const QString& text : cases) {
        SCOPED_TRACE(text.toStdString());
        logFile.setText(text);
        switchLogging(true);
        ASSERT_NE(control->errorBox(), nullptr);
        EXPECT_EQ(control->errorBox()->text().toStdString(), LogFileName::problem(text.toStdString()));
        EXPECT_FALSE(control->errorBox()->text().isEmpty());
        EXPECT_FALSE(btnLogMode.isChecked());
        EXPECT_FALSE(control->logging());
        EXPECT_FALSE(warningForm.isVisible());
        EXPECT_EQ(settingsRequests, 0);
        EXPECT_EQ(control->writer(), nullptr);
        EXPECT_TRUE(logFile.isEnabled());
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral(".KLF")));
}

TEST(LogFileDialog, isASaveDialogForANewOrExistingLogThatNeverAsksToOverwrite)
{
    QTemporaryDir dir;
    std::unique_ptr<QFileDialog> dialog(LogControl::makeLogFileDialog(nullptr, dir.path() + "/Tavrix"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->nameFilters(),
              QStringList({QStringLiteral("Tavrix log files (*.KLF)"), QStringLiteral("All files (*)")}));

    // A name that does not exist yet is taken.
    const QString fresh = dir.path() + "/run2.KLF";
    dialog->selectFile(fresh);
    static_cast<QDialog*>(dialog.get())->accept(); // as the Save button does
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->selectedFiles(), QStringList{fresh});
}
