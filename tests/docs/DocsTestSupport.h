#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

// What a helper program printed. A program that does not start or does not
// end within the safety limit counts as failed (exit code -1).
struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                             int limitMs = 120000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProgramRun run;
    if (!p.waitForStarted(30000)) {
        run.err = program + QStringLiteral(": ") + p.errorString();
        return run;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished();
        run.err = program + QStringLiteral(": did not finish");
        return run;
    }
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return run;
}

// A path the build hands the tests, from the file TAVRIX_DOCS_PATHS names.
inline QString configuredPath(const char* name)
{
    QFile file(qEnvironmentVariable("TAVRIX_DOCS_PATHS"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString prefix = QLatin1String(name) + QLatin1Char('=');
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
    }
    ADD_FAILURE() << name << " is not configured; run the tests through ctest";
    return QString();
}

// Command-line options in free text: "-h", "--step-khz", "[--json]",
// "-h, --help". A dash inside a word ("tavrix-dl") is not one.
inline QSet<QString> optionsIn(const QString& text)
{
    static const QRegularExpression option(QStringLiteral(R"((?:^|[\s\[(|,])(--?[A-Za-z][A-Za-z0-9-]*))"));
    QSet<QString> found;
    for (auto it = option.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured(1));
    return found;
}

inline std::string sortedList(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return list.join(QLatin1Char(' ')).toStdString();
}
