#pragma once

#include "platform/Event.h"
#include "protocol/ReceiverSamples.h"
#include "protocol/ReportJournal.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

// The receivers' sample data on their way from the decoder to the displays.
//
// Hand-over: the decoder stores receiver r's data under sampleLocks[r] and
// sets receiverEvents[r]; the display copies them and resets the event in one
// step under the same lock (takeSamples). So an entry stored after the copy
// raises the event again and shows at the next update: the decoder never has
// to drop a report while the display draws, and the window's timer may set
// the event at any moment without a reader ever seeing a half-written buffer.
//
// Single-channel data wake the display only through the window's one-second
// timer: the decoder raises newSamples[r], the timer turns it into the event.
class SampleBuffers
{
public:
    static constexpr int kReceivers = 2;
    static constexpr int kScanSlots = ReceiverSamples::kScanSlots;
    static constexpr int kTableSize = ReceiverSamples::kTableSize;
    static constexpr int8_t kNoSignal = -120; // dBm

    SampleBuffers();
    SampleBuffers(const SampleBuffers&) = delete;
    SampleBuffers& operator=(const SampleBuffers&) = delete;

    mutable std::array<std::mutex, kReceivers> sampleLocks;
    // dBm. The display writes it too (scan mode seeds single mode).
    std::array<std::atomic<int16_t>, kReceivers> singleAverage{kNoSignal, kNoSignal};
    int8_t scanRssi[kReceivers][kScanSlots];  // dBm
    int8_t tableRssi[kReceivers][kTableSize]; // dBm, index = channel - 1; 0 = never received
    std::array<std::atomic<uint8_t>, kReceivers> newSamples{};
    // Manual reset; they exist before any display waits on them.
    Event receiverEvents[kReceivers];
    // Every report in decoding order, for the scan history.
    std::array<ReportJournal, kReceivers> reports;

    void resetScanRssi(int r); // takes sampleLocks[r]
    void clearTable(int r);    // the caller holds sampleLocks[r]
    // Copies receiver r's samples and resets receiverEvents[r], in one step
    // under sampleLocks[r]; in scan mode single mode is seeded from slot 0.
    ReceiverSamples takeSamples(int r, bool seedSingleFromScan);
    // Window thread, each timer tick: single-channel data that arrived since
    // the last tick wake their display.
    void wakeForNewSamples();
};
