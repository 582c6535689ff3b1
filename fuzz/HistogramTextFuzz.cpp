// A cell's histogram as stored in a GeoPackage: any text either is refused
// or reads as a histogram that writes back to a text reading the same; and
// adding a text straight into a tile's histogram refuses the same texts and
// adds what reading it first would have added.
#include "coverage/RssiHistogram.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RssiHistogram tile;
    tile.add(-90, 3);
    tile.add(-60);
    const RssiHistogram before = tile;
    RssiHistogram h;
    const bool read = RssiHistogram::fromText(text, h);
    const bool added = tile.addText(text);
    if (added != read)
        std::abort();
    if (!read) {
        if (!(tile == before))
            std::abort();
        return 0;
    }
    RssiHistogram expected = before;
    expected.add(h);
    if (!(tile == expected))
        std::abort();
    RssiHistogram again;
    if (!RssiHistogram::fromText(h.text(), again) || !(again == h))
        std::abort();
    const CellFigures f = h.figures();
    if (f.count > 0 && (f.p10 > f.median || f.median > f.p90 || f.minimum > f.p10 || f.p90 > f.maximum))
        std::abort();
    return 0;
}
