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

// The help must come without a display. Window programs may need Qt's
// off-screen platform to parse their command line; one that opened its
// window instead of answering never ends and fails.
ProgramRun helpOf(const QString& binary)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ProgramRun run = runProgram(binary, {QStringLiteral("--help")}, env);
    // Some tools print their usage on standard error.
    run.out += run.err;
    return run;
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
