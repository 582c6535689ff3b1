// Feeds arbitrary GPS messages to TGPS::Decode and every text operation;
// short inputs are zero-padded, long ones cut to one message.
#include "protocol/TGPS.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::array<uint8_t, TGPS::kMessageSize> message{};
    std::copy_n(data, std::min(size, message.size()), message.begin());

    TGPS gps;
    gps.Decode(message.data());
    size_t total = gps.DateText().size() + gps.TimeText().size() + gps.FilteredLatitudeText().size()
        + gps.FilteredLongitudeText().size() + gps.LatitudeText().size() + gps.LongitudeText().size()
        + gps.HeadingText().size() + gps.GMTOffsetText().size() + gps.ReceiverStatusText().size()
        + gps.AntennaText().size() + size_t(gps.StatusCode()) + gps.FastAcquisition() + gps.FilterReset();
    // Keep the calls from being optimised away.
    volatile size_t sink = total;
    (void)sink;
    return 0;
}
