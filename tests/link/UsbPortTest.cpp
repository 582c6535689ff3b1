#include "Pty.h"
#include "link/UsbPort.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <dlfcn.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Control side of the stand-in D2XX library (FakeFtd2xx.cpp). Opening the same
// file the port loads gives the same instance and so the same pretend devices.
class FakeLibrary
{
public:
    FakeLibrary()
    {
        m_handle = ::dlopen(FAKE_FTD2XX_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        reset = sym<void (*)()>("fakeFtReset");
        addDevice = sym<void (*)(const char*)>("fakeFtAddDevice");
        queue = sym<void (*)(const uint8_t*, size_t)>("fakeFtQueue");
        written = sym<size_t (*)(uint8_t*, size_t)>("fakeFtWritten");
        openedIndex = sym<int (*)()>("fakeFtOpenedIndex");
        baud = sym<unsigned long (*)()>("fakeFtBaud");
        unplug = sym<void (*)()>("fakeFtUnplug");
        reset();
    }
    ~FakeLibrary()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    bool ok() const { return m_handle && reset && addDevice && queue && written && openedIndex && baud && unplug; }

    void (*reset)() = nullptr;
    void (*addDevice)(const char*) = nullptr;
    void (*queue)(const uint8_t*, size_t) = nullptr;
    size_t (*written)(uint8_t*, size_t) = nullptr;
    int (*openedIndex)() = nullptr;
    unsigned long (*baud)() = nullptr;
    void (*unplug)() = nullptr;

private:
    template<typename F>
    F sym(const char* name)
    {
        return reinterpret_cast<F>(::dlsym(m_handle, name));
    }
    void* m_handle = nullptr;
};

// A throw-away folder for fake sysfs and /dev trees.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/tavrix-usb.XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// Adds class/tty/<name>/device pointing at devices/<devicePath>; when vendor
// is given, the directory `levelsUp` above the device gets an idVendor file.
void addTty(const fs::path& sysfs, const std::string& name, const std::string& devicePath,
            const std::string& vendor, int levelsUp)
{
    const fs::path device = sysfs / "devices" / devicePath;
    fs::create_directories(device);
    if (!vendor.empty()) {
        fs::path owner = device;
        for (int i = 0; i < levelsUp; ++i)
            owner = owner.parent_path();
        std::ofstream(owner / "idVendor") << vendor << "\n";
    }
    const fs::path link = sysfs / "class" / "tty" / name;
    fs::create_directories(link);
    fs::create_directory_symlink(device, link / "device");
}

// Points the tty fallback at empty trees so only the library can succeed.
void withoutFallback(UsbPort& port, const TempDir& dir)
{
    port.setSysfsRoot((dir.path() / "sys-empty").string());
    port.setDevRoot((dir.path() / "dev").string());
}

// The D2XX path alone: the stand-in library, no tty to fall back on.
class UsbPortD2xx : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake.ok()) << ::dlerror();
        withoutFallback(port, dir);
    }

    FakeLibrary fake;
    TempDir dir;
    UsbPort port{FAKE_FTD2XX_PATH};
};

TEST_F(UsbPortD2xx, TenQueuedBytesAreReadFourFourTwo)
{
    fake.addDevice("TVX00017");
    ASSERT_TRUE(port.open()) << port.failureReason();
    EXPECT_TRUE(port.libraryLoaded());
    EXPECT_FALSE(port.usingTty());
    EXPECT_EQ(fake.baud(), 38400u);

    uint8_t buffer[LinkTransport::kReadBufferSize];
    EXPECT_EQ(port.read(buffer), -1);

    const Bytes sent{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    fake.queue(sent.data(), sent.size());
    Bytes got;
    std::vector<int> sizes;
    for (int16_t n; (n = port.read(buffer)) > 0;) {
        sizes.push_back(n);
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(sizes, (std::vector<int>{4, 4, 2}));
    EXPECT_EQ(got, sent);
    EXPECT_FALSE(port.lost());
}

TEST_F(UsbPortD2xx, WritesThroughTheLibrary)
{
    fake.addDevice("A");
    const Bytes frame{0xAA, 0x02, 0x00, 0x1C, 0x1C};
    EXPECT_EQ(port.write(frame.data(), 5), LinkTransport::kWriteFailed); // not open yet
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.write(frame.data(), 5), 5);
    uint8_t out[16];
    ASSERT_EQ(fake.written(out, sizeof out), 5u);
    EXPECT_EQ(Bytes(out, out + 5), frame);
}

TEST_F(UsbPortD2xx, NoDeviceFailsTheOpen)
{
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.deviceName(), "USB");
    EXPECT_EQ(port.failureReason(), "No FTDI Device Found");
    EXPECT_EQ(fake.openedIndex(), -1);
}

TEST_F(UsbPortD2xx, TwoDevicesOpensIndexZero)
{
    fake.addDevice("FIRST");
    fake.addDevice("SECOND");
    ASSERT_TRUE(port.open());
    EXPECT_EQ(fake.openedIndex(), 0);
}

TEST_F(UsbPortD2xx, UnpluggedDeviceIsLostAndCanBeReopened)
{
    fake.addDevice("A");
    ASSERT_TRUE(port.open());
    fake.unplug();
    uint8_t buffer[LinkTransport::kReadBufferSize];
    EXPECT_EQ(port.read(buffer), -1);
    EXPECT_TRUE(port.lost());

    port.close();
    EXPECT_EQ(fake.openedIndex(), -1); // the handle was given back
    fake.reset();
    fake.addDevice("A");
    EXPECT_TRUE(port.open());
    EXPECT_FALSE(port.lost());
}

TEST(UsbPort, FindsTheFirstFtdiTtyInSysfs)
{
    TempDir dir;
    const fs::path sys = dir.path() / "sys";
    addTty(sys, "ttyS0", "platform/serial8250/tty/ttyS0", "", 0);
    addTty(sys, "ttyUSB1", "pci0/usb1/1-2/1-2:1.0/ttyUSB1", "067b", 2); // Prolific
    addTty(sys, "ttyUSB10", "pci0/usb1/1-4/1-4:1.0/ttyUSB10", "0403", 2);
    addTty(sys, "ttyUSB3", "pci0/usb1/1-3/1-3:1.0/ttyUSB3", "0403", 2);
    addTty(sys, "ttyACM0", "pci0/usb1/1-5/1-5:1.0/tty/ttyACM0", "2341", 3); // not FTDI
    fs::create_directories(sys / "class" / "tty" / "pts-like"); // no device link

    EXPECT_EQ(UsbPort::findFtdiTty(sys.string()), "ttyUSB3");
    fs::remove_all(sys / "class" / "tty" / "ttyUSB3");
    EXPECT_EQ(UsbPort::findFtdiTty(sys.string()), "ttyUSB10");
    fs::remove_all(sys / "class" / "tty" / "ttyUSB10");
    EXPECT_EQ(UsbPort::findFtdiTty(sys.string()), "");
    // An FTDI chip on a CDC-ACM interface sits one level nearer its tty.
    addTty(sys, "ttyACM1", "pci0/usb1/1-6/1-6:1.0/tty/ttyACM1", "0403", 3);
    EXPECT_EQ(UsbPort::findFtdiTty(sys.string()), "ttyACM1");
    EXPECT_EQ(UsbPort::findFtdiTty((dir.path() / "nothing").string()), "");
}

TEST(UsbPort, WithoutTheLibraryFallsBackToTheFtdiTty)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TempDir dir;
    const fs::path sys = dir.path() / "sys";
    const fs::path dev = dir.path() / "dev";
    addTty(sys, "ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "0403", 2);
    fs::create_directories(dev);
    fs::create_symlink(pty.slavePath(), dev / "ttyUSB0");

    UsbPort port((dir.path() / "no-such-libftd2xx.so").string());
    port.setSysfsRoot(sys.string());
    port.setDevRoot(dev.string());
    ASSERT_TRUE(port.open()) << port.failureReason();
    EXPECT_FALSE(port.libraryLoaded());
    EXPECT_TRUE(port.usingTty());
    EXPECT_EQ(port.deviceName(), (dev / "ttyUSB0").string());

    // The tty is not limited to four bytes a read.
    ASSERT_TRUE(pty.write({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(port.waitForData(1000), LinkTransport::WaitResult::Data);
    uint8_t buffer[LinkTransport::kReadBufferSize];
    int total = 0;
    for (int pass = 0; pass < 50 && total < 6; ++pass) {
        const int16_t n = port.read(buffer);
        total += n > 0 ? n : 0;
        if (n < 0)
            port.waitForData(10);
    }
    EXPECT_EQ(total, 6);
    const Bytes frame{0xAA, 0x02, 0x00, 0x1C, 0x1C};
    EXPECT_EQ(port.write(frame.data(), 5), 5);
    EXPECT_EQ(pty.read(5, 1000), frame);

    // The tty path is what the status names when it cannot be opened.
    UsbPort busy((dir.path() / "no-such-libftd2xx.so").string());
    busy.setSysfsRoot(sys.string());
    busy.setDevRoot(dev.string());
    EXPECT_FALSE(busy.open());
    EXPECT_EQ(busy.deviceName(), (dev / "ttyUSB0").string());
    EXPECT_EQ(busy.failureReason(), "Port In Use By Another Program");
}

} // namespace
