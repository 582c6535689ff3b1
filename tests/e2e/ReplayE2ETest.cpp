// A drive recorded through the whole program, then played back to it with
// tavrix-sim --replay: the second log holds the same packets, with only the
// device's answers to the program's own requests between them.
#include "app/AppTestSupport.h"
#include "e2e/ProgramFixture.h"
#include "app/Program.h"
#include "app/TCom_Form.h"
#include "app/LinkStarter.h"
#include "app/TMain_Form.h"
#include "protocol/GpsRecord.h"
#include "link/LinkSettings.h"
#include "log/KlfRecordList.h"
#include "log/LogControl.h"
#include "log/TLogWarningForm.h"
#include "platform/WorkerThread.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

namespace {

bool until(const std::function<bool()>& done, int timeoutMs = 15000)
{
    return processUntil(done, timeoutMs);
}

std::vector<QByteArray> packetRecords(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    const KlfRecordList reader({reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())});
    std::vector<QByteArray> out;
    for (const KlfRecordList::Record& r : reader.records()) {
        const auto b = reader.recordBytes(r);
        out.emplace_back(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
    }
    return out;
}

int typeOf(const QByteArray& record)
{
    return uint8_t(record.at(2));
}

class Replay : public ProgramFixture
{
protected:
    // Paused from the start: nothing streams until the test says so.
    void startEmulator(QStringList args, const QString& portName)
    {
        statsPath = dir.filePath(portName + QStringLiteral(".json"));
        ASSERT_TRUE(startEmulatorProcess(sim, args, dir.filePath(portName), statsPath));
        command("pause");
        ASSERT_TRUE(until([&] { return stats().value(QStringLiteral("stream")).toString() == QStringLiteral("paused"); }))
            << "the emulator never paused";
    }

    // answers: how many packets the device sends of itself or on the
    // program's opening requests before anything is logged.
    //
    // Each run is a new start of the program, so it gets a device record of
    // its own: one shared with the recording run kept that drive's channel
    // information, which a settings reply decoded before the log warning's OK
    // put into the new log's header.
    void startProgramOn(const QString& portName, uint64_t answers = 2)
    {
        WorkerThread::reopen();
        runDevices.push_back(std::make_unique<DeviceRecord>());
        program = std::make_unique<Program>(*runDevices.back(), samples, gps, link);
        QComboBox* choice = program->comForm().portChoice();
        choice->setEditText(dir.filePath(portName));
        QTest::keyClick(choice->lineEdit(), Qt::Key_Return);
        // The fields below are set by this run's decoder only once it has
        // taken the device's answers; wait for those before anything is logged.
        ASSERT_TRUE(until([&] {
            const Decoder* decoder = program->starter().decoder();
            return decoder && decoder->packetsDecoded() >= answers;
        })) << "the program decoded " << program->starter().decoder()->packetsDecoded() << " of " << answers << " answers";
        ASSERT_TRUE(until([&] { return field("edSN") == QStringLiteral("SN: AB123456"); })) << field("edSN").toStdString();
        ASSERT_TRUE(until([&] { return field("edMin1") == QStringLiteral("851"); }));
    }

    void startLogging(const QString& name)
    {
        program->mainForm().findChild<QLineEdit*>(QStringLiteral("LogFile"))->setText(name);
        button("btnLogMode")->click();
        ASSERT_TRUE(program->logControl().logging());
        program->logWarningForm().Button1Click();
    }

    void stopLogging()
    {
        button("btnLogMode")->click();
        program->logControl().shutdown(); // the writer drains its queue and closes the file
    }

    QString field(const char* name)
    {
        auto* edit = program->mainForm().findChild<QLineEdit*>(QLatin1String(name));
        return edit ? edit->text() : QString();
    }

    QAbstractButton* button(const char* name)
    {
        return program->mainForm().findChild<QAbstractButton*>(QLatin1String(name));
    }

    int sent(const char* type) const
    {
        return stats().value(QStringLiteral("sent")).toObject().value(QLatin1String(type)).toInt();
    }

    // Scan and single-channel data with GPS, logged through the program into first.KLF.
    void recordDrive()
    {
        startEmulator({"--gps", "on", "--mode", "cycle", "--cycle-seconds", "1.5", "--rate", "60"}, QStringLiteral("dev"));
        startProgramOn(QStringLiteral("dev"));
        startLogging(dir.filePath(QStringLiteral("first")));
        const int gpsBefore = sent("GpsMessage");
        command("resume");
        ASSERT_TRUE(until([&] { return sent("GpsMessage") >= gpsBefore + 4; }));
        stopLogging();
        closeProgram();
        sim.terminate();
        ASSERT_GE(sim.wait(5000), 0);
    }

    // One per run of the program; they outlive it, as in main().
    std::vector<std::unique_ptr<DeviceRecord>> runDevices;
};

TEST_F(Replay, RecordedDrivePlayedBackToTheProgramLogsTheSamePackets)
{
    ASSERT_NO_FATAL_FAILURE(recordDrive());
    const QString first = dir.filePath(QStringLiteral("first.KLF"));
    const std::vector<QByteArray> recorded = packetRecords(first);
    std::set<int> types;
    int gps = 0;
    for (const QByteArray& r : recorded) {
        types.insert(typeOf(r));
        gps += typeOf(r) == 0;
    }
    ASSERT_GE(gps, 3) << "a drive of a few seconds";
    ASSERT_TRUE(types.count(7) && types.count(2)) << "scan and single-channel data";

    // Replay it, four times as fast, to a new run of the program.
    startEmulator({"--replay", first, "--speed", "4"}, QStringLiteral("replay"));
    startProgramOn(QStringLiteral("replay"));
    startLogging(dir.filePath(QStringLiteral("second")));
    command("resume");
    ASSERT_TRUE(until([&] { return sim.wait(0) >= 0; }, 30000)) << "the replay never ended";
    EXPECT_EQ(sim.wait(0), 0);
    const QString second = dir.filePath(QStringLiteral("second.KLF"));
    ASSERT_TRUE(until([&] { return packetRecords(second).size() >= recorded.size(); }));
    stopLogging();

    // The recording is the replayed log less the answers to requests.
    const std::vector<QByteArray> replayed = packetRecords(second);
    size_t matched = 0;
    std::vector<int> extras;
    for (const QByteArray& r : replayed) {
        if (matched < recorded.size() && r == recorded[matched])
            ++matched;
        else
            extras.push_back(typeOf(r));
    }
    EXPECT_EQ(matched, recorded.size()) << "record " << matched << " of the first log is missing from the second";
    const std::set<int> answers = {1, 5, 6, 28};
    for (int t : extras)
        EXPECT_TRUE(answers.count(t)) << "an extra packet of type " << t << " is no answer to a request";
    EXPECT_LE(extras.size(), 3u);
    std::printf("[ figure   ] %zu packets recorded, replayed and logged again (%zu answers between them)\n",
                recorded.size(), extras.size());
}

// The steps the manual gives: the replay waits for logging, the user
// switches logging on, and once the emulator has ended switches it off. The
// new log is the recorded one, byte for byte.
TEST_F(Replay, WaitingForLoggingTheReplayIsLoggedIntoTheSameLog)
{
    ASSERT_NO_FATAL_FAILURE(recordDrive());
    const QString first = dir.filePath(QStringLiteral("first.KLF"));
    QFile recorded(first);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    const QByteArray original = recorded.readAll();
    ASSERT_GT(original.size(), 1000);

    statsPath = dir.filePath(QStringLiteral("replay.json"));
    ASSERT_TRUE(startEmulatorProcess(sim, {"--replay", first, "--wait-logging", "--speed", "4"},
                                     dir.filePath(QStringLiteral("replay")), statsPath));
    // The drive was logged before any channel information came, so its
    // header holds none and the replay answers only the serial number and
    // settings requests.
    startProgramOn(QStringLiteral("replay"));
    EXPECT_EQ(sent("GpsMessage"), 0) << "the replay began before logging";
    startLogging(dir.filePath(QStringLiteral("second")));
    ASSERT_TRUE(until([&] { return sim.wait(0) >= 0; }, 30000)) << "the replay never ended";
    EXPECT_EQ(sim.wait(0), 0) << sim.stderrText();
    const QString second = dir.filePath(QStringLiteral("second.KLF"));
    EXPECT_TRUE(until([&] { return QFileInfo(second).size() >= original.size(); }));
    stopLogging();

    QFile replayed(second);
    ASSERT_TRUE(replayed.open(QIODevice::ReadOnly));
    const QByteArray again = replayed.readAll();
    EXPECT_EQ(again.size(), original.size());
    qsizetype differs = 0;
    while (differs < std::min(again.size(), original.size()) && again[differs] == original[differs])
        ++differs;
    EXPECT_TRUE(again == original) << "the logs part at byte " << differs << ": recorded "
                                   << original.mid(differs, 24).toHex(' ').toStdString() << ", replayed "
                                   << again.mid(differs, 24).toHex(' ').toStdString() << "; records "
                                   << packetRecords(first).size() << " and " << packetRecords(second).size();
}

} // namespace
