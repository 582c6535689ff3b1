#pragma once

// The emulator as a child process of a whole-program test, driven through
// its control commands and read back through its stats file.

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

inline QString tavrixTool(const char* name)
{
    return QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR")) + QLatin1Char('/') + QLatin1String(name);
}

// Starts tavrix-sim with args plus its link, control and stats options.
inline bool startEmulatorProcess(QProcess& sim, QStringList args, const QString& link, const QString& statsPath)
{
    args << QStringLiteral("--link") << link << QStringLiteral("--control") << QStringLiteral("--stats") << statsPath;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test killed by its time-out must not leave its emulator behind.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim.start(tavrixTool("tavrix-sim"), args);
    return sim.waitForStarted(5000);
}

inline void stopEmulatorProcess(QProcess& sim)
{
    sim.closeWriteChannel();
    sim.terminate();
    sim.waitForFinished(5000);
}

inline void sendEmulatorCommand(QProcess& sim, const char* line)
{
    sim.write(line);
    sim.write("\n");
    sim.waitForBytesWritten(1000);
}

inline QJsonObject readEmulatorStats(const QString& statsPath)
{
    QFile f(statsPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}
