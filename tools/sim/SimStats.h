#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the emulator did, for people watching and for tests steering it.
class SimStats
{
public:
    void frameSent(uint8_t type, std::size_t bytes);
    void faultSent(std::size_t bytes);
    void noiseSent(std::size_t bytes);
    void frameDropped() { ++m_dropped; }
    void requestReceived(uint8_t type, const std::vector<uint8_t>& frame);
    void plugged() { ++m_plugs; }
    void connected() { ++m_connects; }
    // From a measurement frame's last byte written to the program's request
    // for channel information read back, in microseconds.
    void roundTrip(double micros);

    int framesSent() const { return m_framesSent; }
    int framesSent(uint8_t type) const;
    int measurementFramesSent() const { return m_measurementFrames; }
    const std::vector<uint8_t>& requestList() const { return m_requests; }

    // state: a few words on what the emulator is doing (mode, GPS, link).
    std::string toJson(const std::map<std::string, std::string>& state) const;
    // Written beside the target and renamed over it, so readers never see half a file.
    bool writeFile(const std::string& path, const std::map<std::string, std::string>& state) const;

private:
    std::map<uint8_t, int> m_sentByType;
    std::map<uint8_t, int> m_requestsByType;
    std::vector<uint8_t> m_requests;
    std::string m_firstRequest;
    int m_framesSent = 0;
    int m_measurementFrames = 0;
    uint64_t m_bytes = 0;
    int m_faultFrames = 0;
    uint64_t m_noiseBytes = 0;
    int m_dropped = 0;
    int m_plugs = 0;
    int m_connects = 0;
    std::vector<double> m_roundTrips;
};
