#include "coverage/GpkgFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string GpkgFile::folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string GpkgFile::temporaryName(const std::string& path, std::string& error)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folderOf(path) + "/." + name + ".XXXXXX.gpkg";
    const int fd = ::mkstemps(pattern.data(), 5);
    if (fd < 0) {
        error = std::string("cannot create the file: ") + std::strerror(errno);
        return {};
    }
    // Found free, and let go again: GDAL makes only a file that is not there.
    ::close(fd);
    ::unlink(pattern.c_str());
    return pattern;
}

bool GpkgFile::publish(const std::string& file, const std::string& path, std::string& error)
{
    // Never over a map another run made meanwhile: its logs would be lost.
    int failed = ::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (failed == EINVAL || failed == ENOSYS) {
        // A file system without the flag: a second link does the same.
        failed = ::link(file.c_str(), path.c_str()) == 0 ? 0 : errno;
        if (!failed)
            ::unlink(file.c_str());
    }
    if (failed == EEXIST) {
        error = "another run made it meanwhile; run again to add these logs to it";
        return false;
    }
    if (failed) {
        error = std::string("cannot name the file: ") + std::strerror(failed);
        return false;
    }
    return true;
}

void GpkgFile::remove(const std::string& file)
{
    for (const char* side : {"", "-journal", "-wal", "-shm"})
        ::unlink((file + side).c_str());
}

std::string GpkgFile::unwritable(const std::string& path)
{
    if (::access(path.c_str(), W_OK) != 0)
        return std::string("cannot write to it: ") + std::strerror(errno);
    if (::access(folderOf(path).c_str(), W_OK | X_OK) != 0)
        return "cannot write in its folder, where SQLite keeps its journal: " + std::string(std::strerror(errno));
    return {};
}
