// A stand-in for the vendor's D2XX library, built as libftd2xx.so for the
// tests: a number of pretend devices, a receive queue the test fills and a
// record of what was written. The test reaches the control functions through
// dlsym on the same library the port under test loaded.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Status = unsigned long;
using Dword = uint32_t; // deliberately 32-bit: the port must cope with either width
constexpr Status kOk = 0;
constexpr Status kInvalidHandle = 1;
constexpr Status kDeviceNotFound = 2;
constexpr Status kIoError = 4;

struct Fake
{
    std::mutex mutex;
    std::vector<std::string> serials;
    std::deque<uint8_t> rx;
    std::vector<uint8_t> tx;
    int openedIndex = -1;
    unsigned long baud = 0;
    bool unplugged = false;
    int handleToken = 0;
};

Fake& fake()
{
    static Fake f;
    return f;
}

bool validHandle(void* handle)
{
    return handle == &fake().handleToken && fake().openedIndex >= 0;
}

} // namespace

extern "C" {

// ---- control, for the tests ----
void fakeFtReset()
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    f.serials.clear();
    f.rx.clear();
    f.tx.clear();
    f.openedIndex = -1;
    f.baud = 0;
    f.unplugged = false;
}

void fakeFtAddDevice(const char* serial)
{
    std::lock_guard lock(fake().mutex);
    fake().serials.emplace_back(serial);
}

void fakeFtQueue(const uint8_t* data, size_t n)
{
    std::lock_guard lock(fake().mutex);
    fake().rx.insert(fake().rx.end(), data, data + n);
}

size_t fakeFtWritten(uint8_t* out, size_t max)
{
    std::lock_guard lock(fake().mutex);
    const size_t n = std::min(max, fake().tx.size());
    std::copy_n(fake().tx.begin(), n, out);
    return fake().tx.size();
}

int fakeFtOpenedIndex()
{
    return fake().openedIndex;
}

unsigned long fakeFtBaud()
{
    return fake().baud;
}

void fakeFtUnplug()
{
    fake().unplugged = true;
}

// ---- the D2XX entry points ----
Status FT_ListDevices(void* arg1, void* arg2, unsigned long flags)
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (flags & 0x80000000UL) { // number only
        *static_cast<Dword*>(arg1) = Dword(f.serials.size());
        return kOk;
    }
    const size_t index = size_t(reinterpret_cast<uintptr_t>(arg1));
    if (!(flags & 0x40000000UL) || index >= f.serials.size())
        return kDeviceNotFound;
    std::strncpy(static_cast<char*>(arg2), f.serials[index].c_str(), 63);
    return kOk;
}

Status FT_Open(int deviceNumber, void** handle)
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (deviceNumber < 0 || size_t(deviceNumber) >= f.serials.size())
        return kDeviceNotFound;
    f.openedIndex = deviceNumber;
    *handle = &f.handleToken;
    return kOk;
}

Status FT_Close(void* handle)
{
    if (!validHandle(handle))
        return kInvalidHandle;
    fake().openedIndex = -1;
    return kOk;
}

Status FT_SetBaudRate(void* handle, unsigned long baud)
{
    if (!validHandle(handle))
        return kInvalidHandle;
    fake().baud = baud;
    return kOk;
}

Status FT_GetStatus(void* handle, Dword* rx, Dword* tx, Dword* events)
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (!validHandle(handle))
        return kInvalidHandle;
    if (f.unplugged)
        return kIoError;
    *rx = Dword(f.rx.size());
    *tx = 0;
    *events = 0;
    return kOk;
}

Status FT_Read(void* handle, void* buffer, Dword toRead, Dword* returned)
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (!validHandle(handle))
        return kInvalidHandle;
    const size_t n = std::min<size_t>(toRead, f.rx.size());
    std::copy_n(f.rx.begin(), n, static_cast<uint8_t*>(buffer));
    f.rx.erase(f.rx.begin(), f.rx.begin() + long(n));
    *returned = Dword(n);
    return kOk;
}

Status FT_Write(void* handle, void* buffer, Dword toWrite, Dword* written)
{
    Fake& f = fake();
    std::lock_guard lock(f.mutex);
    if (!validHandle(handle))
        return kInvalidHandle;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    f.tx.insert(f.tx.end(), p, p + toWrite);
    *written = toWrite;
    return kOk;
}

} // extern "C"
