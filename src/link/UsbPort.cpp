#include "UsbPort.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <vector>

#include <dlfcn.h>
#include <poll.h>

namespace fs = std::filesystem;

namespace {

// The few D2XX entry points used, declared from their documented behaviour.
// Counts the library writes back (DWORD) are 32-bit on some builds and 64-bit
// on others; they are received in zeroed 64-bit cells, whose low half is the
// value either way on a little-endian machine.
using FtStatus = unsigned long;
using FtHandle = void*;
constexpr FtStatus kFtOk = 0;
constexpr unsigned long kFtListNumberOnly = 0x80000000UL;
constexpr unsigned long kFtListByIndex = 0x40000000UL;
constexpr unsigned long kFtOpenBySerialNumber = 1;
constexpr unsigned long kBaudRate = 38400;
constexpr unsigned long kMaxReadPerCall = 4;
constexpr int kD2xxPauseMs = 10;

using FtListDevices = FtStatus (*)(void* arg1, void* arg2, unsigned long flags);
using FtOpen = FtStatus (*)(int deviceNumber, FtHandle* handle);
using FtSetBaudRate = FtStatus (*)(FtHandle handle, unsigned long baud);
using FtGetStatus = FtStatus (*)(FtHandle handle, void* rxBytes, void* txBytes, void* eventDword);
using FtRead = FtStatus (*)(FtHandle handle, void* buffer, unsigned long toRead, void* returned);
using FtWrite = FtStatus (*)(FtHandle handle, void* buffer, unsigned long toWrite, void* written);
using FtClose = FtStatus (*)(FtHandle handle);

constexpr const char* kSystemLibrary = "libftd2xx.so";

uint32_t low32(uint64_t cell)
{
    return uint32_t(cell & 0xFFFFFFFFu);
}

// Splits "ttyUSB12" into ("ttyUSB", 12) so ports sort in number order.
std::pair<std::string, long> ttyOrderKey(const std::string& name)
{
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    const std::string number = name.substr(digits);
    return {name.substr(0, digits), number.empty() ? -1 : std::stol(number.substr(0, 9))};
}

std::string readTrimmed(const fs::path& file)
{
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

} // namespace

struct UsbPort::D2xx
{
    void* library = nullptr;
    FtListDevices listDevices = nullptr;
    FtOpen open = nullptr;
    FtSetBaudRate setBaudRate = nullptr;
    FtGetStatus getStatus = nullptr;
    FtRead read = nullptr;
    FtWrite write = nullptr;
    FtClose close = nullptr; // optional: only needed to reopen after a loss

    ~D2xx()
    {
        if (library)
            ::dlclose(library);
    }
};

UsbPort::UsbPort(std::string libraryPath)
    : m_libraryPath(std::move(libraryPath))
{
}

UsbPort::~UsbPort()
{
    close();
}

bool UsbPort::loadLibrary()
{
    if (m_loadTried)
        return m_lib != nullptr;
    m_loadTried = true;

    // A bare name is looked up only in the system library path, never in the
    // current folder.
    const char* name = m_libraryPath.empty() ? kSystemLibrary : m_libraryPath.c_str();
    void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return false;
    auto lib = std::make_unique<D2xx>();
    lib->library = library;
    lib->listDevices = reinterpret_cast<FtListDevices>(::dlsym(library, "FT_ListDevices"));
    lib->open = reinterpret_cast<FtOpen>(::dlsym(library, "FT_Open"));
    lib->setBaudRate = reinterpret_cast<FtSetBaudRate>(::dlsym(library, "FT_SetBaudRate"));
    lib->getStatus = reinterpret_cast<FtGetStatus>(::dlsym(library, "FT_GetStatus"));
    lib->read = reinterpret_cast<FtRead>(::dlsym(library, "FT_Read"));
    lib->write = reinterpret_cast<FtWrite>(::dlsym(library, "FT_Write"));
    lib->close = reinterpret_cast<FtClose>(::dlsym(library, "FT_Close"));
    if (!lib->listDevices || !lib->open || !lib->setBaudRate || !lib->getStatus || !lib->read || !lib->write)
        return false; // not a usable D2XX; lib's destructor unloads it
    m_lib = std::move(lib);
    return true;
}

bool UsbPort::libraryLoaded() const
{
    return m_lib != nullptr;
}

bool UsbPort::openD2xx()
{
    uint64_t devices = 0;
    if (m_lib->listDevices(&devices, nullptr, kFtListNumberOnly) != kFtOk || low32(devices) == 0) {
        m_d2xxFailure = "No FTDI Device Found";
        return false;
    }

    // The first device is used whatever its serial number says; asking for
    // it only tells whether the device answers.
    char serial[64] = {};
    if (m_lib->listDevices(reinterpret_cast<void*>(uintptr_t(0)), serial, kFtListByIndex | kFtOpenBySerialNumber) != kFtOk) {
        m_d2xxFailure = "FTDI Device Not Responding";
        return false;
    }

    FtHandle handle = nullptr;
    if (m_lib->open(0, &handle) != kFtOk || !handle) {
        m_d2xxFailure = "FTDI Device In Use Or Not Accessible";
        return false;
    }
    if (m_lib->setBaudRate(handle, kBaudRate) != kFtOk) {
        if (m_lib->close)
            m_lib->close(handle);
        m_d2xxFailure = "FTDI Device Not Responding";
        return false;
    }
    m_handle = handle;
    m_lost = false;
    return true;
}

bool UsbPort::open()
{
    close();
    m_ttyTried = false;
    m_d2xxFailure = "No FTDI Device Found";
    if (loadLibrary() && openD2xx())
        return true;

    const std::string tty = findFtdiTty(m_sysfsRoot);
    if (tty.empty())
        return false;
    m_ttyTried = true;
    return m_tty.openPath((fs::path(m_devRoot) / tty).string());
}

void UsbPort::close()
{
    if (m_handle) {
        if (m_lib && m_lib->close)
            m_lib->close(m_handle);
        m_handle = nullptr;
    }
    m_tty.close();
    m_lost = false;
}

bool UsbPort::isOpen() const
{
    return m_handle != nullptr || m_tty.isOpen();
}

int16_t UsbPort::read(uint8_t* buffer)
{
    if (m_tty.isOpen())
        return m_tty.read(buffer);
    if (!m_handle)
        return -1;
    uint64_t queued = 0, tx = 0, events = 0;
    if (m_lib->getStatus(m_handle, &queued, &tx, &events) != kFtOk) {
        m_lost = true; // the library's way of saying the device was unplugged
        return -1;
    }
    if (low32(queued) == 0)
        return -1;
    const unsigned long want = std::min<unsigned long>(low32(queued), kMaxReadPerCall);
    uint64_t got = 0;
    if (m_lib->read(m_handle, buffer, want, &got) != kFtOk) {
        m_lost = true;
        return -1;
    }
    const uint32_t n = std::min<uint32_t>(low32(got), uint32_t(want));
    return n > 0 ? int16_t(n) : int16_t(-1);
}

uint16_t UsbPort::write(const uint8_t* data, int n)
{
    if (m_tty.isOpen())
        return m_tty.write(data, n);
    if (!m_handle || n < 0 || (n > 0 && !data))
        return kWriteFailed;
    uint64_t written = 0;
    if (m_lib->write(m_handle, const_cast<uint8_t*>(data), static_cast<unsigned long>(n), &written) != kFtOk)
        return kWriteFailed;
    // A short write is returned as it is; the caller compares it with n.
    return uint16_t(std::min<uint32_t>(low32(written), uint32_t(n)));
}

LinkTransport::WaitResult UsbPort::waitForData(int timeoutMs, int wakeFd)
{
    if (m_tty.isOpen())
        return m_tty.waitForData(timeoutMs, wakeFd);
    if (!m_handle)
        return WaitResult::Lost;
    // D2XX offers no descriptor to poll: pause, then read again. The device
    // itself holds bytes back for its 16 ms latency timer, so a shorter
    // pause would gain nothing. wakeFd still ends the pause at once.
    const int pauseMs = timeoutMs < 0 ? kD2xxPauseMs : std::min(timeoutMs, kD2xxPauseMs);
    pollfd p{wakeFd, POLLIN, 0};
    if (::poll(&p, wakeFd >= 0 ? 1 : 0, pauseMs) > 0)
        return WaitResult::Timeout;
    return WaitResult::Data;
}

void UsbPort::setReadThreshold(int bytes)
{
    m_tty.setReadThreshold(bytes);
}

bool UsbPort::lost() const
{
    return m_lost || m_tty.lost();
}

std::string UsbPort::deviceName() const
{
    if (m_ttyTried)
        return m_tty.deviceName();
    return "USB";
}

std::string UsbPort::failureReason() const
{
    if (m_ttyTried && !m_tty.isOpen())
        return m_tty.failureReason();
    return m_d2xxFailure;
}

std::string UsbPort::findFtdiTty(const std::string& sysfsRoot)
{
    std::error_code ec;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class" / "tty", ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return ttyOrderKey(a) < ttyOrderKey(b); });

    for (const std::string& name : names) {
        const fs::path device = fs::path(sysfsRoot) / "class" / "tty" / name / "device";
        fs::path dir = fs::canonical(device, ec);
        if (ec)
            continue; // no device link: a virtual terminal or a pty
        // The USB device that owns the tty sits a level or two above it:
        // ttyUSB -> port -> interface -> device, ttyACM -> interface -> device.
        for (int up = 0; up < 4 && dir.has_relative_path(); ++up, dir = dir.parent_path()) {
            const fs::path vendorFile = dir / "idVendor";
            if (!fs::exists(vendorFile, ec))
                continue;
            if (readTrimmed(vendorFile) == "0403")
                return name;
            break;
        }
    }
    return {};
}
