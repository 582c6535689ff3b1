#include "MeasurementState.h"

#include <cstdio>
#include <cstring>

MeasurementState::MeasurementState()
{
    for (auto& s : receiverSettings)
        s = std::make_unique<ReceiverSettings>();
    std::memset(scanRssi, kNoSignal, sizeof scanRssi);
    std::memset(tableRssi, 0, sizeof tableRssi);
}

MeasurementState::~MeasurementState() = default;

std::string MeasurementState::rtcDateText() const
{
    std::lock_guard guard(lock);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", rtc[4], rtc[3], 2000 + rtc[5]);
    return text;
}

std::string MeasurementState::rtcTimeText() const
{
    std::lock_guard guard(lock);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", rtc[2], rtc[1], rtc[0]);
    return text;
}

std::string MeasurementState::serialNumberText() const
{
    std::lock_guard guard(lock);
    return std::string(serialNumber, strnlen(serialNumber, 8));
}

ReceiverSettings MeasurementState::settingsCopy(int r) const
{
    std::lock_guard guard(lock);
    return *receiverSettings[r];
}

void MeasurementState::resetScanRssi(int r)
{
    std::lock_guard guard(sampleLocks[r]);
    std::memset(scanRssi[r], kNoSignal, kScanSlots);
}

ReceiverSamples MeasurementState::takeSamples(int r, bool seedSingleFromScan)
{
    ReceiverSamples copy;
    std::lock_guard guard(sampleLocks[r]);
    copy.singleAverage = singleAverage[r];
    std::memcpy(copy.scanRssi.data(), scanRssi[r], kScanSlots);
    std::memcpy(copy.tableRssi.data(), tableRssi[r], kTableSize);
    if (seedSingleFromScan)
        singleAverage[r] = scanRssi[r][0];
    receiverEvents[r].reset();
    return copy;
}

MeasurementState& measurementState()
{
    static MeasurementState state;
    return state;
}

void MeasurementState::clearTable(int r)
{
    std::memset(tableRssi[r], 0, sizeof tableRssi[r]);
}
