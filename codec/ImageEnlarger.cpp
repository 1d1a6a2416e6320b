#include "ImageEnlarger.h"

ImageEnlarger::~ImageEnlarger() = default;

void ImageEnlarger::fillSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (srcCount <= 0 || dstCount <= 0) {
        steps.setCount(0);
        return;
    }
    steps.setCount(dstCount);
    int* out = steps.data();
    // Walk the destination; the source index advances whenever the error
    // term is non-negative. It is held at the last pixel when the walk is
    // used on an axis that shrinks.
    long long e = 2LL * srcCount - 2 - dstCount;
    int s = 0;
    for (int d = 0; d < dstCount; ++d) {
        out[d] = s;
        if (e >= 0) {
            if (s < srcCount - 1)
                ++s;
            e += 2 - 2LL * dstCount;
        }
        e += 2LL * srcCount - 2;
    }
}
