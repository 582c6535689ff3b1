#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A named block of POSIX shared memory that other processes find by name
// (shm_open). Created with mode 0600, so that only this user's processes can
// read it. A block that exists already is used only when this user owns it,
// and its mode is then set to 0600: one another local user made, perhaps
// readable by all, would hand them what is written into it. The name is not
// unlinked on destruction: the owner decides when the block goes.
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
    // The last open() found the name held by a block of another user.
    bool ownedByOther() const { return m_ownedByOther; }

    static bool unlink(const std::string& name);
    // Zeroes the first size bytes of an existing block of this user, such as
    // one an earlier run left behind; false when there is none to clear.
    static bool clearLeftover(const std::string& name, std::size_t size);

private:
    std::string m_name; // with the leading '/'
    std::size_t m_size;
    uint8_t* m_data = nullptr;
    bool m_created = false;
    bool m_ownedByOther = false;
};
