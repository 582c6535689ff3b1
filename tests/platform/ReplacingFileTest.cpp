// An output file replaces its target only when it is complete and committed.
#include "platform/ReplacingFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class ReplacingFileTest : public ::testing::Test
{
protected:
    std::string path(const char* name) const { return dir.filePath(QLatin1String(name)).toStdString(); }
    QStringList entries() const
    {
        QStringList e = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        e.sort();
        return e;
    }
    QTemporaryDir dir;
    std::string error;
};

TEST_F(ReplacingFileTest, TheTargetChangesOnlyAtCommit)
{
    put(path("out.csv"), "old\n");
    ReplacingFile file(path("out.csv"));
    ASSERT_TRUE(file.open(error)) << error;
    std::fputs("new\n", file.stream());
    std::fflush(file.stream());
    EXPECT_EQ(contents(path("out.csv")), "old\n") << "written before it was whole";
    EXPECT_EQ(entries().size(), 2);
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(contents(path("out.csv")), "new\n");
    EXPECT_EQ(entries(), QStringList{"out.csv"}) << "the temporary file stays behind";
}

TEST_F(ReplacingFileTest, GivingUpLeavesTheTargetAndNoTrace)
{
    put(path("out.csv"), "old\n");
    {
        ReplacingFile file(path("out.csv"));
        ASSERT_TRUE(file.open(error)) << error;
        std::fputs("half a fil", file.stream());
    }
    EXPECT_EQ(contents(path("out.csv")), "old\n");
    EXPECT_EQ(entries(), QStringList{"out.csv"});

    ReplacingFile fresh(path("new.csv"));
    ASSERT_TRUE(fresh.open(error)) << error;
    fresh.discard();
    EXPECT_EQ(entries(), QStringList{"out.csv"});
}

TEST_F(ReplacingFileTest, KeepsTheModeAndReplacesWhatALinkNames)
{
    put(path("real.csv"), "old\n");
    ASSERT_EQ(::chmod(path("real.csv").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.csv", path("link.csv").c_str()), 0);
    ReplacingFile file(path("link.csv"));
    ASSERT_TRUE(file.open(error)) << error;
    std::fputs("new\n", file.stream());
    ASSERT_TRUE(file.commit(error)) << error;

    struct stat link{}, real{};
    ASSERT_EQ(::lstat(path("link.csv").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(::stat(path("real.csv").c_str(), &real), 0);
    EXPECT_EQ(real.st_mode & 07777, 0640u);
    EXPECT_EQ(contents(path("real.csv")), "new\n");
}

TEST_F(ReplacingFileTest, ADeviceIsWrittenInPlace)
{
    ReplacingFile file("/dev/null");
    ASSERT_TRUE(file.open(error)) << error;
    EXPECT_TRUE(file.temporaryPath().empty());
    std::fputs("gone", file.stream());
    EXPECT_TRUE(file.commit(error)) << error;

    // A device that refuses the bytes is a failure, said as one.
    ReplacingFile full("/dev/full");
    ASSERT_TRUE(full.open(error)) << error;
    std::fputs("no room", full.stream());
    EXPECT_FALSE(full.commit(error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
}

TEST_F(ReplacingFileTest, AFolderThatCannotBeWrittenIsRefusedAtOpen)
{
    ReplacingFile file(path("missing/out.csv"));
    EXPECT_FALSE(file.open(error));
    EXPECT_NE(error.find("missing/out.csv"), std::string::npos) << error;
}

} // namespace
