#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MeasurementState;
class ReceiverSettings;

// What one display update of a receiver shows, worked out from the
// measurement state without touching the graph: the x range, label
// direction, bottom caption, the bars and the map value. TR_Router draws it.
class ReceiverBars
{
public:
    enum class Mode { Single, Table, Scan };

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

    // Reads receiver r's sample data; the caller holds them by the hand-over
    // rule (its event is set).
    static Frame single(const MeasurementState& state, int r, const ReceiverSettings& settings,
                        bool showFrequency);
    static Frame table(const MeasurementState& state, int r, const ReceiverSettings& settings,
                       bool showFrequency);
    static Frame scan(const MeasurementState& state, int r, const ReceiverSettings& settings,
                      bool showFrequency);
};
