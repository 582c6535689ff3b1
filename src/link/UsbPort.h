#pragma once

#include "link/LinkTransport.h"
#include "link/SerialPort.h"

#include <memory>
#include <string>

// The Tavrix's FTDI USB interface. The vendor's D2XX library
// (libftd2xx.so) is loaded on first use from the system library path, so the
// program runs without it. Without the library, or when it cannot open the
// device (the kernel's ftdi_sio driver may own it), the first FTDI
// USB-serial tty the kernel exposes is opened as a serial port at 38400.
class UsbPort : public LinkTransport
{
public:
    // libraryPath: empty for "libftd2xx.so" from the system library path;
    // tests pass the absolute path of a stand-in library.
    explicit UsbPort(std::string libraryPath = {});
    ~UsbPort() override;
    UsbPort(const UsbPort&) = delete;
    UsbPort& operator=(const UsbPort&) = delete;

    // Where the tty fallback looks; tests point these at a fake tree.
    void setSysfsRoot(std::string root) { m_sysfsRoot = std::move(root); }
    void setDevRoot(std::string root) { m_devRoot = std::move(root); }

    bool open() override;
    void close() override;
    bool isOpen() const override;

    // At most 4 bytes per call through D2XX, as the device interface asks.
    int16_t read(uint8_t* buffer) override;
    uint16_t write(const uint8_t* data, int n) override;
    WaitResult waitForData(int timeoutMs, int wakeFd = -1) override;
    void setReadThreshold(int bytes) override;
    // Through the tty a read takes all that waits; D2XX reads are capped.
    bool shortReadEmptiesQueue() const override { return m_tty.isOpen(); }
    bool lost() const override;

    std::string deviceName() const override;
    std::string failureReason() const override;

    bool libraryLoaded() const;
    bool usingTty() const { return m_tty.isOpen(); }
    // The tty fallback's descriptor while it is open, else -1.
    int ttyFd() const { return m_tty.fd(); }

    // Name of the first tty (sorted, ttyUSB2 before ttyUSB10) whose USB
    // device has vendor id 0403, looked up under sysfsRoot; empty if none.
    static std::string findFtdiTty(const std::string& sysfsRoot);

private:
    struct D2xx;
    bool loadLibrary();
    bool openD2xx();

    std::string m_libraryPath;
    std::string m_sysfsRoot = "/sys";
    std::string m_devRoot = "/dev";
    std::unique_ptr<D2xx> m_lib;
    bool m_loadTried = false;
    void* m_handle = nullptr; // FT_HANDLE of the open device
    bool m_lost = false;
    bool m_ttyTried = false; // the last open went for the tty fallback
    std::string m_d2xxFailure;
    SerialPort m_tty;
};
