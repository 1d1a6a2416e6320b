#include "ImageShrinker.h"

ImageShrinker::~ImageShrinker() = default;

void ImageShrinker::fillSteps(int srcCount, int dstCount, Array<int, int>& steps)
{
    if (srcCount <= 0 || dstCount <= 0) {
        steps.setCount(0);
        return;
    }
    steps.setCount(dstCount);
    int* out = steps.data();
    // Walk the source; the destination index advances whenever the error
    // term is non-negative, and a destination index keeps the first source
    // index that reaches it. 64-bit terms: 2 * count may exceed an int.
    long long e = 2LL * dstCount - 2 - srcCount;
    int d = 0;
    int given = 0;
    for (int s = 0; s < srcCount && given < dstCount; ++s) {
        if (d == given)
            out[given++] = s;
        if (e >= 0) {
            ++d;
            e += 2 - 2LL * srcCount;
        }
        e += 2LL * dstCount - 2;
    }
    // Only reached when the axis grows: the walk advances at most once per
    // source index, so the tail repeats the last one instead of staying unset.
    for (; given < dstCount; ++given)
        out[given] = srcCount - 1;
}
