// The whole program in one process, as main builds it, against the device
// emulator on a pseudo-terminal: port dialog, link, decoder, displays, status
// and GPS threads, logging and the map export, all real.
#include "app/AppTestSupport.h"
#include "e2e/ProgramFixture.h"
#include "app/LinkStarter.h"
#include "app/Program.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "app/TMain_Router.h"
#include "display/DBar.h"
#include "display/TR_Router.h"
#include "gps/TGPS_Router.h"
#include "protocol/GpsRecord.h"
#include "gps/MapExport.h"
#include "link/LinkSettings.h"
#include "link/TCom_Router.h"
#include "log/KlfRecordList.h"
#include "log/LogControl.h"
#include "log/LogControlView.h"
#include "log/TLogWarningForm.h"
#include "log/TLog_Router.h"
#include "platform/WorkerThread.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

QString tool(const char* name)
{
    return tavrixTool(name);
}

// The device is a separate process on a loaded machine: generous time-outs.
bool until(const std::function<bool()>& done, int timeoutMs = 10000)
{
    return processUntil(done, timeoutMs);
}

class ProgramRun : public ProgramFixture
{
protected:
    // The emulator streams from the start unless paused right away.
    void startEmulator(QStringList args, bool paused = false)
    {
        ASSERT_TRUE(startEmulatorProcess(sim, args, port, statsPath));
        if (paused)
            command("pause");
        ASSERT_TRUE(until([&] { return QFileInfo::exists(port); }, 5000)) << "no pty from the emulator";
    }

    void startProgram()
    {
        program = std::make_unique<Program>(device, samples, gps, link, [this] { ++beeps; });
    }

    // Types the emulator's path into the port dialog and presses Enter.
    void connectToEmulator()
    {
        QComboBox* choice = program->comForm().portChoice();
        choice->setEditText(port);
        QTest::keyClick(choice->lineEdit(), Qt::Key_Return);
        ASSERT_TRUE(until([&] { return field("edSN") == QStringLiteral("SN: AB123456"); })) << field("edSN").toStdString();
    }

    // The emulator's counters once everything it queued is on the line (after
    // a pause), and once the program has decoded and handed on every frame
    // they count.
    QJsonObject drainedStats()
    {
        command("drain");
        const std::string prefix = "tavrix-sim: drained ";
        qint64 sent = -1;
        EXPECT_TRUE(until([&] {
            while (const auto line = sim.readLine(0))
                if (line->rfind(prefix, 0) == 0) {
                    sent = std::stoll(line->substr(prefix.size()));
                    return true;
                }
            return false;
        })) << "the emulator never drained";
        if (sent < 0)
            return {};
        const QJsonObject s = stats();
        EXPECT_EQ(s.value(QStringLiteral("framesSent")).toInteger(), sent);
        Decoder* decoder = program->starter().decoder();
        EXPECT_TRUE(decoder && until([&] { return decoder->packetsDecoded() >= uint64_t(sent); }, 30000))
            << "the program decoded " << (decoder ? decoder->packetsDecoded() : 0) << " of " << sent << " frames";
        return s;
    }

    QString field(const char* name)
    {
        if (auto* edit = program->mainForm().findChild<QLineEdit*>(QLatin1String(name)))
            return edit->text();
        if (auto* label = program->mainForm().findChild<QLabel*>(QLatin1String(name)))
            return label->text();
        return QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }

    QAbstractButton* button(const char* name)
    {
        return program->mainForm().findChild<QAbstractButton*>(QLatin1String(name));
    }

    // Log Data pressed, then OK on the warning dialog, as the user does.
    void startLogging(const QString& name)
    {
        program->mainForm().findChild<QLineEdit*>(QStringLiteral("LogFile"))->setText(name);
        button("btnLogMode")->click();
        ASSERT_TRUE(program->logControl().logging());
        ASSERT_TRUE(program->logWarningForm().isVisible());
        program->logWarningForm().Button1Click();
    }

    int beeps = 0;
};

std::map<int, int> recordsByType(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    KlfRecordList reader({reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())});
    EXPECT_EQ(reader.status(), KlfRecordList::Status::Ok) << reader.error();
    EXPECT_TRUE(reader.hasHeader());
    std::map<int, int> counts;
    for (const KlfRecordList::Record& r : reader.records())
        ++counts[r.type];
    return counts;
}

const std::map<QString, int> kTypeCodes = {
    {"GpsMessage", 0},       {"ReceiverSetup", 1},   {"SingleBlockR1", 2}, {"SingleBlockR2", 3},
    {"ClockMarker", 4},      {"CurrentFrequency", 5}, {"ScanChannelList", 6}, {"ScanReport", 7},
    {"TableReport", 9},      {"SerialNumber", 28},
};

int sentOf(const QJsonObject& stats, const QString& type)
{
    return stats.value(QStringLiteral("sent")).toObject().value(type).toInt();
}

int requestsOf(const QJsonObject& stats, const QString& type)
{
    return stats.value(QStringLiteral("requests")).toObject().value(type).toInt();
}

// Segments of the bar colour along one row just above the plot's floor.
int barsStanding(const DBar& graph)
{
    const QImage image = graph.canvas().convertToFormat(QImage::Format_RGB32);
    const qreal dpr = image.devicePixelRatio();
    const int y = int((graph.plotGeometry().plotRect.bottom - 2) * dpr);
    int segments = 0;
    bool inside = false;
    for (int x = int(graph.plotGeometry().plotRect.left * dpr); x < int(graph.plotGeometry().plotRect.right * dpr); ++x) {
        const bool bar = QColor(image.pixel(x, y)) == QColor(0x80, 0x00, 0x00);
        segments += bar && !inside;
        inside = bar;
    }
    return segments;
}

TEST_F(ProgramRun, StatusFieldsFollowTheEmulator)
{
    // Quiet until asked, so that the serial number reply comes before any
    // scan report; a scan report first would rightly ask for the channel
    // information before the settings.
    startEmulator({"--gps", "off", "--mode", "scan", "--wait-request"});
    startProgram();
    EXPECT_FALSE(program->mainForm().isVisible());
    connectToEmulator();

    EXPECT_EQ(link.linkKind.load(), LinkSettings::kSerial);
    EXPECT_EQ(link.comPort.load(), 0);
    EXPECT_EQ(link.devicePath(), port.toStdString());
    EXPECT_EQ(program->comForm().portChoice()->count(), 5 + TCom_Form::serialDevices().size())
        << "a typed path is not inserted as an item";
    EXPECT_TRUE(program->comForm().isHidden());
    EXPECT_TRUE(program->mainForm().isVisible());
    EXPECT_FALSE(program->mainForm().windowState() & Qt::WindowMinimized);
    EXPECT_EQ(program->mainForm().linkStatusPanel()->text(), QStringLiteral("Connected via COM"));
    // The serial number reply asks for the settings, which fill the limits.
    ASSERT_TRUE(until([&] { return field("edMin1") == QStringLiteral("851"); })) << field("edMin1").toStdString();
    EXPECT_EQ(field("edMax1"), QStringLiteral("860"));
    EXPECT_EQ(field("edStep1"), QStringLiteral("25"));
    EXPECT_EQ(field("edMin2"), QStringLiteral("851"));
    EXPECT_EQ(field("edStep2"), QStringLiteral("25"));
    // Without GPS the device sends its clock once a second.
    ASSERT_TRUE(until([&] { return field("edMarker").startsWith(QStringLiteral("Mrkr #")); }));
    EXPECT_EQ(field("edRTCDate").size(), 10);
    EXPECT_EQ(field("edRTCTime").size(), 8);

    // The device streams from the start, so channel information requests may
    // come between the serial number request and the settings request.
    const QJsonObject s = stats();
    const QJsonArray requests = s.value(QStringLiteral("requestList")).toArray();
    ASSERT_GE(requests.size(), 2);
    EXPECT_EQ(s.value(QStringLiteral("firstRequest")).toString(), QStringLiteral("AA 02 00 1C 1C"));
    EXPECT_EQ(requests.at(0).toInt(), 28);
    EXPECT_TRUE(requests.contains(QJsonValue(1))) << "the serial number reply is followed by the settings request";
    for (const QJsonValue& r : requests)
        EXPECT_TRUE(r.toInt() == 28 || r.toInt() == 1 || r.toInt() == 48) << r.toInt();
}

TEST_F(ProgramRun, DisplaysFollowEachModeAndLabelling)
{
    startEmulator({"--gps", "off", "--mode", "single"});
    startProgram();
    connectToEmulator();
    DBar* r1 = program->mainForm().receiverGraph(0);
    DBar* r2 = program->mainForm().receiverGraph(1);
    ASSERT_TRUE(r1 && r2);

    // Single mode: the timer hands one block a second to each display.
    ASSERT_TRUE(until([&] { return r1->bottomCaption().endsWith(QStringLiteral(" MHz")); })) << r1->bottomCaption().toStdString();
    EXPECT_TRUE(button("btnSingleMode")->isChecked());
    EXPECT_TRUE(r1->titleText().startsWith(QStringLiteral("R1 (851.00000-860.00000)MHz 25.00 KHz Step")))
        << r1->titleText().toStdString();
    EXPECT_TRUE(until([&] { return r2->titleText().startsWith(QStringLiteral("R2 (851.00000-860.00000)MHz")); }))
        << r2->titleText().toStdString();
    EXPECT_TRUE(until([&] { return barsStanding(*r1) == 1; }));

    command("mode scan");
    ASSERT_TRUE(until([&] { return button("btnScanMode")->isChecked() && r1->bottomCaption() == QStringLiteral("Frequency"); }));
    EXPECT_TRUE(until([&] { return barsStanding(*r1) > 1; })) << "scan bars";

    button("sbChannel")->click();
    EXPECT_TRUE(until([&] { return r1->bottomCaption() == QStringLiteral("Channel") && r2->bottomCaption() == QStringLiteral("Channel"); }));

    command("mode table");
    ASSERT_TRUE(until([&] { return button("btnTableMode")->isChecked(); }));
    EXPECT_TRUE(until([&] { return barsStanding(*r2) >= 5; })) << "the strongest table channels";
}

TEST_F(ProgramRun, EveryPacketSentWhileLoggingIsInTheLog)
{
    startEmulator({"--flat-out", "--mode", "table", "--gps", "on"}, /*paused=*/true);
    startProgram();
    connectToEmulator();
    ASSERT_TRUE(until([&] { return field("edMin1") == QStringLiteral("851"); }));

    const QJsonObject before = drainedStats();
    startLogging(dir.filePath(QStringLiteral("drive.old")));
    command("resume");
    ASSERT_TRUE(until([&] { return sentOf(stats(), QStringLiteral("TableReport")) - sentOf(before, QStringLiteral("TableReport")) > 20000; },
                      60000));
    command("pause");
    const QJsonObject after = drainedStats();
    button("btnLogMode")->click(); // the writer drains its queue and closes the file
    program->logControl().shutdown();

    const QString log = dir.filePath(QStringLiteral("drive.KLF"));
    ASSERT_TRUE(QFileInfo::exists(log));
    const std::map<int, int> logged = recordsByType(log);
    int total = 0;
    for (const auto& [name, code] : kTypeCodes) {
        const int sent = sentOf(after, name) - sentOf(before, name);
        const auto it = logged.find(code);
        const int inLog = it == logged.end() ? 0 : it->second;
        EXPECT_EQ(inLog, sent) << name.toStdString();
        total += sent;
    }
    EXPECT_GT(total, 20000);
    std::printf("[ figure   ] %d packets logged flat out, none missing\n", total);
}

// A corrupt length on a line that then stays quiet, as a noisy cable gives
// it: the scan reports behind the false header are decoded and logged as
// soon as they are in, not when 2000 more bytes have come, and never vanish
// into one false packet of type 0xAA. The third row's false frame has a type
// that may be that long, so only the quiet line gives it up.
TEST_F(ProgramRun, ReportsBehindACorruptLengthAreAllLoggedWhileTheLineStaysQuiet)
{
    startEmulator({"--mode", "scan", "--gps", "off"}, /*paused=*/true);
    startProgram();
    connectToEmulator();
    ASSERT_TRUE(until([&] { return field("edMin1") == QStringLiteral("851"); }));
    const QJsonObject beforeLogging = drainedStats();
    startLogging(dir.filePath(QStringLiteral("line.old")));
    // One report first, so the channel information it asks for is in before
    // the counts are taken.
    command("inject 00 1");
    ASSERT_TRUE(until([&] { return device.channelInfoPresent.load() != 0; }));
    drainedStats();
    Decoder* decoder = program->starter().decoder();
    ASSERT_NE(decoder, nullptr);

    struct Case
    {
        const char* legend;
        const char* header;
        int reports;
    };
    const Case cases[] = {
        {"AA D0 07, then 50 reports", "AAD007", 50},
        {"AA D0 07, then 100 reports of one length", "AAD007", 100},
        {"AA D0 07 02, then 50 reports", "AAD00702", 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const QJsonObject before = stats();
        const uint64_t decodedBefore = decoder->packetsDecoded();
        command(QStringLiteral("inject %1 %2").arg(QLatin1String(c.header)).arg(c.reports).toUtf8().constData());
        // The emulator says "drained" once the last byte is on the line.
        command("drain");
        const std::string prefix = "tavrix-sim: drained ";
        ASSERT_TRUE(until([&] {
            while (const auto line = sim.readLine(0))
                if (line->rfind(prefix, 0) == 0)
                    return true;
            return false;
        }));
        QElapsedTimer sinceLastByte;
        sinceLastByte.start();
        const bool all = until([&] { return decoder->packetsDecoded() >= decodedBefore + uint64_t(c.reports); });
        const qint64 ms = sinceLastByte.elapsed();
        EXPECT_TRUE(all) << decoder->packetsDecoded() - decodedBefore << " of " << c.reports << " decoded";
        EXPECT_EQ(sentOf(stats(), QStringLiteral("ScanReport")) - sentOf(before, QStringLiteral("ScanReport")),
                  c.reports);
        std::printf("[ figure   ] %s: %d of %d decoded and handed to the log %lld ms after the last byte\n",
                    c.legend, int(decoder->packetsDecoded() - decodedBefore), c.reports, static_cast<long long>(ms));
    }
    const QJsonObject after = drainedStats();
    button("btnLogMode")->click(); // the writer drains its queue and closes the file
    program->logControl().shutdown();

    const std::map<int, int> logged = recordsByType(dir.filePath(QStringLiteral("line.KLF")));
    EXPECT_EQ(logged.count(0xAA), 0u) << "a false packet was logged";
    const auto reports = logged.find(kTypeCodes.at(QStringLiteral("ScanReport")));
    ASSERT_NE(reports, logged.end());
    EXPECT_EQ(reports->second,
              sentOf(after, QStringLiteral("ScanReport")) - sentOf(beforeLogging, QStringLiteral("ScanReport")));
    EXPECT_EQ(reports->second, 1 + 200);
}

TEST_F(ProgramRun, GpsReachesTheScreenTheMapBlockAndTheWatcherThenGpsOffBeepsOnce)
{
    SimProcess watcher;
    ASSERT_TRUE(watcher.start(tool("tavrix-mapwatch").toStdString(), {"--json"}));
    ASSERT_TRUE(until([&] { return watcher.stderrText().find("ready") != std::string::npos; }, 5000))
        << "the watcher never subscribed";

    startEmulator({"--gps", "on", "--mode", "scan"});
    startProgram();
    connectToEmulator();

    auto* gbGPS = program->mainForm().findChild<QGroupBox*>(QStringLiteral("gbGPS"));
    ASSERT_TRUE(until([&] { return gbGPS->isVisible(); }));
    ASSERT_TRUE(until([&] { return field("edGPSLatitude").endsWith(QStringLiteral(" N")); }));
    EXPECT_TRUE(field("edGPSLongitude").endsWith(QStringLiteral(" W")));
    EXPECT_TRUE(field("lblFilLat").startsWith(QStringLiteral("Latitude  = 40.5")));
    EXPECT_TRUE(field("lblChannel1").startsWith(QStringLiteral("   01     ")));
    EXPECT_EQ(field("lblRecStat1"), QStringLiteral("3D Fix"));

    // One map point per GPS message, counted over a stretch of messages: the
    // watcher has seen a point for every message the program was sent.
    int points = 0;
    const auto watcherHas = [&](int expected) {
        return until([&] {
            while (watcher.readLine(0))
                ++points;
            return points >= expected;
        });
    };
    command("pause");
    const QJsonObject before = drainedStats();
    ASSERT_TRUE(watcherHas(sentOf(before, QStringLiteral("GpsMessage")))) << points;
    const int pointsBefore = points;
    command("resume");
    ASSERT_TRUE(until([&] { return sentOf(stats(), QStringLiteral("GpsMessage")) >= sentOf(before, QStringLiteral("GpsMessage")) + 4; }, 15000));
    command("pause");
    const QJsonObject after = drainedStats();
    ASSERT_TRUE(watcherHas(sentOf(after, QStringLiteral("GpsMessage")))) << points;
    EXPECT_EQ(points - pointsBefore, sentOf(after, QStringLiteral("GpsMessage")) - sentOf(before, QStringLiteral("GpsMessage")));

    // The block holds the latest point, readable by anyone with the name.
    const int fd = shm_open("/ZKTPELLORN", O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    void* view = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(view, MAP_FAILED);
    const auto* block = static_cast<const uint8_t*>(view);
    double latitude = 0;
    std::memcpy(&latitude, block + 16, sizeof latitude);
    EXPECT_STREQ(reinterpret_cast<const char*>(block), "ZKTPELLORN");
    EXPECT_NEAR(latitude, 40.55, 0.05);
    EXPECT_STREQ(reinterpret_cast<const char*>(block + 297), "AB123456");
    munmap(view, 4096);
    ::close(fd);

    // GPS lost: the clock messages hide the GPS box and beep four times, once.
    command("gps off");
    command("resume");
    ASSERT_TRUE(until([&] { return !gbGPS->isVisible(); }, 10000));
    EXPECT_EQ(field("lGPS"), QStringLiteral("GPS OFF"));
    EXPECT_TRUE(until([&] { return beeps == 4; }, 3000));
    // Each clock message carries the next marker number; two more shown means
    // two more clock updates ran, each of which would have beeped.
    for (int shown = 0; shown < 2; ++shown) {
        const QString marker = field("edMarker");
        ASSERT_TRUE(until([&] { return field("edMarker") != marker; })) << marker.toStdString();
    }
    EXPECT_EQ(beeps, 4) << "later clock messages are silent";

    watcher.stop();
}

TEST_F(ProgramRun, MissingChannelInformationWarnsWhileTheLinkKeepsReading)
{
    startEmulator({"--gps", "off", "--mode", "scan", "--withhold-channel-info"}, /*paused=*/true);
    startProgram();
    connectToEmulator();
    startLogging(dir.filePath(QStringLiteral("nochan")));

    const QJsonObject before = drainedStats();
    command("resume");
    LogControl& log = program->logControl();
    auto* logView = dynamic_cast<LogControlView*>(log.view());
    ASSERT_NE(logView, nullptr);
    ASSERT_TRUE(until([&] { return logView->warningBox() && logView->warningBox()->isVisible(); }, 15000));
    EXPECT_EQ(logView->warningBox()->text(), QString::fromLatin1(LogControl::kWarningText));

    // While the box is open, packets are still read, requested for and logged.
    const QJsonObject atWarning = stats();
    ASSERT_TRUE(until([&] { return sentOf(stats(), QStringLiteral("ScanReport")) > sentOf(atWarning, QStringLiteral("ScanReport")) + 40; }));
    EXPECT_TRUE(logView->warningBox()->isVisible());
    command("pause");
    const QJsonObject after = drainedStats();
    const int scans = sentOf(after, QStringLiteral("ScanReport")) - sentOf(before, QStringLiteral("ScanReport"));
    // Drained means on the line: the requests for the last packets may still
    // be on their way back, so the count is awaited, then compared.
    const auto requestsSince = [&](const QJsonObject& s) {
        return requestsOf(s, QStringLiteral("ChannelInfoRequest")) - requestsOf(before, QStringLiteral("ChannelInfoRequest"));
    };
    until([&] { return requestsSince(stats()) >= scans; }, 10000);
    const int requests = requestsSince(stats());
    EXPECT_EQ(requests, scans) << "one channel information request per measurement packet";
    EXPECT_EQ(device.channelInfoPresent.load(), 0);

    logView->warningBox()->accept();
    EXPECT_TRUE(until([&] { return !logView->warningBox() || !logView->warningBox()->isVisible(); }, 2000));
    button("btnLogMode")->click();
    log.shutdown();
    const std::map<int, int> logged = recordsByType(dir.filePath(QStringLiteral("nochan.KLF")));
    EXPECT_EQ(logged.count(7) ? logged.at(7) : 0, scans);
}

TEST_F(ProgramRun, ClosingStopsEveryWorkerPromptly)
{
    startEmulator({"--gps", "on", "--mode", "table"});
    startProgram();
    connectToEmulator();
    startLogging(dir.filePath(QStringLiteral("closing")));
    const uint64_t atStart = program->starter().decoder()->packetsDecoded();
    ASSERT_TRUE(until([&] { return program->starter().decoder()->packetsDecoded() > atStart + 100; }));

    QElapsedTimer clock;
    clock.start();
    program->mainForm().close();
    // Closing only sets the flags; main joins the workers afterwards.
    TMain_Form& form = program->mainForm();
    LinkStarter& starter = program->starter();
    EXPECT_TRUE(starter.linkThread()->Terminated()); // serial link
    EXPECT_TRUE(form.receiverThread(0)->Terminated());
    EXPECT_TRUE(form.receiverThread(1)->Terminated());
    EXPECT_TRUE(program->gpsThread()->Terminated());
    EXPECT_TRUE(starter.statusThread()->Terminated());
    WorkerThread::shutdownAll();
    const qint64 closingMs = clock.elapsed();
    std::printf("[ figure   ] closing with every worker running and logging on: %lld ms\n",
                static_cast<long long>(closingMs));
    // The longest wait any worker makes before it looks at its flag again is
    // one second; several seconds mean a worker missed its flag or a join hung.
    EXPECT_LT(closingMs, 5000);
    EXPECT_TRUE(starter.linkThread()->isFinished());
    EXPECT_TRUE(form.receiverThread(0)->isFinished());
    EXPECT_TRUE(form.receiverThread(1)->isFinished());
    EXPECT_TRUE(program->gpsThread()->isFinished());
    EXPECT_TRUE(starter.statusThread()->isFinished());
    EXPECT_FALSE(program->logControl().logging());
    // Everything read while logging was on is in the closed file, whole.
    const std::map<int, int> logged = recordsByType(dir.filePath(QStringLiteral("closing.KLF")));
    EXPECT_GT(logged.count(9) ? logged.at(9) : 0, 0);
    program.reset();
}

// A logout, kill or Ctrl+C is a clean close: the log drained and whole, and
// the map block gone with the program, as a named mapping goes on Windows.
TEST_F(ProgramRun, ATerminationSignalClosesTheRunLikeExit)
{
    startEmulator({"--gps", "on", "--mode", "table"});
    startProgram();
    connectToEmulator();
    startLogging(dir.filePath(QStringLiteral("signalled")));
    ASSERT_TRUE(until([&] { return program->mapExport().isMapped(); }, 15000)) << "no map point";
    TLog_Router* writer = program->logControl().writer();
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(until([&] { return writer->writtenCount() >= 5; }, 15000)) << "nothing logged";
    const uint64_t written = writer->writtenCount();

    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    ASSERT_TRUE(until([&] { return !program->logControl().logging(); }, 10000)) << "the signal did not close";
    EXPECT_TRUE(program->gpsThread()->Terminated());
    EXPECT_TRUE(program->starter().statusThread()->Terminated());
    WorkerThread::shutdownAll();
    program.reset();

    int logged = 0;
    for (const auto& [type, count] : recordsByType(dir.filePath(QStringLiteral("signalled.KLF"))))
        logged += count;
    EXPECT_GE(uint64_t(logged), written);
    const int fd = shm_open("/ZKTPELLORN", O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "the map block outlived the program";
    if (fd >= 0)
        ::close(fd);
}

} // namespace
