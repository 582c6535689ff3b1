#include "ReceiverBars.h"

#include "display/TableRanking.h"
#include "protocol/ReceiverSamples.h"
#include "protocol/ReceiverSettings.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...)
{
    char text[128];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// "%.4f" without printf's parsing and locale: ten of these an update on
// the display thread were a fifth of its time. Rounds exactly as printf does.
std::string fixed4(double mhz)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, mhz, std::chars_format::fixed, 4);
    if (error != std::errc())
        return format("%.4f", mhz);
    return std::string(text, end);
}

const char* rangeCaption(bool showFrequency)
{
    return showFrequency ? "Frequency" : "Channel";
}

} // namespace

std::string ReceiverBars::title(int receiver, const ReceiverSettings& settings)
{
    return format("R%d (%.5f-%.5f)MHz %.2f KHz Step", receiver + 1, settings.lowEdgeMHz(),
                  settings.highEdgeMHz(), settings.stepKHz);
}

ReceiverBars::Frame ReceiverBars::single(const ReceiverSamples& samples, const ReceiverSettings& settings,
                                   bool showFrequency)
{
    Frame f;
    f.xMax = 2.0;
    f.verticalLabels = false;
    f.bottomCaption = showFrequency ? format("%.5f MHz", settings.currentMHz())
                                    : format("Channel %lld", (long long)settings.displayChannelOf(settings.current));
    const int16_t v = samples.singleAverage;
    f.bars.push_back({1, format("%d dBm", int(v)), double(v)});
    f.mapValue = v;
    return f;
}

ReceiverBars::Frame ReceiverBars::table(const ReceiverSamples& samples, const ReceiverSettings& settings,
                                   bool showFrequency)
{
    Frame f;
    f.xMax = 11.0;
    f.verticalLabels = true;
    f.bottomCaption = rangeCaption(showFrequency);
    const TableRanking::Slots ranked = TableRanking::rank(samples.tableRssi.data(), ReceiverSamples::kTableSize);
    f.bars.reserve(TableRanking::kSlots);
    for (int k = 0; k < TableRanking::kSlots; ++k) {
        const TableRanking::Slot& slot = ranked[k];
        std::string label;
        if (slot.level > TableRanking::kFloor) {
            // The table index stands for the channel number.
            label = showFrequency ? fixed4(settings.frequencyOfChannelMHz(int16_t(slot.channel)))
                                  : std::to_string(slot.channel);
        }
        f.bars.push_back({int16_t(k + 1), std::move(label), double(slot.level)});
    }
    f.mapValue = int16_t(ranked[0].level);
    return f;
}

ReceiverBars::Frame ReceiverBars::scan(const ReceiverSamples& samples, const ReceiverSettings& settings,
                                   bool showFrequency)
{
    Frame f;
    int max = TableRanking::kFloor;
    f.xMax = 11.0;
    f.verticalLabels = true;
    f.bottomCaption = rangeCaption(showFrequency);
    f.bars.reserve(ReceiverSamples::kScanSlots);
    for (int k = 0; k < ReceiverSamples::kScanSlots; ++k) {
        const int v = TableRanking::levelOf(samples.scanRssi[k]);
        if (v > max)
            max = v;
        std::string label;
        // Until the device has sent its scan list the slots name no channel.
        if (v > TableRanking::kFloor && settings.scanChannelsKnown) {
            const uint32_t value = settings.scanChannels[k];
            label = showFrequency ? fixed4(settings.valueMHz(value))
                                  : std::to_string((long long)settings.displayChannelOf(value));
        }
        f.bars.push_back({int16_t(k + 1), std::move(label), double(v)});
    }
    f.mapValue = int16_t(max);
    return f;
}
