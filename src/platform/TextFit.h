#pragma once

#include <functional>

// Which font size lets a text fit a field. The forms keep the positions and
// sizes they were drawn with, but the substituted fonts run wider than the
// originals: a field's font shrinks only as far as its text needs.
class TextFit
{
public:
    // The largest pixel size from designPixels down to minPixels at which
    // widthAt(size) is at most available; minPixels when none is.
    static int pixelSize(int designPixels, int minPixels, int available,
                         const std::function<int(int pixels)>& widthAt);
};
