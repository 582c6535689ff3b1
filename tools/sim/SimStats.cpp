#include "SimStats.h"

#include "platform/TextEscape.h"

#include "DeviceMessages.h"
#include "MessageTypes.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty())
            out += ' ';
        out += buf;
    }
    return out;
}

} // namespace

void SimStats::frameSent(uint8_t type, std::size_t bytes)
{
    ++m_sentByType[type];
    ++m_framesSent;
    if (sim::carriesRssi(type))
        ++m_measurementFrames;
    m_bytes += bytes;
}

void SimStats::faultSent(std::size_t bytes)
{
    ++m_faultFrames;
    m_bytes += bytes;
}

void SimStats::noiseSent(std::size_t bytes)
{
    m_noiseBytes += bytes;
    m_bytes += bytes;
}

void SimStats::requestReceived(uint8_t type, const std::vector<uint8_t>& frame)
{
    if (m_requests.empty())
        m_firstRequest = hexBytes(frame);
    m_requests.push_back(type);
    ++m_requestsByType[type];
}

void SimStats::roundTrip(double micros)
{
    if (m_roundTrips.size() < 1000000)
        m_roundTrips.push_back(micros);
}

int SimStats::framesSent(uint8_t type) const
{
    const auto it = m_sentByType.find(type);
    return it == m_sentByType.end() ? 0 : it->second;
}

std::string SimStats::toJson(const std::map<std::string, std::string>& state) const
{
    std::ostringstream o;
    o << "{\n  \"sent\": {";
    const char* sep = "";
    for (const auto& [type, n] : m_sentByType) {
        o << sep << "\"" << DeviceMessages::typeName(type) << "\": " << n;
        sep = ", ";
    }
    o << "},\n  \"framesSent\": " << m_framesSent << ",\n  \"measurementFramesSent\": " << m_measurementFrames
      << ",\n  \"bytes\": " << m_bytes << ",\n  \"faultFrames\": " << m_faultFrames
      << ",\n  \"noiseBytes\": " << m_noiseBytes << ",\n  \"droppedFrames\": " << m_dropped
      << ",\n  \"requests\": {";
    sep = "";
    for (const auto& [type, n] : m_requestsByType) {
        o << sep << "\"" << DeviceMessages::commandName(type) << "\": " << n;
        sep = ", ";
    }
    o << "},\n  \"requestList\": [";
    sep = "";
    for (uint8_t type : m_requests) {
        o << sep << int(type);
        sep = ", ";
    }
    o << "],\n  \"firstRequest\": \"" << m_firstRequest << "\",\n  \"plugs\": " << m_plugs
      << ",\n  \"connects\": " << m_connects;
    if (!m_roundTrips.empty()) {
        std::vector<double> sorted = m_roundTrips;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double p) { return sorted[std::size_t(p * double(sorted.size() - 1) + 0.5)]; };
        o << ",\n  \"roundTripUs\": {\"count\": " << sorted.size() << ", \"median\": " << at(0.5)
          << ", \"p99\": " << at(0.99) << ", \"max\": " << sorted.back() << "}";
    }
    // The port is whatever path the user gave: escaped like any outside text.
    for (const auto& [key, value] : state)
        o << ",\n  " << TextEscape::json(key) << ": " << TextEscape::json(value);
    o << "\n}\n";
    return o.str();
}

bool SimStats::writeFile(const std::string& path, const std::map<std::string, std::string>& state) const
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out)
            return false;
        out << toJson(state);
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}
