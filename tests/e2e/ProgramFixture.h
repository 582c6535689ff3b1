#pragma once

// What every whole-program test starts from: a scratch folder, the emulator
// as a child process, and the records main() creates, fresh for each run.
// Closing goes as File > Exit does: the window closes, every worker is
// joined, and only then does the emulator go.

#include "app/AppTestSupport.h"
#include "app/Program.h"
#include "app/TMain_Form.h"
#include "e2e/EmulatorProcess.h"
#include "protocol/GpsRecord.h"
#include "link/LinkSettings.h"
#include "platform/WorkerThread.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class ProgramFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(tavrixTool("tavrix-sim")).isExecutable()) << "tavrix-sim not built";
        WorkerThread::reopen();
        port = dir.filePath(QStringLiteral("tavrix-port"));
        statsPath = dir.filePath(QStringLiteral("sim.json"));
    }

    void TearDown() override
    {
        closeProgram();
        stopEmulatorProcess(sim);
    }

    void closeProgram()
    {
        if (!program)
            return;
        program->mainForm().close();
        WorkerThread::shutdownAll();
        program.reset();
    }

    void command(const char* line) { sendEmulatorCommand(sim, line); }

    QJsonObject stats() const { return readEmulatorStats(statsPath); }

    QTemporaryDir dir;
    QString port;
    QString statsPath;
    SimProcess sim;
    // They outlive the program, as in main().
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    LinkSettings link;
    std::unique_ptr<Program> program;
};
