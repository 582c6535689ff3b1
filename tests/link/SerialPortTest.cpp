#include "Pty.h"
#include "link/LinkSettings.h"
#include "link/SerialPort.h"

#include <gtest/gtest.h>

#include <thread>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Reads until count bytes arrived (the kernel may hand a pty write over in
// pieces) or a second passed.
Bytes readAll(SerialPort& port, size_t count)
{
    Bytes got;
    uint8_t buffer[LinkTransport::kReadBufferSize];
    for (int pass = 0; pass < 100 && got.size() < count; ++pass) {
        const int16_t n = port.read(buffer);
        if (n > 0)
            got.insert(got.end(), buffer, buffer + n);
        else
            port.waitForData(10);
    }
    return got;
}

TEST(SerialPort, OpensAPtyRawAt38400WithoutFlowControl)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.openPath(pty.slavePath())) << port.failureReason();

    termios tio{};
    ASSERT_EQ(::tcgetattr(port.fd(), &tio), 0);
    EXPECT_EQ(::cfgetispeed(&tio), speed_t(B38400));
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B38400));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST(SerialPort, ReadsWhatIsWaitingAndMinusOneWhenEmpty)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.openPath(pty.slavePath()));

    uint8_t buffer[LinkTransport::kReadBufferSize];
    EXPECT_EQ(port.read(buffer), -1);
    EXPECT_FALSE(port.lost());

    // Bytes a cooked tty would eat or change: NUL, XON/XOFF, CR, ^C.
    const Bytes sent{0xAA, 0x00, 0x11, 0x13, 0x0D, 0x03, 0x0A, 0xFF};
    ASSERT_TRUE(pty.write(sent));
    EXPECT_EQ(readAll(port, sent.size()), sent);
    EXPECT_EQ(port.read(buffer), -1);

    // A burst larger than the buffer comes in buffer-sized reads at most.
    const Bytes burst(3000, 0x5A);
    ASSERT_TRUE(pty.write(burst));
    ASSERT_TRUE(pty.write(burst));
    EXPECT_EQ(readAll(port, 6000).size(), 6000u);
}

TEST(SerialPort, WritesAllBytesOrFails)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    const Bytes frame{0xAA, 0x02, 0x00, 0x1C, 0x1C};
    EXPECT_EQ(port.write(frame.data(), 5), LinkTransport::kWriteFailed); // not open

    ASSERT_TRUE(port.openPath(pty.slavePath()));
    EXPECT_EQ(port.write(frame.data(), 5), 5);
    EXPECT_EQ(pty.read(5, 1000), frame);
}

TEST(SerialPort, SecondOpenOfTheSamePortFails)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.openPath(pty.slavePath()));
    EXPECT_FALSE(second.openPath(pty.slavePath()));
    EXPECT_EQ(second.failureReason(), "Port In Use By Another Program");
    EXPECT_EQ(second.fd(), -1);

    first.close();
    EXPECT_TRUE(second.openPath(pty.slavePath())) << second.failureReason();
}

TEST(SerialPort, ComNumberNamesTtyS)
{
    EXPECT_EQ(SerialPort::comDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(SerialPort::comDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialPort::comName(3), "COM3:");

    LinkSettings settings;
    settings.comPort = 3;
    SerialPort port(&settings);
    port.open(); // may or may not exist here; the name tried is what counts
    EXPECT_EQ(port.deviceName(), "/dev/ttyS2");
    EXPECT_EQ(port.port(), 3);

    Pty pty;
    ASSERT_TRUE(pty.ok());
    settings.setDevicePath(pty.slavePath());
    EXPECT_TRUE(port.open());
    EXPECT_EQ(port.deviceName(), pty.slavePath());
}

TEST(SerialPort, FailedOpenKeepsTheReason)
{
    struct Case
    {
        std::string path;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"/dev/no-such-tavrix-port", "No Such Port"},
        {"/dev/null", "Not A Serial Port"},
    };
    for (const Case& c : cases) {
        SerialPort port;
        EXPECT_FALSE(port.openPath(c.path)) << c.path;
        EXPECT_EQ(port.failureReason(), c.reason) << c.path;
        EXPECT_EQ(port.write(reinterpret_cast<const uint8_t*>("x"), 1), LinkTransport::kWriteFailed);
    }
}

TEST(SerialPort, DialoutHintOnlyForDevicesOfThatGroup)
{
    const group* dialout = ::getgrnam("dialout");
    if (!dialout)
        GTEST_SKIP() << "no dialout group here";
    char path[] = "/tmp/tavrix-perm-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const gid_t other = dialout->gr_gid == 0 ? 1 : 0;
    struct Case
    {
        gid_t group;
        const char* text;
    };
    for (const Case& c : {Case{dialout->gr_gid, "Permission Denied (Add The User To The dialout Group)"},
                          Case{other, "Permission Denied"}}) {
        if (::chown(path, ::getuid(), c.group) != 0) {
            ::unlink(path);
            GTEST_SKIP() << "cannot give a file to group " << c.group << ": " << std::strerror(errno);
        }
        EXPECT_EQ(SerialPort::permissionDeniedText(path), c.text) << c.group;
    }
    EXPECT_EQ(SerialPort::permissionDeniedText("/dev/no-such-tavrix-port"), "Permission Denied");
    ::unlink(path);
}

TEST(SerialPort, ClosingTheOtherEndIsSeenAsLost)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.openPath(pty.slavePath()));
    EXPECT_EQ(port.waitForData(0), LinkTransport::WaitResult::Timeout);

    // Closing a pty master hangs the slave up, which also discards its input.
    pty.closeMaster();
    uint8_t buffer[LinkTransport::kReadBufferSize];
    EXPECT_EQ(port.read(buffer), -1);
    EXPECT_TRUE(port.lost());
}

// The link thread sleeps until a frame can be complete: with VMIN set, bytes
// short of it do not make the line readable, the last one does, and a read
// then takes all of them. A wake descriptor ends the wait at any time.
TEST(SerialPort, WaitEndsOnlyOnceTheThresholdIsInOrOnAWake)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.openPath(pty.slavePath()));
    EXPECT_EQ(port.readThreshold(), 1);
    port.setReadThreshold(12);
    EXPECT_EQ(port.readThreshold(), 12);
    termios tio{};
    ASSERT_EQ(::tcgetattr(port.fd(), &tio), 0);
    EXPECT_EQ(tio.c_cc[VMIN], 12);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    ASSERT_TRUE(pty.write(Bytes(11, 0x42)));
    // poll() pushes pending pty input to the line first, so the 11 bytes are
    // in when it answers.
    EXPECT_EQ(port.waitForData(0), LinkTransport::WaitResult::Timeout);
    int waiting = 0;
    ASSERT_EQ(::ioctl(port.fd(), FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 11);

    const int wake = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    const uint64_t one = 1;
    ASSERT_EQ(::write(wake, &one, sizeof one), ssize_t(sizeof one));
    EXPECT_EQ(port.waitForData(-1, wake), LinkTransport::WaitResult::Timeout);
    uint64_t drained = 0;
    ASSERT_EQ(::read(wake, &drained, sizeof drained), ssize_t(sizeof drained));

    ASSERT_TRUE(pty.write({0x43}));
    EXPECT_EQ(port.waitForData(5000, wake), LinkTransport::WaitResult::Data);
    uint8_t buffer[LinkTransport::kReadBufferSize];
    EXPECT_EQ(port.read(buffer), 12);

    // Clamped to what a tty can count; a reopen starts from 1 again.
    port.setReadThreshold(2049);
    EXPECT_EQ(port.readThreshold(), 255);
    port.setReadThreshold(0);
    EXPECT_EQ(port.readThreshold(), 1);
    port.setReadThreshold(40);
    ASSERT_TRUE(port.openPath(pty.slavePath()));
    ASSERT_EQ(::tcgetattr(port.fd(), &tio), 0);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(port.readThreshold(), 1);
    ::close(wake);
}

} // namespace
