#include "DeviceModel.h"

#include "MessageTypes.h"

#include <algorithm>
#include <cmath>
#include <random>

DeviceModel::DeviceModel(const DeviceConfig& config)
    : m_config(config),
      m_positions(int(std::max<int64_t>(1, int64_t(config.band.highEdge) - config.band.lowEdge + 1))),
      m_mode(config.mode),
      m_field(m_positions, config.seed),
      m_route(config.seed + 1)
{
    for (int r = 0; r < 2; ++r)
        if (m_config.activeFlags & (1 << r))
            m_active.push_back(r);
    if (m_active.empty())
        m_active.push_back(0);

    // Receiver 1 watches the strong carriers first, then spreads over the
    // band; receiver 2 takes the band in even steps, offset by half a step.
    const std::vector<int> strong = m_field.strongPositions(0.0);
    for (int k = 0; k < kSlots; ++k) {
        const int spread = 1 + int(int64_t(k) * (m_positions - 1) / kSlots);
        m_scanPositions[0][k] = k < int(strong.size()) ? strong[k] : spread;
        m_scanPositions[1][k] = std::min(m_positions, spread + (m_positions - 1) / (2 * kSlots));
    }
    m_singlePosition[0] = strong.empty() ? 1 : strong[0];
    m_singlePosition[1] = strong.size() > 1 ? strong[1] : 1;
}

int DeviceModel::tableIndexOf(int position) const
{
    int channel = position;
    if (m_config.band.numbering991)
        channel = position <= 34 ? position + 990 : position - 34;
    return channel - 1;
}

SimFrame DeviceModel::receiverSetup() const
{
    return DeviceMessages::receiverSetup(m_config.activeFlags, m_config.band, m_config.band);
}

std::vector<SimFrame> DeviceModel::channelInformation() const
{
    std::array<std::array<uint32_t, kSlots>, 2> slots{};
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < kSlots; ++k)
            slots[r][k] = valueOf(m_scanPositions[r][k]);
    std::array<uint32_t, 2> current{};
    for (int r = 0; r < 2; ++r) {
        switch (m_mode) {
        case MeasurementMode::Single: current[r] = valueOf(m_singlePosition[r]); break;
        case MeasurementMode::Scan: current[r] = slots[r][0]; break;
        case MeasurementMode::Table: current[r] = m_config.band.lowEdge; break;
        }
    }
    return {DeviceMessages::scanChannelList(slots[0], slots[1]),
            DeviceMessages::currentFrequency(current[0], current[1])};
}

std::vector<SimFrame> DeviceModel::answer(uint8_t command) const
{
    switch (command) {
    case sim::SerialNumberRequest: return {DeviceMessages::serialNumber(m_config.serial)};
    case sim::SettingsRequest: return {receiverSetup()};
    case sim::ChannelInfoRequest:
        if (m_config.withholdChannelInfo)
            return {};
        return channelInformation();
    default: return {};
    }
}

std::vector<SimFrame> DeviceModel::startMeasurement(MeasurementMode mode, double t)
{
    m_mode = mode;
    m_modeStart = t;
    m_scanCursor = 0;
    m_scanSweep = 0;
    m_tableCursor = {1, 1};
    m_receiverTurn = 0;
    if (m_config.withholdChannelInfo)
        return {};
    return channelInformation();
}

void DeviceModel::setCycle(bool cycle, double t)
{
    m_config.cycle = cycle;
    m_modeStart = t;
}

std::vector<SimFrame> DeviceModel::advance(double t)
{
    if (!m_config.cycle || t - m_modeStart < m_config.cycleSeconds)
        return {};
    const MeasurementMode next = m_mode == MeasurementMode::Single ? MeasurementMode::Scan
                                 : m_mode == MeasurementMode::Scan ? MeasurementMode::Table
                                                                   : MeasurementMode::Single;
    // Keep the cadence: a late call does not shift later switches.
    const double start = t - std::fmod(t - m_modeStart, m_config.cycleSeconds);
    std::vector<SimFrame> frames = startMeasurement(next, t);
    m_modeStart = start;
    return frames;
}

int8_t DeviceModel::patternLevel(int sweep, int receiver, int slot)
{
    return int8_t(-120 + (13 * sweep + 29 * slot + 41 * receiver) % 91);
}

int DeviceModel::nextReceiver()
{
    const int r = m_active[std::size_t(m_receiverTurn) % m_active.size()];
    ++m_receiverTurn;
    return r;
}

SimFrame DeviceModel::nextMeasurement(double t)
{
    switch (m_mode) {
    case MeasurementMode::Single: {
        const int r = nextReceiver();
        std::vector<int8_t> samples;
        // Blocks vary around the nominal size, as the device's do.
        const int n = std::max(1, m_config.singleBlockSize + (m_receiverTurn % 3) - 1);
        for (int i = 0; i < n; ++i)
            samples.push_back(m_field.at(m_singlePosition[r], t));
        return DeviceMessages::singleBlock(r, samples);
    }
    case MeasurementMode::Scan: {
        const int sweep = int(m_active.size()) * kSlots;
        std::vector<ScanEntry> entries;
        for (std::size_t i = 0; i < DeviceMessages::kScanEntries; ++i) {
            const int r = m_active[std::size_t(m_scanCursor / kSlots)];
            const int slot = m_scanCursor % kSlots;
            const int8_t level = m_config.pattern ? patternLevel(m_scanSweep, r, slot)
                                                  : m_field.at(m_scanPositions[r][slot], t);
            entries.push_back({uint8_t(r), uint8_t(slot), level});
            m_scanCursor = (m_scanCursor + 1) % sweep;
            if (m_scanCursor == 0)
                ++m_scanSweep;
        }
        return DeviceMessages::scanReport(entries);
    }
    case MeasurementMode::Table: {
        const int r = nextReceiver();
        const int coverable = m_config.band.numbering991 ? std::min(m_positions, 1024) : std::min(m_positions, 3072);
        std::vector<TableEntry> entries;
        for (std::size_t i = 0; i < DeviceMessages::kTableEntries; ++i) {
            int& p = m_tableCursor[r];
            entries.push_back({uint8_t(r), uint16_t(tableIndexOf(p)), m_field.at(p, t)});
            p = p >= coverable ? 1 : p + 1;
        }
        return DeviceMessages::tableReport(entries);
    }
    }
    return {};
}

bool DeviceModel::gpsOn(double t) const
{
    switch (m_config.gps) {
    case GpsMode::On: return true;
    case GpsMode::Off: return false;
    case GpsMode::Cycle: return std::fmod(t - m_gpsEpoch, kGpsOnSeconds + kGpsOffSeconds) < kGpsOnSeconds;
    }
    return false;
}

void DeviceModel::setGps(GpsMode gps, double t)
{
    m_config.gps = gps;
    m_gpsEpoch = t;
}

SimFrame DeviceModel::secondTick(double t, std::time_t utc)
{
    if (gpsOn(t))
        return DeviceMessages::gpsMessage(GpsMessageEncoder::encode(m_route.fixAt(t, utc)));
    std::tm tm{};
    localtime_r(&utc, &tm);
    DeviceClock clock;
    clock.seconds = uint8_t(tm.tm_sec);
    clock.minutes = uint8_t(tm.tm_min);
    clock.hours = uint8_t(tm.tm_hour);
    clock.day = uint8_t(tm.tm_mday);
    clock.month = uint8_t(tm.tm_mon + 1);
    clock.year = uint16_t(tm.tm_year + 1900);
    clock.marker = m_marker++;
    return DeviceMessages::clockMarker(clock);
}
