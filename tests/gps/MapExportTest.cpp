#include "gps/MapBlock.h"
#include "gps/MapExport.h"
#include "gps/TGPS.h"
#include "gps/GpsTestMessage.h"
#include "gps/MapTestSupport.h"
#include "platform/SharedMemory.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// The block as another process sees it, read through its own mapping.
std::vector<uint8_t> readBlock(const std::string& name)
{
    const int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return {};
    void* p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return {};
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + 4096);
    munmap(p, 4096);
    return bytes;
}

bool blockExists(const std::string& name)
{
    const int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

std::vector<uint8_t> le(uint64_t v, int n)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

std::vector<uint8_t> leDouble(double d)
{
    uint64_t v;
    std::memcpy(&v, &d, 8);
    return le(v, 8);
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& b, std::size_t at, std::size_t n)
{
    return {b.begin() + at, b.begin() + at + n};
}

TGPS referenceRecord()
{
    TGPS gps;
    gps.Decode(GpsTestMessage::reference().bytes.data());
    return gps;
}

class MapExportTest : public testing::Test
{
protected:
    void TearDown() override { SharedMemory::unlink(name); }
    std::string name = uniqueBlockName("map");
};

} // namespace

TEST(MapBlock, RangeTextsKeepTheLeadingNumberInSixteenBits)
{
    const std::pair<const char*, int16_t> cases[] = {
        {"-50", -50}, {"-120", -120}, {"-85abc", -85}, {"", 0}, {"abc", 0},
        {"-", 0}, {"  +17", 17}, {"\t-90 dBm", -90}, {"70000", 4464}, {"-70000", -4464},
        {"32767", 32767}, {"32768", -32768}, {"65535", -1}, {"-32768", -32768},
        {"12 34", 12}, {"100000000000000000007", 7}, // 10^20 + 7: low 16 bits of the exact value
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(MapBlock::rangeValue(text), value) << '"' << text << '"';
}

// Every byte of the block after one export: the written fields, and zero
// everywhere the layout leaves unwritten.
TEST_F(MapExportTest, OneExportWritesTheLayoutAtEveryOffset)
{
    MapExport map(name, nullptr);
    map.SetMapRSSI(0, -85);
    map.setRange(-120, -50);
    const TGPS gps = referenceRecord();
    ASSERT_TRUE(map.SendMapData(gps, "SN123456"));

    const std::vector<uint8_t> b = readBlock(name);
    ASSERT_EQ(b.size(), 4096u);
    std::vector<uint8_t> expected(4096, 0);
    auto put = [&](std::size_t at, const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), expected.begin() + at);
    };
    put(0, {'Z', 'K', 'T', 'P', 'E', 'L', 'L', 'O', 'R', 'N', 0});
    put(12, le(100, 2));
    put(16, leDouble(gps.Latitude));
    put(24, leDouble(gps.Longitude));
    put(32, le(1, 2));
    put(34, le(uint16_t(-85), 2));
    put(292, le(uint16_t(-120), 2));
    put(294, le(uint16_t(-50), 2));
    put(296, {1});
    put(297, {'S', 'N', '1', '2', '3', '4', '5', '6', 0});
    put(308, le(2, 4)); // sequence: even, one write done
    for (std::size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(b[i], expected[i]) << "offset " << i;
    EXPECT_NEAR(gps.Latitude, -40.5471, 1e-4);
    EXPECT_NEAR(gps.Longitude, 74.3803, 1e-4);
}

TEST_F(MapExportTest, NothingIsCreatedBeforeTheFirstGpsMessage)
{
    MapExport map(name, nullptr);
    for (int i = 0; i < 100; ++i)
        map.SetMapRSSI(i % 2, int16_t(-i));
    map.setRange(-100, -40);
    EXPECT_FALSE(blockExists(name));
    EXPECT_FALSE(map.isMapped());
    EXPECT_EQ(map.mappingsCreated(), 0);
}

TEST_F(MapExportTest, TwoExportsMapOnceAndOverwriteThePoint)
{
    MapExport map(name, nullptr);
    TGPS gps = referenceRecord();
    ASSERT_TRUE(map.SendMapData(gps, "A"));
    gps.Latitude = 51.5;
    gps.Longitude = -0.125;
    map.setRange(-110, -60);
    ASSERT_TRUE(map.SendMapData(gps, "LONGERSERIAL"));
    EXPECT_EQ(map.mappingsCreated(), 1);

    const std::vector<uint8_t> b = readBlock(name);
    EXPECT_EQ(slice(b, 16, 8), leDouble(51.5));
    EXPECT_EQ(slice(b, 24, 8), leDouble(-0.125));
    EXPECT_EQ(slice(b, 292, 4), (std::vector<uint8_t>{0x92, 0xFF, 0xC4, 0xFF}));
    // Cut to eight characters, NUL at 305, 306 and 307 untouched.
    EXPECT_EQ(slice(b, 297, 11), (std::vector<uint8_t>{'L', 'O', 'N', 'G', 'E', 'R', 'S', 'E', 0, 0, 0}));
    EXPECT_EQ(slice(b, 308, 4), le(4, 4));
}

TEST_F(MapExportTest, OnlyTheChosenReceiverFeedsTheMapValue)
{
    MapExport map(name, nullptr);
    map.SetMapRSSI(0, -70);
    map.SetMapRSSI(1, -95);
    EXPECT_EQ(map.MapRSSI(), -70);

    map.setMapReceiver(1);
    map.SetMapRSSI(0, -60); // R1 no longer feeds the map
    EXPECT_EQ(map.MapRSSI(), -70); // kept until R2 reports
    map.SetMapRSSI(1, -90);
    EXPECT_EQ(map.MapRSSI(), -90);

    ASSERT_TRUE(map.SendMapData(referenceRecord(), ""));
    EXPECT_EQ(slice(readBlock(name), 34, 2), le(uint16_t(-90), 2));
}

TEST_F(MapExportTest, BlockIsPrivateToTheUser)
{
    MapExport map(name, nullptr);
    ASSERT_TRUE(map.SendMapData(referenceRecord(), "S"));
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 4096);
}

// A block that cannot be opened is neither written through nor given up:
// the next GPS message tries again.
TEST_F(MapExportTest, FailedCreationIsRetriedAtTheNextExport)
{
    const std::string path = "/dev/shm" + name;
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0); // a directory in the way fails even for root
    MapExport map(name, nullptr);
    EXPECT_FALSE(map.SendMapData(referenceRecord(), "S"));
    EXPECT_FALSE(map.isMapped());
    ASSERT_EQ(rmdir(path.c_str()), 0);

    EXPECT_TRUE(map.SendMapData(referenceRecord(), "S"));
    EXPECT_TRUE(map.isMapped());
    EXPECT_EQ(map.mappingsCreated(), 1);
    EXPECT_EQ(readBlock(name)[296], 1);
}

TEST_F(MapExportTest, BlockCreatedByTheReaderFirstIsUsed)
{
    SharedMemory reader(name, 4096);
    ASSERT_TRUE(reader.open());
    MapExport map(name, nullptr);
    ASSERT_TRUE(map.SendMapData(referenceRecord(), "S"));
    EXPECT_EQ(std::memcmp(reader.data(), "ZKTPELLORN", 11), 0);
}

// With the session bus address pointing nowhere the point is still written.
TEST_F(MapExportTest, MissingSessionBusStillWritesTheBlock)
{
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavrix-test-bus");
    {
        MapExport map(name); // the real announcement
        EXPECT_TRUE(map.SendMapData(referenceRecord(), "NOBUS"));
        EXPECT_TRUE(map.SendMapData(referenceRecord(), "NOBUS"));
    }
    if (saved.isNull())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    const std::vector<uint8_t> b = readBlock(name);
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_EQ(slice(b, 297, 6), (std::vector<uint8_t>{'N', 'O', 'B', 'U', 'S', 0}));
}
