#include "log/LogControl.h"

#include "link/PacketRecord.h"
#include "log/KlfRecordList.h"
#include "log/LogFileName.h"
#include "log/LogTestUtil.h"
#include "log/LogView.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

namespace {

PacketRecord packetOf(uint8_t type, const std::vector<uint8_t>& payload)
{
    PacketRecord p;
    const auto r = makeRecord(type, payload);
    p.bytes[0] = PacketRecord::kSync;
    std::copy(r.begin(), r.end(), p.bytes.begin() + 1);
    return p;
}

// The window's logging controls as the log control leaves them.
struct FakeLogView : LogView
{
    QString logFileName() const override { return name; }
    void setLogFileName(const QString& n) override { name = n; }
    void setLogFileEditable(bool e) override { editable = e; }
    bool logModeChecked() const override { return checked; }
    void releaseLogMode() override { checked = false; }
    void showLogWarning() override { warningShown = true; }
    void hideLogWarning() override { warningShown = false; }
    void showError(const QString& message) override { errors.push_back(message); }
    void showNotice(const QString& message) override { notices.push_back(message); }
    void showScanWarning(const QString& caption, const QString& text, std::function<void()> dismissed) override
    {
        scanWarnings.push_back({caption, text, std::move(dismissed), true});
    }
    std::optional<QString> chooseLogFile(const QString& current) override
    {
        chooserStart = current;
        return chosen;
    }

    int openScanWarnings() const
    {
        int n = 0;
        for (const auto& w : scanWarnings)
            n += w.open;
        return n;
    }
    // The user dismisses the open warnings.
    void dismissScanWarnings()
    {
        for (auto& w : scanWarnings)
            if (w.open) {
                w.open = false;
                w.dismissed();
            }
    }

    struct ScanWarning
    {
        QString caption;
        QString text;
        std::function<void()> dismissed;
        bool open = false;
    };
    QString name;
    bool editable = true;
    bool checked = false;
    bool warningShown = false;
    std::vector<QString> errors;
    std::vector<QString> notices;
    std::vector<ScanWarning> scanWarnings;
    std::optional<QString> chosen;
    QString chooserStart;
};

class LogControlFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<FakeLogView>();
        view = owned.get();
        view->name = dir.path() + "/run1.old";
        control = std::make_unique<LogControl>(device, std::move(owned), [this] {
            ++settingsRequests;
            writerAtRequest = control->writer();
        });
    }
    void TearDown() override { control.reset(); }

    void switchLogging(bool on)
    {
        view->checked = on;
        control->btnLogModeClick();
    }

    QTemporaryDir dir;
    DeviceRecord device;
    FakeLogView* view = nullptr;
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
    EXPECT_TRUE(view->warningShown);
    EXPECT_FALSE(view->editable);
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
    EXPECT_TRUE(view->editable);
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
    device.channelInfoPresent = 0;
    const PacketRecord scan = packetOf(7, std::vector<uint8_t>(15, 0));
    const PacketRecord clock = packetOf(4, std::vector<uint8_t>(7, 0));

    for (int i = 0; i < 20; ++i) {
        control->handOff(scan);
        control->handOff(clock); // not a measurement packet: never counted
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(control->unloggedScanCount(), 20);
    EXPECT_EQ(view->openScanWarnings(), 0);

    // The link thread hands off the 21st and carries on without waiting.
    auto linkThread = std::async(std::launch::async, [&] {
        for (int i = 0; i < 50; ++i)
            control->handOff(scan);
    });
    ASSERT_EQ(linkThread.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the hand-off waited for the window thread";
    QCoreApplication::processEvents();
    ASSERT_EQ(view->openScanWarnings(), 1);
    EXPECT_EQ(view->scanWarnings.back().caption, "Warning");
    EXPECT_EQ(view->scanWarnings.back().text, LogControl::kWarningText);

    // More packets while the box is open: still one box, still logged.
    for (int i = 0; i < 40; ++i)
        control->handOff(scan);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->openScanWarnings(), 1);

    view->dismissScanWarnings();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->openScanWarnings(), 0);
    EXPECT_EQ(control->unloggedScanCount(), 0);

    // Counting starts again: the next box comes with the 21st packet after.
    for (int i = 0; i < 20; ++i)
        control->handOff(scan);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->openScanWarnings(), 0);
    control->handOff(scan);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->openScanWarnings(), 1);
    view->dismissScanWarnings();
    QCoreApplication::processEvents();

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
    QCoreApplication::processEvents();
    EXPECT_EQ(view->openScanWarnings(), 0);
    switchLogging(false);
}

TEST_F(LogControlFixture, aLogFileThatCannotBeCreatedIsReportedAndLoggingStops)
{
    view->name = dir.path() + "/missing/run";
    switchLogging(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->errors.empty(); }, 20000));
    EXPECT_TRUE(view->errors.back().startsWith("Could Not Create Log File!!! ")) << view->errors.back().toStdString();
    EXPECT_FALSE(view->checked);
    EXPECT_TRUE(view->editable);
    EXPECT_FALSE(control->logging());
    EXPECT_FALSE(view->warningShown) << "the dialog still says to start the measurement";
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

// An earlier measurement's channel list is still held when logging is
// switched on again; the reply comes before the warning's OK.
TEST_F(LogControlFixture, aNewHeaderNeverCarriesTheChannelsOfAnEarlierMeasurement)
{
    device.edit([](DeviceRecord::Data& d) {
        const auto old = makeRecord(6, std::vector<uint8_t>(8, 9));
        std::copy(old.begin(), old.end(), d.channelInfoRecord.bytes.begin());
        d.channelInfoRecord.count = uint16_t(old.size());
    });
    device.channelInfoPresent = 1;
    control->setSettingsWait(std::chrono::minutes(5));
    switchLogging(true);
    TLog_Router* writer = control->writer();
    device.settingsStored({true, false});
    control->handOff(packetOf(1, std::vector<uint8_t>(25, 1)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return writer->writtenCount() == 1; }, 20000));
    switchLogging(false);
    writer->stopAndWait();

    KlfRecordList r(readFile(writer->fileName()));
    ASSERT_EQ(r.status(), KlfRecordList::Status::Ok) << r.error();
    EXPECT_FALSE(r.channelInfo().has_value());
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->errors.empty(); }, 20000));
    EXPECT_EQ(view->errors.back(), QString::fromStdString("Log File In Use!!! " + name));
    EXPECT_FALSE(view->checked);
    EXPECT_TRUE(view->editable);
    EXPECT_FALSE(control->logging());
    other.stopAndWait();
}

TEST_F(LogControlFixture, namesWithoutAFileNameOrTooLongAreRefusedBeforeAnythingHappens)
{
    const QString cases[] = {QString(), QStringLiteral(".."), dir.path() + "/sub/", dir.path() + "/.hidden",
                             dir.path() + "/" + QString(300, QLatin1Char('x'))};
    for (const QString& text : cases) {
        SCOPED_TRACE(text.toStdString());
        view->name = text;
        view->errors.clear();
        switchLogging(true);
        ASSERT_EQ(view->errors.size(), 1u);
        EXPECT_EQ(view->errors.back().toStdString(), LogFileName::problem(text.toStdString()));
        EXPECT_FALSE(view->errors.back().isEmpty());
        EXPECT_FALSE(view->checked);
        EXPECT_FALSE(control->logging());
        EXPECT_FALSE(view->warningShown);
        EXPECT_EQ(settingsRequests, 0);
        EXPECT_EQ(control->writer(), nullptr);
        EXPECT_TRUE(view->editable);
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral(".KLF")));
}

// Log File...: the picker starts at the name typed, and a cancelled picker
// leaves it alone.
TEST_F(LogControlFixture, theLogFilePickerStartsAtTheTypedNameAndKeepsItWhenCancelled)
{
    control->btnLogFileClick();
    EXPECT_EQ(view->chooserStart, dir.path() + "/run1.old");
    EXPECT_EQ(view->name, dir.path() + "/run1.old");

    view->chosen = dir.path() + "/run2.KLF";
    control->btnLogFileClick();
    EXPECT_EQ(view->name, dir.path() + "/run2.KLF");
}
