// The map block read as a mapping application reads it: whatever another
// program left there, and a block that changes size under the reader.
#include "gps/MapBlock.h"
#include "gps/MapBlockReader.h"
#include "gps/MapTestSupport.h"
#include "map/TestBlock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace {

void putU16(uint8_t* block, std::size_t at, int value)
{
    block[at] = uint8_t(value);
    block[at + 1] = uint8_t(unsigned(value) >> 8);
}

void putDouble(uint8_t* block, std::size_t at, double value) { std::memcpy(block + at, &value, 8); }

void resize(const std::string& name, off_t size)
{
    const int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    ::close(fd);
}

} // namespace

TEST(MapBlockReader, AcceptsOnlyWhatTheLoggerWrites)
{
    struct Case
    {
        const char* legend;
        std::function<void(uint8_t*)> change;
        const char* problem; // nullptr: the point is accepted
    };
    const Case cases[] = {
        {"as written", [](uint8_t*) {}, nullptr},
        {"edges of the world", [](uint8_t* b) { putDouble(b, MapBlock::kLatitude, -90); putDouble(b, MapBlock::kLongitude, 180); }, nullptr},
        {"widest colour range", [](uint8_t* b) { putU16(b, MapBlock::kRangeMin, -150); putU16(b, MapBlock::kRangeMax, 0); }, nullptr},
        {"another name", [](uint8_t* b) { b[9] = 'X'; }, "name field does not read ZKTPELLORN"},
        {"name without its end", [](uint8_t* b) { b[10] = 'X'; }, "name field does not read ZKTPELLORN"},
        {"another version", [](uint8_t* b) { putU16(b, MapBlock::kVersion, 99); }, "version is 99, not 100"},
        {"latitude past the pole", [](uint8_t* b) { putDouble(b, MapBlock::kLatitude, 90.000001); }, "position lies outside"},
        {"longitude past the date line", [](uint8_t* b) { putDouble(b, MapBlock::kLongitude, -180.5); }, "position lies outside"},
        {"latitude not a number", [](uint8_t* b) { putDouble(b, MapBlock::kLatitude, NAN); }, "position lies outside"},
        {"a tiny latitude is still a place", [](uint8_t* b) { putDouble(b, MapBlock::kLatitude, 1e-307); }, nullptr},
        {"range below -150", [](uint8_t* b) { putU16(b, MapBlock::kRangeMin, -151); }, "colour range -151..-50 dBm lies outside -150..0 dBm"},
        {"range above 0", [](uint8_t* b) { putU16(b, MapBlock::kRangeMax, 1); }, "colour range -120..1 dBm lies outside -150..0 dBm"},
    };
    const std::string name = uniqueBlockName("reader");
    TestBlock block(name);
    MapBlockReader reader(name);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        block.write(40.5, -74.25, -77);
        c.change(block.data());
        const MapBlockReader::Reading r = reader.read();
        if (!c.problem) {
            ASSERT_TRUE(r.point.has_value()) << r.problem;
            EXPECT_EQ(r.problem, "");
            EXPECT_EQ(r.point->rssi, -77);
            EXPECT_TRUE(r.point->whole);
        } else {
            EXPECT_FALSE(r.point.has_value());
            EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
        }
    }
}

TEST(MapBlockReader, RandomBytesAreNoPoint)
{
    const std::string name = uniqueBlockName("random");
    TestBlock block(name);
    MapBlockReader reader(name);
    std::mt19937 random(25);
    for (int round = 0; round < 50; ++round) {
        for (std::size_t i = 0; i < MapBlock::kSize; ++i)
            block.data()[i] = uint8_t(random());
        block.data()[0] = 'Z'; // never an empty name, which reads as never written
        const MapBlockReader::Reading r = reader.read();
        EXPECT_FALSE(r.point.has_value()) << "round " << round;
        EXPECT_FALSE(r.problem.empty()) << "round " << round;
    }
}

TEST(MapBlockReader, NoBlockOrANeverWrittenOneIsNoPointWithoutComplaint)
{
    const std::string name = uniqueBlockName("empty");
    MapBlockReader reader(name);
    EXPECT_FALSE(reader.read().point.has_value());
    TestBlock block(name);
    const MapBlockReader::Reading r = reader.read();
    EXPECT_FALSE(r.point.has_value());
    EXPECT_EQ(r.problem, "");
}

// The logger removes its block at exit and a restarted one makes it anew.
TEST(MapBlockReader, FollowsABlockMadeAnewAndSeesNoPointOnceItIsGone)
{
    const std::string name = uniqueBlockName("anew");
    TestBlock block(name);
    MapBlockReader reader(name);
    block.write(40.5, -74.25, -77);
    ASSERT_TRUE(reader.read().point.has_value());

    shm_unlink(name.c_str());
    EXPECT_FALSE(reader.read().point.has_value()) << "the removed block's last point";
    block.replace();
    block.write(41.5, -73.25, -60);
    const MapBlockReader::Reading r = reader.read();
    ASSERT_TRUE(r.point.has_value()) << r.problem;
    EXPECT_EQ(r.point->latitude, 41.5);
    EXPECT_EQ(r.point->rssi, -60);
}

// Another program may cut the block short, or make one smaller than the
// logger's: the reader sees no point and lives on.
TEST(MapBlockReader, ABlockCutShortUnderTheReaderIsNoPointYet)
{
    const std::string name = uniqueBlockName("shrink");
    TestBlock block(name);
    MapBlockReader reader(name);
    block.write(40.5, -74.25, -77);
    ASSERT_TRUE(reader.read().point.has_value());

    for (off_t size : {off_t(0), off_t(100), off_t(MapBlock::kSequence + 3)}) {
        SCOPED_TRACE(size);
        resize(name, size);
        const MapBlockReader::Reading r = reader.read();
        EXPECT_FALSE(r.point.has_value());
        EXPECT_EQ(r.problem, "");
    }
    resize(name, MapBlock::kSequence + 4); // every written byte is there again
    block.write(41.5, -74.25, -70);        // through a mapping still valid below that size
    ASSERT_TRUE(reader.read().point.has_value());
    resize(name, MapBlock::kSize);
    block.write(42.5, -74.25, -60);
    const MapBlockReader::Reading r = reader.read();
    ASSERT_TRUE(r.point.has_value());
    EXPECT_EQ(r.point->latitude, 42.5);
}
