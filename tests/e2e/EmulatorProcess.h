#pragma once

// The emulator as a child process of a whole-program test, driven through
// its control commands and read back through its stats file.

#include "tools/SimProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>
#include <vector>

inline QString tavrixTool(const char* name)
{
    return QString::fromLocal8Bit(qgetenv("TAVRIX_BIN_DIR")) + QLatin1Char('/') + QLatin1String(name);
}

inline std::vector<std::string> toStdArgs(const QStringList& args)
{
    std::vector<std::string> out;
    for (const QString& a : args)
        out.push_back(a.toStdString());
    return out;
}

// Starts tavrix-sim with args plus its link, control and stats options.
inline bool startEmulatorProcess(SimProcess& sim, QStringList args, const QString& link, const QString& statsPath)
{
    args << QStringLiteral("--link") << link << QStringLiteral("--control") << QStringLiteral("--stats") << statsPath;
    return sim.start(toStdArgs(args));
}

// Stops the emulator and passes on what it wrote to its standard error.
inline void stopEmulatorProcess(SimProcess& sim)
{
    sim.stop();
    const std::string errors = sim.stderrText();
    std::fputs(errors.c_str(), stderr);
}

inline void sendEmulatorCommand(SimProcess& sim, const char* line)
{
    sim.sendLine(line);
}

inline QJsonObject readEmulatorStats(const QString& statsPath)
{
    QFile f(statsPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}
