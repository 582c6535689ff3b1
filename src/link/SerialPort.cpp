#include "SerialPort.h"

#include "LinkSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kWriteStallMs = 1000; // a line at 38400 that takes no byte for 1 s is gone

std::string titleCase(std::string text)
{
    bool wordStart = true;
    for (char& c : text) {
        if (wordStart && std::isalpha(static_cast<unsigned char>(c)))
            c = char(std::toupper(static_cast<unsigned char>(c)));
        wordStart = std::isspace(static_cast<unsigned char>(c)) != 0;
    }
    return text;
}

} // namespace

SerialPort::SerialPort(const LinkSettings* settings)
    : m_settings(settings)
{
}

SerialPort::~SerialPort()
{
    close();
}

std::string SerialPort::comName(int port)
{
    return "COM" + std::to_string(port) + ":";
}

std::string SerialPort::comDevicePath(int port)
{
    return "/dev/ttyS" + std::to_string(port - 1);
}

bool SerialPort::open()
{
    if (!m_settings) {
        m_openErrno = ENODEV;
        return false;
    }
    std::string path = m_settings->devicePath();
    int port = 0;
    if (path.empty()) {
        port = m_settings->comPort.load();
        path = comDevicePath(port);
    }
    const bool ok = openPath(path);
    m_port = port;
    return ok;
}

bool SerialPort::openPath(const std::string& path)
{
    close();
    m_path = path;
    m_port = 0;

    // Non-blocking for good: a read takes what is waiting, an empty line says
    // EAGAIN (VMIN is never 0) while a hung-up one says 0 or EIO, which is
    // how a lost device shows.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_openErrno = errno;
        return false;
    }
    auto fail = [&] {
        m_openErrno = errno;
        ::close(fd);
        return false;
    };

    // Two programs reading one port would each see half of the stream.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail();
    ::ioctl(fd, TIOCEXCL); // root is exempt, the flock above is not

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return fail();
    ::cfmakeraw(&tio); // NUL bytes and 0x11/0x13 pass through untouched
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL; // CLOCAL: no modem lines, DTR is held off
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return fail();

    // A pseudo-terminal has no modem lines; that is not an error.
    int rts = TIOCM_RTS;
    int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIS, &rts);
    ::ioctl(fd, TIOCMBIC, &dtr);

    m_fd = fd;
    m_termios = tio;
    m_vmin = 1;
    m_openErrno = 0;
    m_lost = false;
    return true;
}

void SerialPort::close()
{
    if (m_fd >= 0) {
        ::ioctl(m_fd, TIOCNXCL);
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
    m_lost = false;
}

// One system call per read at the line rate: asking FIONREAD first would be
// a second one for the same answer.
int16_t SerialPort::read(uint8_t* buffer)
{
    if (m_fd < 0)
        return -1;
    const ssize_t got = ::read(m_fd, buffer, size_t(kReadBufferSize));
    if (got > 0)
        return int16_t(got);
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        m_lost = true;
    return -1;
}

uint16_t SerialPort::write(const uint8_t* data, int n)
{
    if (m_fd < 0 || n < 0 || (n > 0 && !data))
        return kWriteFailed;
    int done = 0;
    while (done < n) {
        const ssize_t put = ::write(m_fd, data + done, size_t(n - done));
        if (put > 0) {
            done += int(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, kWriteStallMs);
            if (r > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                continue;
            if (r < 0 && errno == EINTR)
                continue;
        }
        return kWriteFailed;
    }
    return uint16_t(n);
}

// In raw mode with VTIME 0 the tty reports POLLIN only once VMIN bytes are
// in, so the kernel does the counting and the reader wakes when a frame is
// complete rather than for every few bytes the line brings. A read still
// takes whatever is waiting, fewer than VMIN included (O_NONBLOCK).
void SerialPort::setReadThreshold(int bytes)
{
    const int vmin = std::clamp(bytes, 1, 255);
    if (m_fd < 0 || vmin == m_vmin)
        return;
    // The settings made at open are the ones in force: no need to read them back.
    termios tio = m_termios;
    tio.c_cc[VMIN] = cc_t(vmin);
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(m_fd, TCSANOW, &tio) == 0) {
        m_termios = tio;
        m_vmin = vmin;
    }
}

LinkTransport::WaitResult SerialPort::waitForData(int timeoutMs, int wakeFd)
{
    if (m_fd < 0)
        return WaitResult::Lost;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    const pollfd& p = fds[0];
    if (r == 0 || (r < 0 && errno == EINTR))
        return WaitResult::Timeout;
    // Bytes that arrived before a hang-up are still read; the read after
    // them sees the loss.
    if (p.revents & POLLIN)
        return WaitResult::Data;
    if (r < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        m_lost = true;
        return WaitResult::Lost;
    }
    return WaitResult::Timeout;
}

// The dialout hint helps only where that group owns the device; on a
// pseudo-terminal or a device of another group it would send the user the
// wrong way.
std::string SerialPort::permissionDeniedText(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        group buffer{};
        group* found = nullptr;
        char names[4096];
        if (::getgrgid_r(st.st_gid, &buffer, names, sizeof names, &found) == 0 && found
            && std::strcmp(found->gr_name, "dialout") == 0)
            return "Permission Denied (Add The User To The dialout Group)";
    }
    return "Permission Denied";
}

std::string SerialPort::failureReason() const
{
    switch (m_openErrno) {
    case 0:
        return {};
    case EACCES:
    case EPERM:
        return permissionDeniedText(m_path);
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "No Such Port";
    case EBUSY:
    case EWOULDBLOCK:
        return "Port In Use By Another Program";
    case ENOTTY:
        return "Not A Serial Port";
    default:
        return titleCase(std::strerror(m_openErrno));
    }
}
