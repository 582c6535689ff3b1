#include "TextFit.h"

int TextFit::pixelSize(int designPixels, int minPixels, int available, const std::function<int(int)>& widthAt)
{
    int size = designPixels;
    while (size > minPixels && widthAt(size) > available)
        --size;
    return size < minPixels ? minPixels : size;
}
