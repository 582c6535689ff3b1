#include "FaultInjector.h"

#include "SimBytes.h"

#include <algorithm>

FaultInjector::FaultInjector(const FaultConfig& config) : m_config(config), m_rng(config.seed) {}

std::vector<uint8_t> FaultInjector::noiseBytes(int count)
{
    std::uniform_int_distribution<int> byte(0, 254);
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        const int b = byte(m_rng);
        out.push_back(uint8_t(b >= 0xAA ? b + 1 : b)); // any byte but the sync
    }
    return out;
}

std::vector<OutChunk> FaultInjector::wrap(const SimFrame& frame)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<OutChunk> out;
    if (m_config.noise && chance(m_rng) < 0.3)
        out.push_back({OutChunk::Noise, 0, noiseBytes(std::uniform_int_distribution<int>(1, 16)(m_rng))});
    if (chance(m_rng) < m_config.badLengthRate) {
        static constexpr uint16_t kBadLengths[] = {0x0000, 0x0800, 0x8000, 0xFFFF, 0x0FFF};
        const uint16_t length = kBadLengths[std::uniform_int_distribution<int>(0, 4)(m_rng)];
        OutChunk bad{OutChunk::Fault, frame.type, {FrameEncoder::kSync}};
        SimBytes::appendLe16(bad.bytes, length);
        const std::vector<uint8_t> tail = noiseBytes(std::uniform_int_distribution<int>(0, 4)(m_rng));
        bad.bytes.insert(bad.bytes.end(), tail.begin(), tail.end());
        out.push_back(std::move(bad));
    }
    if (chance(m_rng) < m_config.badChecksumRate) {
        OutChunk bad{OutChunk::Fault, frame.type, frame.bytes};
        bad.bytes.back() ^= uint8_t(std::uniform_int_distribution<int>(1, 255)(m_rng));
        out.push_back(std::move(bad));
    }
    out.push_back({OutChunk::Frame, frame.type, frame.bytes});
    return out;
}

std::size_t FaultInjector::nextWriteSize(std::size_t remaining)
{
    if (!m_config.split)
        return remaining;
    return std::min(remaining, std::size_t(std::uniform_int_distribution<int>(1, 5)(m_rng)));
}

std::chrono::microseconds FaultInjector::nextGap()
{
    if (!m_config.split)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(std::uniform_int_distribution<int>(200, 3000)(m_rng));
}
