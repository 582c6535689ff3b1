#pragma once

#include <cstdint>

// Where the two receiver panels go inside the area between the status and
// receiver information columns. Widget-free so the numbers are tested alone.
//
// The arithmetic is 16-bit and halves truncate, as the panels have always been
// laid out; each panel is 2 pixels wider and 1 taller than its cell, so
// neighbours overlap by that much and no seam shows between them.
class PanelTiling
{
public:
    struct Rect
    {
        int16_t left = 0;
        int16_t top = 0;
        int16_t width = 0;
        int16_t height = 0;
        friend bool operator==(const Rect&, const Rect&) = default;
    };

    struct Input
    {
        Rect statusColumn;   // pnlStatus
        int16_t infoLeft;    // left of pnlReceiverInfo
        bool visible[2];     // Receiver1Panel, Receiver2Panel
        Rect current[2];     // their bounds now; a hidden panel keeps them
        bool tileVertical;   // btnTileV down
    };

    static void layout(const Input& in, Rect out[2]);
};
