// A cell's histogram as stored in a GeoPackage: any text either is refused
// or reads as a histogram that writes back to a text reading the same.
#include "coverage/RssiHistogram.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RssiHistogram h;
    if (!RssiHistogram::fromText(text, h))
        return 0;
    RssiHistogram again;
    if (!RssiHistogram::fromText(h.text(), again) || !(again == h))
        std::abort();
    const CellFigures f = h.figures();
    if (f.count > 0 && (f.p10 > f.median || f.median > f.p90 || f.minimum > f.p10 || f.p90 > f.maximum))
        std::abort();
    return 0;
}
