// The logs a drive tool is given, against a real folder tree.
#include "drive/LogFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

class LogFilesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "log-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }

    std::string path(const std::string& name) const { return (m_root / name).string(); }
    void touch(const std::string& name) const
    {
        fs::create_directories(fs::path(path(name)).parent_path());
        std::ofstream(path(name)) << "x";
    }

    fs::path m_root;
};

// Folders open to their .KLF files (any case, any depth) in name order;
// files named are taken as they are, whatever their name.
TEST_F(LogFilesTest, FoldersOpenToTheirLogsInNameOrder)
{
    for (const char* name : {"d/b.KLF", "d/a.klf", "d/sub/c.Klf", "d/notes.txt", "d/KLF", "named.bin"})
        touch(name);
    fs::create_directory(path("empty"));
    std::vector<std::string> logs, emptyFolders;
    std::string error;
    ASSERT_TRUE(LogFiles::collect({path("named.bin"), path("d"), path("empty")}, logs, error,
                                  [&](const std::string& folder) { emptyFolders.push_back(folder); }))
        << error;
    EXPECT_EQ(logs, (std::vector<std::string>{path("named.bin"), path("d/a.klf"), path("d/b.KLF"), path("d/sub/c.Klf")}));
    EXPECT_EQ(emptyFolders, std::vector<std::string>{path("empty")});
}

// What cannot be a log is refused before anything is read: a name that is
// not there, a device that never ends, a FIFO that waits for a writer. A
// FIFO inside a folder is passed over, as anything but a regular file is.
TEST_F(LogFilesTest, WhatIsNotThereOrNotARegularFileIsRefused)
{
    touch("a.KLF");
    ASSERT_EQ(::mkfifo(path("fifo.KLF").c_str(), 0600), 0);
    struct Case { std::string input; const char* error; };
    const Case cases[] = {
        {path("none.KLF"), "cannot open"},
        {"/dev/zero", "not a regular file"},
        {path("fifo.KLF"), "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> logs;
        std::string error;
        EXPECT_FALSE(LogFiles::collect({path("a.KLF"), c.input}, logs, error));
        EXPECT_NE(error.find(c.input), std::string::npos) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    std::vector<std::string> logs;
    std::string error;
    ASSERT_TRUE(LogFiles::collect({m_root.string()}, logs, error)) << error;
    EXPECT_EQ(logs, std::vector<std::string>{path("a.KLF")});
}

} // namespace
