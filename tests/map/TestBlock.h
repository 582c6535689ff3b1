#pragma once

#include "gps/MapBlock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

// A block as a logger creates it.
class TestBlock
{
public:
    explicit TestBlock(std::string name)
        : m_name(std::move(name))
    {
        create();
    }
    ~TestBlock()
    {
        unmap();
        shm_unlink(m_name.c_str());
    }

    void create()
    {
        const int fd = shm_open(m_name.c_str(), O_RDWR | O_CREAT, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, MapBlock::kSize), 0);
        void* p = mmap(nullptr, MapBlock::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        EXPECT_NE(p, MAP_FAILED);
        m_data = static_cast<uint8_t*>(p);
    }
    void unmap()
    {
        if (m_data)
            munmap(m_data, MapBlock::kSize);
        m_data = nullptr;
    }
    // A restarted logger that removed the block at exit makes a new one.
    void replace()
    {
        unmap();
        shm_unlink(m_name.c_str());
        create();
    }

    void write(double lat, double lon, int rssi, const char* serial = "AB123456", int min = -120, int max = -50)
    {
        MapBlock::write(m_data, {lat, lon, int16_t(rssi), int16_t(min), int16_t(max), serial});
    }
    void setCounter(uint32_t value) { std::memcpy(m_data + MapBlock::kSequence, &value, 4); }
    const std::string& name() const { return m_name; }
    uint8_t* data() { return m_data; }

private:
    std::string m_name;
    uint8_t* m_data = nullptr;
};

