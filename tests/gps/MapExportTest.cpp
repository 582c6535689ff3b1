#include "gps/MapBlock.h"
#include "gps/MapExport.h"
#include "protocol/TGPS.h"
#include "gps/GpsTestMessage.h"
#include "gps/MapTestSupport.h"
#include "platform/SharedMemory.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
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

TEST(MapBlock, RangeSettingsAreWholeNumbersFromMinus150To0)
{
    const std::pair<const char*, std::optional<int16_t>> cases[] = {
        {"-50", -50}, {"-150", -150}, {"0", 0}, {"-0", 0}, {" -120 ", -120}, {"+0", 0},
        {"-151", std::nullopt}, {"1", std::nullopt}, {"99999", std::nullopt}, {"-31073", std::nullopt},
        {"abc", std::nullopt}, {"", std::nullopt}, {"-", std::nullopt}, {"-85abc", std::nullopt},
        {"-8 5", std::nullopt}, {"-85.5", std::nullopt}, {"-00085", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(MapBlock::rangeSetting(text), value) << '"' << text << '"';
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
    std::vector<uint8_t> b;
    {
        MapExport map(name); // the real announcement
        EXPECT_TRUE(map.SendMapData(referenceRecord(), "NOBUS"));
        EXPECT_TRUE(map.SendMapData(referenceRecord(), "NOBUS"));
        b = readBlock(name);
    }
    if (saved.isNull())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_EQ(slice(b, 297, 6), (std::vector<uint8_t>{'N', 'O', 'B', 'U', 'S', 0}));
}

static TGPS at(double latitude, double longitude)
{
    TGPS gps = referenceRecord();
    gps.Latitude = latitude;
    gps.Longitude = longitude;
    return gps;
}

// The screen shows what came; the map gets only points that can be on Earth.
TEST_F(MapExportTest, ImpossiblePositionsAreNotPublished)
{
    MapExport map(name, nullptr);
    const std::pair<double, double> impossible[] = {
        {596.0, 10.0}, {-90.5, 0.0}, {45.0, 200.0}, {45.0, -180.25}, {std::nan(""), 0.0}, {0.0, INFINITY}};
    for (const auto& [lat, lon] : impossible)
        EXPECT_FALSE(map.SendMapData(at(lat, lon), "S")) << lat << ", " << lon;
    EXPECT_FALSE(blockExists(name));

    ASSERT_TRUE(map.SendMapData(at(90.0, -180.0), "S"));
    ASSERT_FALSE(map.SendMapData(at(596.0, 10.0), "S"));
    EXPECT_EQ(slice(readBlock(name), 16, 16), [] {
        auto v = leDouble(90.0);
        auto w = leDouble(-180.0);
        v.insert(v.end(), w.begin(), w.end());
        return v;
    }()) << "the last possible point stays";
}

// Before the chosen receiver reports, the point says "no data", not full signal.
TEST_F(MapExportTest, MapValueStartsAtNoData)
{
    MapExport map(name, nullptr);
    EXPECT_EQ(map.MapRSSI(), -120);
    ASSERT_TRUE(map.SendMapData(referenceRecord(), "S"));
    EXPECT_EQ(slice(readBlock(name), 34, 2), le(uint16_t(-120), 2));
}

// The last run's point and serial number are gone before this run's first
// point, and this run's block is gone when the export is.
TEST_F(MapExportTest, ALeftOverBlockIsClearedAndTheBlockGoesAtTheEnd)
{
    {
        SharedMemory old(name, MapBlock::kSize);
        ASSERT_TRUE(old.open());
        MapBlock::Point stale;
        stale.latitude = 51.5;
        stale.serial = "OLDRUN01";
        MapBlock::write(old.data(), stale);
    }
    {
        MapExport map(name, nullptr);
        EXPECT_EQ(readBlock(name), std::vector<uint8_t>(4096, 0)) << "the stale point is still readable";
        ASSERT_TRUE(map.SendMapData(referenceRecord(), "NEWRUN02"));
        EXPECT_EQ(slice(readBlock(name), 297, 9), (std::vector<uint8_t>{'N', 'E', 'W', 'R', 'U', 'N', '0', '2', 0}));
    }
    EXPECT_FALSE(blockExists(name));

    // An export that never wrote leaves a reader's block alone.
    SharedMemory reader(name, MapBlock::kSize);
    ASSERT_TRUE(reader.open());
    { MapExport idle(name, nullptr); }
    EXPECT_TRUE(blockExists(name));
}

TEST_F(MapExportTest, ABlockOfAnotherUserIsNeverWrittenAndThatIsSaidOnce)
{
    {
        SharedMemory other(name, MapBlock::kSize);
        ASSERT_TRUE(other.open());
        std::memcpy(other.data(), "THEIRS", 7);
    }
    const std::string path = "/dev/shm" + name;
    ::chmod(path.c_str(), 0666);
    if (::chown(path.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a block to another user needs root: " << std::strerror(errno);

    std::vector<std::string> told;
    MapExport map(name, nullptr);
    map.onRefused = [&](const std::string& text) { told.push_back(text); };
    EXPECT_FALSE(map.SendMapData(referenceRecord(), "MINE0001"));
    EXPECT_FALSE(map.SendMapData(referenceRecord(), "MINE0001"));
    EXPECT_FALSE(map.isMapped());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "Map Block " + name + " Belongs To Another User, No Map Points Sent!!!");
    const std::vector<uint8_t> b = readBlock(name);
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data()), "THEIRS") << "neither cleared nor written";
}
