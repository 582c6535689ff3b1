#include "log/LogControlView.h"

#include "link/PacketRecord.h"
#include "log/KlfRecordList.h"
#include "log/LogControl.h"
#include "log/LogTestUtil.h"
#include "log/TLogWarningForm.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

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

class LogWindowFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logFile.setText(dir.path() + "/run1.old");
        btnLogMode.setCheckable(true);
        auto owned = std::make_unique<LogControlView>(&logFile, &btnLogMode, &window, &warningForm);
        view = owned.get();
        control = std::make_unique<LogControl>(device, std::move(owned), [this] { ++settingsRequests; });
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
    LogControlView* view = nullptr;
    std::unique_ptr<LogControl> control;
};

} // namespace

// The boxes never block the window, and one scan warning is shown at a time.
TEST_F(LogWindowFixture, theScanWarningIsOneBoxThatDoesNotBlock)
{
    switchLogging(true);
    warningForm.hide();
    device.channelInfoPresent = 0;
    const PacketRecord scan = packetOf(7, std::vector<uint8_t>(15, 0));
    for (int i = 0; i < 60; ++i)
        control->handOff(scan);
    QApplication::processEvents();
    ASSERT_EQ(openWarningBoxes(), 1);
    QMessageBox* box = view->warningBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Warning");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_FALSE(box->isModal());
    box->button(QMessageBox::Ok)->click();
    QApplication::processEvents();
    EXPECT_EQ(openWarningBoxes(), 0);
    EXPECT_EQ(control->unloggedScanCount(), 0) << "dismissing the box starts the count again";
    switchLogging(false);
}

TEST(LogControlView, aSecondErrorReplacesTheTextOfTheOpenBox)
{
    QWidget window;
    QLineEdit logFile;
    QToolButton btnLogMode;
    LogControlView view(&logFile, &btnLogMode, &window, nullptr);
    view.showError(QStringLiteral("first"));
    QMessageBox* box = view.errorBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_FALSE(box->isModal());
    view.showError(QStringLiteral("second"));
    EXPECT_EQ(view.errorBox(), box);
    EXPECT_EQ(box->text(), QStringLiteral("second"));
}

TEST_F(LogWindowFixture, warningFormOkForgetsChannelInformationButTheTitleBarDoesNot)
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

TEST_F(LogWindowFixture, aHeaderAfterOkCarriesNoChannelInformationFromBefore)
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

TEST_F(LogWindowFixture, warningFormOpensWithItsFrameAtTheDesignedPlaceAndSize)
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

TEST_F(LogWindowFixture, hiddenWarningFormGivesBackItsWindowAndShowsAgain)
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

TEST(LogFileDialog, isASaveDialogForANewOrExistingLogThatNeverAsksToOverwrite)
{
    QTemporaryDir dir;
    std::unique_ptr<QFileDialog> dialog(LogControlView::makeLogFileDialog(nullptr, dir.path() + "/Tavrix"));
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
