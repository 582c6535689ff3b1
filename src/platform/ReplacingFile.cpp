#include "platform/ReplacingFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What fopen(path, "w") would have given a new file.
mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

ReplacingFile::ReplacingFile(std::string target) : m_target(std::move(target)), m_destination(m_target) {}

ReplacingFile::~ReplacingFile()
{
    discard();
}

bool ReplacingFile::open(std::string& error)
{
    discard();
    mode_t mode = newFileMode();
    struct stat st{};
    if (::stat(m_target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            m_stream = std::fopen(m_target.c_str(), "wb");
            if (!m_stream)
                error = "cannot create " + m_target + ": " + std::strerror(errno);
            return m_stream != nullptr;
        }
        mode = st.st_mode & 07777;
        char resolved[PATH_MAX];
        if (::realpath(m_target.c_str(), resolved))
            m_destination = resolved;
    }

    std::string pattern = folderOf(m_destination) + "/." + nameOf(m_destination) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create " + m_target + ": " + std::strerror(errno);
        return false;
    }
    m_temporary = name.data();
    ::fchmod(fd, mode);
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
        error = "cannot create " + m_target + ": " + std::strerror(errno);
        ::close(fd);
        discard();
        return false;
    }
    return true;
}

bool ReplacingFile::commit(std::string& error)
{
    if (!m_stream) {
        error = "writing " + m_target + " failed: not open";
        return false;
    }
    const bool inPlace = m_temporary.empty();
    bool ok = std::fflush(m_stream) == 0 && !std::ferror(m_stream);
    int why = errno;
    // Data before name: after a power loss the target is the old file or the whole new one.
    if (ok && !inPlace && ::fsync(fileno(m_stream)) != 0) {
        ok = false;
        why = errno;
    }
    if (std::fclose(m_stream) != 0 && ok) {
        ok = false;
        why = errno;
    }
    m_stream = nullptr;
    if (ok && !inPlace && std::rename(m_temporary.c_str(), m_destination.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        error = "writing " + m_target + " failed: " + std::strerror(why ? why : EIO);
        discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void ReplacingFile::discard()
{
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}
