#pragma once

#include "DeviceMessages.h"
#include "GpsRoute.h"
#include "RssiField.h"

#include <array>
#include <ctime>
#include <string>
#include <vector>

enum class MeasurementMode { Single, Scan, Table };
enum class GpsMode { On, Off, Cycle };

struct DeviceConfig
{
    std::string serial = "AB123456";
    uint8_t activeFlags = 0x03;      // bit 0 R1, bit 1 R2
    BandSettings band{34040, 34400, 6400, false}; // 851.000 to 860.000 MHz in 25 kHz steps
    MeasurementMode mode = MeasurementMode::Scan;
    bool cycle = false;              // switch single -> scan -> table every cycleSeconds
    double cycleSeconds = 20.0;
    GpsMode gps = GpsMode::On;
    bool withholdChannelInfo = false;
    int singleBlockSize = 10;        // samples per single-mode block
    uint32_t seed = 1;
    // Scan levels follow patternLevel instead of the random field, so a test
    // knows each one without reading what was sent.
    bool pattern = false;
};

// The device side of the conversation, without any I/O: what the Tavrix
// answers to each command, the measurement stream of the current mode and
// the once-a-second GPS or clock message. Time t is seconds since start.
class DeviceModel
{
public:
    static constexpr double kGpsOnSeconds = 60.0;  // GPS cycle: on this long,
    static constexpr double kGpsOffSeconds = 20.0; // then off this long
    static constexpr int kSlots = 10;

    explicit DeviceModel(const DeviceConfig& config);

    std::vector<SimFrame> answer(uint8_t command) const;
    // The device sends its channel information whenever a measurement is
    // started on it; the returned frames are that announcement.
    std::vector<SimFrame> startMeasurement(MeasurementMode mode, double t);
    // Frames due because time moved on (the cycle mode switching modes).
    std::vector<SimFrame> advance(double t);
    SimFrame nextMeasurement(double t);
    SimFrame secondTick(double t, std::time_t utc);

    std::vector<SimFrame> channelInformation() const;
    SimFrame receiverSetup() const;

    MeasurementMode mode() const { return m_mode; }
    bool gpsOn(double t) const;
    void setGps(GpsMode gps, double t);
    GpsMode gps() const { return m_config.gps; }
    void setWithholdChannelInfo(bool withhold) { m_config.withholdChannelInfo = withhold; }
    bool cycling() const { return m_config.cycle; }
    void setCycle(bool cycle, double t);
    // A new channel step, band edges kept in channel steps.
    void setStep(uint16_t stepRaw) { m_config.band.stepRaw = stepRaw; }

    // The pattern's level of a scan slot in the given sweep (counted from the
    // start of scan measurement): a staircase over the whole -120 .. -30 dBm.
    static int8_t patternLevel(int sweep, int receiver, int slot);

    int positions() const { return m_positions; }
    // Table index (channel number - 1) of a band position, as the device numbers it.
    int tableIndexOf(int position) const;
    uint32_t valueOf(int position) const { return m_config.band.lowEdge + uint32_t(position - 1); }

private:
    int nextReceiver();

    DeviceConfig m_config;
    int m_positions;
    std::vector<int> m_active;
    MeasurementMode m_mode;
    double m_modeStart = 0.0;
    double m_gpsEpoch = 0.0;      // start of the current GPS on/off cycle
    std::array<std::array<int, kSlots>, 2> m_scanPositions{};
    std::array<int, 2> m_singlePosition{1, 1};
    std::array<int, 2> m_tableCursor{1, 1};
    int m_scanCursor = 0;         // entry in the sweep over active receivers x slots
    int m_scanSweep = 0;          // sweeps completed since scan measurement started
    int m_receiverTurn = 0;
    uint8_t m_marker = 0;
    RssiField m_field;
    GpsRoute m_route;
};
