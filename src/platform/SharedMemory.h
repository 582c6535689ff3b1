#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A named block of POSIX shared memory that other processes find by name
// (shm_open). Created with mode 0600, so that only this user's processes can
// read it; a block another process of the same user created first is opened
// and used as it is. The name is not unlinked on destruction: a reader may
// still hold it, and the next run of the program reuses it.
class SharedMemory
{
public:
    SharedMemory(std::string name, std::size_t size); // name with or without the leading '/'
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates or opens the block and maps it read-write. Returns false, and
    // leaves nothing mapped, on any failure; it may be called again later.
    bool open();

    bool isMapped() const { return m_data != nullptr; }
    uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    const std::string& name() const { return m_name; }
    bool created() const { return m_created; } // this object made the block

    static bool unlink(const std::string& name);

private:
    std::string m_name; // with the leading '/'
    std::size_t m_size;
    uint8_t* m_data = nullptr;
    bool m_created = false;
};
