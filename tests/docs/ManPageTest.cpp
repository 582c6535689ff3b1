// Every program with a manual page: the page renders cleanly with man(1), it
// documents every option the program's --help prints, and it documents no
// option the program has dropped.
#include "DocsTestSupport.h"

#include <QFile>

namespace {

struct ManPage
{
    QString program;
    QString binary;
    QString roff;
};

// One line per page, "program<TAB>binary<TAB>roff", written by the build.
std::vector<ManPage> manPages()
{
    std::vector<ManPage> pages;
    QFile list(configuredPath("TAVRIX_MANPAGE_LIST"));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        return pages;
    for (const QString& line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() == 3)
            pages.push_back({f[0], f[1], f[2]});
    }
    return pages;
}

// The page as a reader sees it, wide enough that no option is broken across
// lines, with groff's typographic dashes turned back into ASCII.
ProgramRun renderPage(const QString& roff)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("250"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("MANPAGER"));
    env.remove(QStringLiteral("PAGER"));
    ProgramRun run = runProgram(QStringLiteral("man"), {QStringLiteral("--warnings"), QStringLiteral("-l"), roff}, env);
    for (QChar dash : {QChar(0x2010), QChar(0x2011), QChar(0x2212)})
        run.out.replace(dash, QLatin1Char('-'));
    return run;
}

// Without a display, on Qt's off-screen platform: a program that opened its
// window instead of answering never ends and fails at the limit.
ProgramRun runWithoutDisplay(const QString& binary, const QStringList& args, int limitMs = 120000)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return runProgram(binary, args, env, limitMs);
}

ProgramRun helpOf(const QString& binary)
{
    ProgramRun run = runWithoutDisplay(binary, {QStringLiteral("--help")});
    // Some tools print their usage on standard error.
    run.out += run.err;
    return run;
}

// The lines of one section of a rendered page.
QStringList sectionLines(const QString& page, const QString& section)
{
    QStringList lines;
    bool in = false;
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.at(0).isSpace()) {
            in = line.trimmed() == section;
            continue;
        }
        if (in)
            lines << line;
    }
    return lines;
}

// Exit statuses as a help text states them: "exit status: 0 whole, 1
// malformed ...", up to the end of that paragraph.
QSet<QString> exitStatusesOfHelp(const QString& help)
{
    const qsizetype at = help.indexOf(QLatin1String("exit status"), 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    QString paragraph = help.mid(at);
    paragraph.truncate(paragraph.indexOf(QLatin1String("\n\n")) < 0 ? paragraph.size() : paragraph.indexOf(QLatin1String("\n\n")));
    static const QRegularExpression status(QStringLiteral(R"((?:^|[\s:;,])(\d+)\s+[A-Za-z(])"));
    QSet<QString> found;
    for (auto it = status.globalMatch(paragraph); it.hasNext();)
        found.insert(it.next().captured(1));
    return found;
}

// The terms of a rendered EXIT STATUS section: a number alone on its line.
QSet<QString> exitStatusesOfPage(const QString& page)
{
    static const QRegularExpression term(QStringLiteral(R"(^ {7}(\d+)\s*$)"));
    QSet<QString> found;
    for (const QString& line : sectionLines(page, QStringLiteral("EXIT STATUS")))
        if (const auto m = term.match(line); m.hasMatch())
            found.insert(m.captured(1));
    return found;
}

// The terms of the OPTIONS section: its lines at the first indentation.
QString optionTerms(const QString& page)
{
    QString terms;
    bool inOptions = false;
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.at(0).isSpace()) {
            inOptions = line.trimmed() == QLatin1String("OPTIONS");
            continue;
        }
        static const QRegularExpression term(QStringLiteral("^ {7}-"));
        if (inOptions && term.match(line).hasMatch())
            terms += line + QLatin1Char('\n');
    }
    return terms;
}

} // namespace

TEST(ManPages, EveryInstalledProgramHasOne)
{
    QStringList programs;
    for (const ManPage& page : manPages())
        programs << page.program;
    for (const char* expected : {"tavrix-dl", "tavrix-sim", "klf-inspect", "klf-export", "tavrix-mapwatch", "tavrix-map"})
        EXPECT_TRUE(programs.contains(QLatin1String(expected))) << expected << " has no manual page";
}

TEST(ManPages, RenderWithoutWarningsUnderTheirName)
{
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        const ProgramRun run = renderPage(page.roff);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("NAME\n       ") + page.program + QStringLiteral(" - ")))
            << run.out.left(400).toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("\nSYNOPSIS\n")));
    }
}

TEST(ManPages, DocumentEveryOptionOfTheHelp)
{
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        const ProgramRun help = helpOf(page.binary);
        ASSERT_EQ(help.exitCode, 0) << help.out.toStdString();
        const QSet<QString> helpOptions = optionsIn(help.out);
        ASSERT_TRUE(helpOptions.contains(QStringLiteral("--help"))) << help.out.toStdString();

        const QSet<QString> documented = optionsIn(optionTerms(renderPage(page.roff).out));
        EXPECT_EQ(sortedList(helpOptions - documented), std::string()) << "in --help but not in the page";
    }
}

TEST(ManPages, DocumentNoOptionTheProgramLacks)
{
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        const QSet<QString> helpOptions = optionsIn(helpOf(page.binary).out);
        const QSet<QString> documented = optionsIn(optionTerms(renderPage(page.roff).out));
        EXPECT_FALSE(documented.isEmpty());
        EXPECT_EQ(sortedList(documented - helpOptions), std::string()) << "in the page but not in --help";
    }
}

TEST(ManPages, ListTheExitStatusesOfTheHelp)
{
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        const QSet<QString> help = exitStatusesOfHelp(helpOf(page.binary).out);
        const QSet<QString> documented = exitStatusesOfPage(renderPage(page.roff).out);
        EXPECT_FALSE(help.isEmpty()) << "--help states no exit status";
        EXPECT_TRUE(documented.contains(QStringLiteral("0"))) << "no EXIT STATUS list in the page";
        EXPECT_EQ(sortedList(help), sortedList(documented));
    }
}

TEST(ManPages, EachHasExamplesAndTheLoggerNamesWhatItCreates)
{
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        const QString rendered = renderPage(page.roff).out;
        EXPECT_TRUE(rendered.contains(QStringLiteral("\nEXAMPLES\n")));
        if (page.program == QLatin1String("tavrix-dl")) {
            const QString files = sectionLines(rendered, QStringLiteral("FILES")).join(QLatin1Char('\n'));
            for (const char* created : {"/dev/shm/ZKTPELLORN", "/dev/shm/sem.DATAMUTEX"})
                EXPECT_TRUE(files.contains(QLatin1String(created))) << created;
        }
    }
}

// Every tool answers -h, --help and --version, and refuses an option it does
// not know (or a second argument it has no use for) with a usage error,
// without a display and without opening a window.
TEST(CommandLines, EveryToolTakesHelpAndVersionAndRefusesWhatItDoesNotKnow)
{
    constexpr int kLimitMs = 20000;
    for (const ManPage& page : manPages()) {
        SCOPED_TRACE(page.program.toStdString());
        for (const char* ask : {"-h", "--help"}) {
            const ProgramRun help = runWithoutDisplay(page.binary, {QLatin1String(ask)}, kLimitMs);
            EXPECT_EQ(help.exitCode, 0) << ask << "\n" << help.err.toStdString();
            EXPECT_TRUE((help.out + help.err).contains(QLatin1String("--version"))) << ask;
        }
        const ProgramRun version = runWithoutDisplay(page.binary, {QStringLiteral("--version")}, kLimitMs);
        EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
        static const QRegularExpression versionLine(QStringLiteral(R"(^\S+ \d+\.\d+)"));
        EXPECT_TRUE(versionLine.match(version.out).hasMatch()) << version.out.toStdString();
        EXPECT_TRUE(version.out.startsWith(page.program)) << version.out.toStdString();

        const QSet<QString> statuses = exitStatusesOfHelp(helpOf(page.binary).out);
        std::vector<QStringList> mistakes = {{QStringLiteral("--bogus")}};
        if (page.program == QLatin1String("tavrix-dl") || page.program == QLatin1String("tavrix-mapwatch"))
            mistakes.push_back({QStringLiteral("a"), QStringLiteral("b")});
        for (const QStringList& args : mistakes) {
            const ProgramRun wrong = runWithoutDisplay(page.binary, args, kLimitMs);
            EXPECT_NE(wrong.exitCode, 0) << args.join(' ').toStdString() << ": " << wrong.err.toStdString();
            EXPECT_NE(wrong.exitCode, -1) << args.join(' ').toStdString() << ": no answer, a window instead?";
            EXPECT_TRUE(statuses.contains(QString::number(wrong.exitCode))) << "an exit status the help does not list";
            EXPECT_FALSE(wrong.err.isEmpty()) << args.join(' ').toStdString();
        }
    }
}
