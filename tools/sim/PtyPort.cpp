#include "PtyPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

bool makeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

PtyPort::~PtyPort()
{
    close();
}

bool PtyPort::openPty(const std::string& linkPath, std::string& error)
{
    unplug();
    m_linkPath = linkPath;
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText("posix_openpt");
        return false;
    }
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
        error = errnoText("grantpt/unlockpt");
        ::close(fd);
        return false;
    }
    char name[128] = {};
    if (ptsname_r(fd, name, sizeof name) != 0) {
        error = errnoText("ptsname");
        ::close(fd);
        return false;
    }
    // Raw before the program can open it: with the default cooked settings
    // the line discipline would echo our frames back and translate bytes.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !makeRaw(slave)) {
        error = errnoText(std::string("configuring ") + name);
        if (slave >= 0)
            ::close(slave);
        ::close(fd);
        return false;
    }
    ::close(slave);
    m_fd = fd;
    m_pty = true;
    m_slavePath = name;
    return m_linkPath.empty() || pointLink(error);
}

bool PtyPort::pointLink(std::string& error)
{
    struct stat st{};
    if (lstat(m_linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = m_linkPath + " exists and is not a symlink; not replacing it";
        return false;
    }
    // Make the new link beside the old one and rename it over, so the path
    // never goes missing for a program that retries opening it.
    const std::string temp = m_linkPath + ".tavrix-sim-new";
    ::unlink(temp.c_str());
    if (::symlink(m_slavePath.c_str(), temp.c_str()) != 0) {
        error = errnoText("symlink " + m_linkPath);
        return false;
    }
    if (::rename(temp.c_str(), m_linkPath.c_str()) != 0) {
        error = errnoText("rename " + m_linkPath);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool PtyPort::openDevice(const std::string& path, std::string& error)
{
    close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText(path);
        return false;
    }
    if (!makeRaw(fd)) {
        error = errnoText("configuring " + path);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_pty = false;
    m_slavePath = path;
    return true;
}

void PtyPort::unplug()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool PtyPort::replug(std::string& error)
{
    if (!m_pty)
        return openDevice(m_slavePath, error);
    const std::string link = m_linkPath;
    return openPty(link, error);
}

void PtyPort::close()
{
    unplug();
    if (m_pty && !m_linkPath.empty()) {
        // Only remove the link if it is still ours.
        char target[256] = {};
        const ssize_t n = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && m_slavePath == std::string(target, std::size_t(n)))
            ::unlink(m_linkPath.c_str());
    }
    m_pty = false;
}

bool PtyPort::listening() const
{
    if (m_fd < 0)
        return false;
    if (!m_pty)
        return true;
    pollfd p{m_fd, 0, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

ssize_t PtyPort::write(const uint8_t* data, std::size_t n)
{
    const ssize_t w = ::write(m_fd, data, n);
    if (w >= 0)
        return w;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

ssize_t PtyPort::read(uint8_t* data, std::size_t n)
{
    const ssize_t r = ::read(m_fd, data, n);
    if (r > 0)
        return r;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

void PtyPort::drain(int timeoutMs)
{
    if (m_fd < 0)
        return;
    if (!m_pty) {
        tcdrain(m_fd);
        return;
    }
    if (!listening())
        return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The slave's input queue is what the program has yet to read; a second
    // descriptor on the slave can see it without taking any of it. It only
    // counts the line discipline's 4 KB, while up to some 14 KB more may sit
    // in the kernel's flip buffers waiting to move in, so the queue must stay
    // empty for a while before the line counts as drained.
    const int probe = ::open(m_slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) {
        // The program holds the line exclusively (only root may still open
        // it); give the program time to read the kernel's buffers instead.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 2000)));
        return;
    }
    constexpr auto kQuiet = std::chrono::milliseconds(250);
    auto emptySince = Clock::now();
    int waiting = 0;
    while (Clock::now() < deadline && Clock::now() - emptySince < kQuiet) {
        if (::ioctl(probe, FIONREAD, &waiting) != 0)
            break;
        if (waiting > 0)
            emptySince = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(probe);
}
