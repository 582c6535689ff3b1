#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReceiverSamples;
class ReceiverSettings;

// What one display update of a receiver shows, worked out from the
// receiver's samples without touching the graph: the x range, label
// direction, bottom caption, the bars and the map value. TR_Router draws it.
class ReceiverBars
{
public:
    enum class Mode { Single, Table, Scan };

    // The bar graph's dBm scale; the hold traces above the waterfall share it.
    static constexpr int kBottomDbm = -120; // dBm
    static constexpr int kTopDbm = -30;     // dBm

    struct Bar
    {
        int16_t x = 0;
        std::string label;
        double value = 0.0; // dBm
    };

    struct Frame
    {
        double xMax = 0.0;
        bool verticalLabels = false;
        std::string bottomCaption;
        std::vector<Bar> bars;
        int16_t mapValue = 0; // dBm
    };

    static std::string title(int receiver, const ReceiverSettings& settings);

    // From a copy of one receiver's samples, taken under its sample lock.
    static Frame single(const ReceiverSamples& samples, const ReceiverSettings& settings, bool showFrequency);
    static Frame table(const ReceiverSamples& samples, const ReceiverSettings& settings, bool showFrequency);
    static Frame scan(const ReceiverSamples& samples, const ReceiverSettings& settings, bool showFrequency);
};
