// What software centres and desktops read: every desktop entry in the source
// tree and every AppStream file the build writes pass Debian's validators.
#include "DocsTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Desktop entries anywhere in the sources, templates included; build trees
// and hidden folders are not sources.
QStringList desktopEntries(const QString& sourceDir)
{
    QStringList found;
    QDirIterator it(sourceDir, {QStringLiteral("*.desktop"), QStringLiteral("*.desktop.in")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(sourceDir).relativeFilePath(path);
        if (!relative.startsWith(QLatin1String("build")) && !relative.startsWith(QLatin1Char('.')))
            found << path;
    }
    return found;
}

} // namespace

TEST(DesktopMetadata, EveryDesktopEntryPassesDesktopFileValidate)
{
    const QStringList entries = desktopEntries(configuredPath("TAVRIX_SOURCE_DIR"));
    ASSERT_FALSE(entries.isEmpty());
    QTemporaryDir dir;
    for (const QString& entry : entries) {
        SCOPED_TRACE(entry.toStdString());
        QFile in(entry);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        // A template's placeholders are folders filled in at install time.
        QString text = QString::fromUtf8(in.readAll());
        text.replace(QRegularExpression(QStringLiteral("@[A-Z_]+@")), QStringLiteral("/usr/share/doc/tavrix-dl"));
        QString name = QFileInfo(entry).fileName();
        name.chop(name.endsWith(QLatin1String(".in")) ? 3 : 0);
        QFile out(dir.filePath(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
        out.close();

        const ProgramRun run = runProgram(QStringLiteral("desktop-file-validate"), {out.fileName()});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QLatin1String("error:"))) << run.out.toStdString();
    }
}

TEST(DesktopMetadata, AppStreamFilesPassAppstreamcliValidate)
{
    const QDir metainfo(configuredPath("TAVRIX_METAINFO_DIR"));
    const QStringList files = metainfo.entryList({QStringLiteral("*.metainfo.xml")}, QDir::Files);
    EXPECT_TRUE(files.contains(QStringLiteral("com.zkt.tavrixdl.metainfo.xml")));
    EXPECT_TRUE(files.contains(QStringLiteral("com.zkt.tavrixmap.metainfo.xml")));
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const ProgramRun run = runProgram(QStringLiteral("appstreamcli"),
                                          {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                           QStringLiteral("--no-color"), metainfo.filePath(file)});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    }
}
