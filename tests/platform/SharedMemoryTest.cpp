#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string testName(const char* what)
{
    return "/tavrix-shm-test-" + std::string(what) + "-" + std::to_string(getpid());
}

} // namespace

TEST(SharedMemory, CreatesAZeroedPrivateBlockThatOthersShare)
{
    const std::string name = testName("share");
    SharedMemory writer(name, 4096);
    ASSERT_TRUE(writer.open());
    EXPECT_TRUE(writer.created());
    for (std::size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(writer.data()[i], 0) << i;
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 4096);

    SharedMemory reader(name.substr(1), 4096); // the leading slash is optional
    ASSERT_TRUE(reader.open());
    EXPECT_FALSE(reader.created());
    std::memcpy(writer.data() + 100, "hello", 6);
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.data() + 100), "hello");
    EXPECT_TRUE(SharedMemory::unlink(name));
}

TEST(SharedMemory, GrowsASmallerBlockAndNeverShrinksALargerOne)
{
    const std::string name = testName("size");
    {
        SharedMemory small(name, 100);
        ASSERT_TRUE(small.open());
        SharedMemory block(name, 4096);
        ASSERT_TRUE(block.open());
        block.data()[4095] = 7; // within the grown object
    }
    SharedMemory small(name, 100);
    ASSERT_TRUE(small.open());
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4096);
    SharedMemory::unlink(name);
}

TEST(SharedMemory, FailureLeavesNothingMappedAndMayBeRetried)
{
    const std::string name = testName("fail");
    const std::string path = "/dev/shm" + name;
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    SharedMemory block(name, 4096);
    EXPECT_FALSE(block.open());
    EXPECT_FALSE(block.isMapped());
    EXPECT_EQ(block.data(), nullptr);
    ASSERT_EQ(rmdir(path.c_str()), 0);
    EXPECT_TRUE(block.open());
    EXPECT_TRUE(block.isMapped());
    SharedMemory::unlink(name);

    SharedMemory invalid("/a/b", 4096);
    EXPECT_FALSE(invalid.open());
}

// A block of this user's that others may read is narrowed to the owner.
TEST(SharedMemory, AnExistingBlockIsMadePrivate)
{
    const std::string name = testName("mode");
    {
        SharedMemory first(name, 4096);
        ASSERT_TRUE(first.open());
    }
    const std::string path = "/dev/shm" + name;
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    SharedMemory block(name, 4096);
    ASSERT_TRUE(block.open());
    EXPECT_FALSE(block.created());
    EXPECT_FALSE(block.ownedByOther());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    SharedMemory::unlink(name);
}
