#include "PanelTiling.h"

void PanelTiling::layout(const Input& in, Rect out[2])
{
    const int16_t top = in.statusColumn.top;
    const int16_t left = int16_t(in.statusColumn.left + in.statusColumn.width);
    const int16_t fullHeight = in.statusColumn.height;
    const int16_t fullWidth = int16_t(in.infoLeft - in.statusColumn.width);

    int16_t w = fullWidth;
    int16_t h = fullHeight;
    out[0] = in.current[0];
    out[1] = in.current[1];

    if (in.visible[0]) {
        out[0].left = left;
        out[0].top = top;
    }
    if (in.visible[0] && in.visible[1]) {
        if (in.tileVertical) {
            h = int16_t(fullHeight / 2);
            out[1].left = left;
            out[1].top = int16_t(out[0].top + h);
        } else {
            w = int16_t(fullWidth / 2);
            out[1].left = int16_t(out[0].left + w);
            out[1].top = top;
        }
    } else if (in.visible[1]) {
        out[1].left = left;
        out[1].top = top;
    }
    for (int r = 0; r < 2; ++r) {
        if (!in.visible[r])
            continue;
        out[r].width = int16_t(w + 2);
        out[r].height = int16_t(h + 1);
    }
}
