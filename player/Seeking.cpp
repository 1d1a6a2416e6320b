#include "Seeking.h"

#include <cstring>

#include "GridDecoder.h"
#include "IPlayerView.h"
#include "IndexFile.h"
#include "Log.h"

int Seeking::chooseEntry(const Array<IndexEntryPoint, int>& entries, long long target)
{
    const int count = entries.count();
    if (count <= 0 || target < 0 || static_cast<uint64_t>(target) < entries[0].m_time)
        return RESTART;
    const uint64_t t = static_cast<uint64_t>(target);
    if (entries[count - 1].m_time < t)
        return count - 1;

    int lo = 0;
    int hi = count - 1;
    int candidate = 0;
    while (hi - lo >= 2) {
        const int mid = lo + (hi - lo) / 2;
        candidate = mid;
        if (t > entries[mid].m_time)
            lo = mid;
        else if (t < entries[mid].m_time)
            hi = mid;
        else
            lo = hi = mid;
    }
    if (entries[candidate].m_time > t) {
        logDebug("Backward correction.");
        logDebug1("Target time: %1", QByteArray::number(target).constData());
        if (candidate == 0)
            return RESTART;
        --candidate;
        logDebug1("Index entry: %1",
                  QByteArray::number(static_cast<qulonglong>(entries[candidate].m_time))
                      .constData());
    }
    return candidate;
}

bool Seeking::restoreKeyFrame(QIODevice& index, const IndexEntryPoint& entry, unsigned char flags,
                              GridDecoder& decoder, IPlayerView* view,
                              Array<unsigned char, int>& packed,
                              Array<unsigned char, int>& keyFrame)
{
    IndexFile::KeyFrame frame;
    if (!IndexFile::readKeyFrame(index, entry, flags, packed, keyFrame, frame))
        return false;

    decoder.decodeScreen(frame.prefix, IndexEntryPoint::PREFIX_SIZE);
    if (view)
        view->clearScreen();

    if (frame.grid) {
        decoder.decode(frame.data, frame.length);
        return true;
    }
    if (!view)
        return true;
    int width = 0, height = 0;
    view->getImageSize(width, height);
    if (width != frame.width || height != frame.height)
        return false;
    // The record's bytes carry no alignment guarantee for 32-bit reads.
    Array<unsigned int, int> pixels;
    pixels.setCount(frame.length / 4);
    if (frame.length > 0)
        std::memcpy(pixels.data(), frame.data, static_cast<size_t>(frame.length));
    view->setScreenPixels(pixels.data(), width, height);
    return true;
}
