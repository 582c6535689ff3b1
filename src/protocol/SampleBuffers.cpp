#include "SampleBuffers.h"

#include <cstring>

SampleBuffers::SampleBuffers()
{
    std::memset(scanRssi, kNoSignal, sizeof scanRssi);
    std::memset(tableRssi, 0, sizeof tableRssi);
}

void SampleBuffers::resetScanRssi(int r)
{
    std::lock_guard guard(sampleLocks[r]);
    std::memset(scanRssi[r], kNoSignal, kScanSlots);
}

void SampleBuffers::clearTable(int r)
{
    std::memset(tableRssi[r], 0, sizeof tableRssi[r]);
}

ReceiverSamples SampleBuffers::takeSamples(int r, bool seedSingleFromScan)
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

void SampleBuffers::wakeForNewSamples()
{
    for (int r = 0; r < kReceivers; ++r) {
        if (newSamples[r].exchange(0) != 0)
            receiverEvents[r].set();
    }
}
