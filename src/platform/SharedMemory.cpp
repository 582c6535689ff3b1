#include "SharedMemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string withSlash(const std::string& name)
{
    return name.empty() || name.front() != '/' ? "/" + name : name;
}

} // namespace

SharedMemory::SharedMemory(std::string name, std::size_t size)
    : m_name(withSlash(name))
    , m_size(size)
{
}

SharedMemory::~SharedMemory()
{
    if (m_data)
        munmap(m_data, m_size);
}

bool SharedMemory::open()
{
    if (m_data)
        return true;

    m_ownedByOther = false;
    bool created = true;
    int fd = shm_open(m_name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = shm_open(m_name.c_str(), O_RDWR, 0600);
    }
    if (fd < 0)
        return false;

    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && st.st_uid != geteuid()) {
        m_ownedByOther = true;
        ok = false;
    }
    // The umask may have narrowed the mode, and an existing block may allow
    // others: owner read-write and nothing else.
    if (ok && (st.st_mode & 0777) != 0600)
        ok = fchmod(fd, 0600) == 0;
    // Never shrink a block someone else made larger; a new block is zero-filled.
    if (ok && static_cast<std::size_t>(st.st_size) < m_size)
        ok = ftruncate(fd, static_cast<off_t>(m_size)) == 0;

    void* p = MAP_FAILED;
    if (ok)
        p = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd); // the mapping keeps the object alive
    if (p == MAP_FAILED) {
        if (created)
            shm_unlink(m_name.c_str());
        return false;
    }
    m_data = static_cast<uint8_t*>(p);
    m_created = created;
    return true;
}

bool SharedMemory::clearLeftover(const std::string& name, std::size_t size)
{
    const int fd = shm_open(withSlash(name).c_str(), O_RDWR, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && st.st_uid == geteuid() && st.st_size > 0;
    void* p = MAP_FAILED;
    const std::size_t n = ok ? std::min(size, static_cast<std::size_t>(st.st_size)) : 0;
    if (ok)
        p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return false;
    std::memset(p, 0, n);
    munmap(p, n);
    return true;
}

bool SharedMemory::unlink(const std::string& name)
{
    return shm_unlink(withSlash(name).c_str()) == 0;
}
