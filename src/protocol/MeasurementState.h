#pragma once

#include "platform/Event.h"
#include "platform/NamedMutex.h"
#include "protocol/ReceiverSamples.h"
#include "protocol/ReceiverSettings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class TR_Router;
class TGPS_Router;
class TMain_Router;
class TLog_Router;

// A packet kept whole: a 16-bit byte count and up to 8192 bytes.
struct RecordSlot
{
    static constexpr int kCapacity = 8192;
    uint16_t count = 0;
    std::array<uint8_t, kCapacity> bytes{};
};

// The one record through which the subsystems share what the device reported.
//
// Sample data (singleAverage, scanRssi, tableRssi) cross to the display threads
// under sampleLocks[r]: the decoder stores receiver r's data under it and sets
// receiverEvents[r]; the display copies them and resets the event in one step
// under the same lock (takeSamples). So an entry stored after the copy raises
// the event again and shows at the next update: the decoder never has to drop
// a report while the display draws, and the window's timer may set the event
// at any moment without a reader ever seeing a half-written buffer. Single-byte
// flags are atomics. The
// multi-byte fields that the status, log and display threads read while the
// link thread may rewrite them (settings, serial number, clock, channel
// information) are written and copied under `lock`, so no reader sees a torn
// value.
class MeasurementState
{
public:
    static constexpr int kReceivers = 2;
    static constexpr int kScanSlots = ReceiverSamples::kScanSlots;
    static constexpr int kTableSize = ReceiverSamples::kTableSize;
    static constexpr int8_t kNoSignal = -120; // dBm

    MeasurementState();
    ~MeasurementState();
    MeasurementState(const MeasurementState&) = delete;
    MeasurementState& operator=(const MeasurementState&) = delete;

    std::atomic<uint8_t> gpsLossAlerted{1};
    std::array<std::atomic<uint8_t>, kReceivers> newSamples{};
    std::atomic<uint8_t> settingsReceived{0};
    std::atomic<uint32_t> settingsReplies{0}; // decoded so far; a new log's header waits for the next
    std::atomic<int16_t> unloggedScanCount{0};
    std::atomic<int16_t> markerNumber{0};
    NamedMutex dataMutex{"DATAMUTEX"};

    mutable std::mutex lock; // see above: settings, serial, rtc, channel info
    std::array<std::unique_ptr<ReceiverSettings>, kReceivers> receiverSettings;
    std::array<std::atomic<uint8_t>, kReceivers> receiverActive{};
    std::array<std::atomic<uint8_t>, kReceivers> settingsChanged{};
    mutable std::array<std::mutex, kReceivers> sampleLocks; // see above
    // dBm. The display writes it too (scan mode seeds single mode).
    std::array<std::atomic<int16_t>, kReceivers> singleAverage{kNoSignal, kNoSignal};
    int8_t scanRssi[kReceivers][kScanSlots];   // dBm
    int8_t tableRssi[kReceivers][kTableSize];  // dBm, index = channel - 1; 0 = never received
    char serialNumber[9] = {};
    RecordSlot channelInfoRecord;
    std::atomic<uint8_t> channelInfoPresent{0};
    uint8_t rtc[7] = {}; // seconds, minutes, hours, day, month, year - 2000, marker

    // Events (manual reset). They live with the record so that they exist
    // before any thread waits on or sets them.
    Event receiverEvents[kReceivers];
    Event gpsEvent;
    Event rtcEvent;
    Event statusTickEvent;

    // Worker registry: null until the thread is created; never freed.
    std::array<std::atomic<TR_Router*>, kReceivers> receiverThreads{};
    std::atomic<TGPS_Router*> gpsThread{nullptr};
    std::atomic<TMain_Router*> statusThread{nullptr};
    std::atomic<TLog_Router*> logThread{nullptr};

    std::string rtcDateText() const; // "MM/DD/YYYY" under `lock`
    std::string rtcTimeText() const; // "HH:MM:SS" under `lock`
    std::string serialNumberText() const; // copy under `lock`
    ReceiverSettings settingsCopy(int r) const; // copy under `lock`
    void resetScanRssi(int r); // under sampleLocks[r]
    void clearTable(int r);    // under sampleLocks[r]
    // Copies receiver r's samples and resets receiverEvents[r], in one step
    // under sampleLocks[r]; in scan mode single mode is seeded from slot 0.
    ReceiverSamples takeSamples(int r, bool seedSingleFromScan);
};

// The one instance of the run, created before any form or thread.
MeasurementState& measurementState();
