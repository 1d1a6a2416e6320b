// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeyFrameWriter.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "Exception.h"
#include "GridFormat.h"
#include "IndexFile.h"
#include "Zip.h"

using GridFormat::kBoxPixels;
using GridFormat::kBoxSize;

KeyFrameWriter::KeyFrameWriter(QIODevice* index) : m_index(index)
{
    m_encoder.setBoxReuse(true);
    m_entries.setGrowBy(64);
}

KeyFrameWriter::~KeyFrameWriter()
{
    abort();
}

void KeyFrameWriter::begin()
{
    m_started = true;
    start();
}

KeyFrameWriter::KeyFrame* KeyFrameWriter::slot()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_inHand < inHandLimit() || m_failed || m_stop; });
    if (m_failed || m_stop)
        return nullptr;
    ++m_inHand;
    if (m_free.empty()) {
        m_slots.push_back(std::make_unique<KeyFrame>());
        return m_slots.back().get();
    }
    KeyFrame* k = m_free.front();
    m_free.pop_front();
    return k;
}

int KeyFrameWriter::inHandLimit() const
{
    const qint64 fit = kInHandPixels / std::max<qint64>(m_screenPixels, 1);
    return static_cast<int>(std::clamp<qint64>(fit, kMinInHand, kMaxInHand));
}

void KeyFrameWriter::submit(KeyFrame* keyFrame)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(keyFrame);
        m_screenPixels = static_cast<qint64>(keyFrame->width) * keyFrame->height;
    }
    m_changed.notify_all();
}

bool KeyFrameWriter::finish()
{
    stopThread(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_failed;
}

void KeyFrameWriter::abort()
{
    stopThread(true);
}

void KeyFrameWriter::stopThread(bool discard)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_discard = m_discard || discard;
    }
    m_changed.notify_all();
    if (m_started) {
        Thread::stop(true);
        m_started = false;
    }
}

bool KeyFrameWriter::failed() const
{
    return m_failedFlag.load();
}

QString KeyFrameWriter::failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

void KeyFrameWriter::run()
{
    for (;;) {
        KeyFrame* k = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_queue.empty() || m_stop; });
            if (m_discard || m_queue.empty())
                return;
            k = m_queue.front();
        }
        QString failure;
        try {
            write(*k);
        } catch (const Exception& e) {
            failure = e.getErrorMessage() + QLatin1Char(' ') + e.getReason();
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = QStringLiteral("unknown failure");
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.pop_front();
            --m_inHand;
            // The most recently written slot is handed out next (its room is
            // warm and sized); a slot beyond what the screen allows in hand
            // gives its room back, so that a big screen never leaves more
            // than that many slots sized for it.
            if (m_inHand + static_cast<int>(m_free.size()) >= inHandLimit()) {
                k->boxes.reallocate(0);
                k->kinds.reallocate(0);
                k->pixels.reallocate(0);
                k->codes.reallocate(0);
                k->jpegLengths.reallocate(0);
                k->jpegData.reallocate(0);
            }
            m_free.push_front(k);
            if (!failure.isEmpty()) {
                m_failed = true;
                m_failedFlag.store(true);
                m_failure = QStringLiteral("key frame %1: %2").arg(m_written).arg(failure);
            }
        }
        m_changed.notify_all();
        if (!failure.isEmpty())
            return;
        ++m_written;
    }
}

bool KeyFrameWriter::applyBoxes(const KeyFrame& k)
{
    const int columns = (k.width + kBoxSize - 1) / kBoxSize;
    const int rows = (k.height + kBoxSize - 1) / kBoxSize;
    const int factor = GridFormat::jpegScaleForQuality(std::clamp(k.quality, 0, 100));
    const bool newScreen =
        k.newScreen || m_screen.width() != k.width || m_screen.height() != k.height;
    if (newScreen) {
        m_screen.resize(k.width, k.height);
        m_screen.clear(0);
        m_encoder.clearBoxStore();
        m_unchanged.setCount(columns * rows);
        std::fill(m_unchanged.data(), m_unchanged.data() + m_unchanged.count(), 0);
        m_jpegOnly.setCount(columns * rows);
        std::fill(m_jpegOnly.data(), m_jpegOnly.data() + m_jpegOnly.count(), 0);
    }
    const bool newFactor = !newScreen && m_factor >= 0 && factor != m_factor;
    m_factor = factor;
    const int boxCount = m_unchanged.count();
    const int n = k.boxes.count();
    if (k.kinds.count() != n)
        throw IncorrectFileException();
    if (m_given.size() != static_cast<size_t>(boxCount))
        m_given.assign(static_cast<size_t>(boxCount), GridEncoder::GivenCode());
    long long pixelsAt = 0, codesAt = 0, jpegAt = 0;
    int jpegBoxes = 0;
    bool given = false;
    for (int j = 0; j < n; ++j) {
        const int i = k.boxes[j];
        if (i < 0 || i >= boxCount)
            throw IncorrectFileException();
        m_unchanged[i] = 0;
        const int kind = k.kinds[j];
        m_jpegOnly[i] = kind == GridFormat::JPEG;
        GridEncoder::GivenCode& code = m_given[static_cast<size_t>(i)];
        if (kind == GridFormat::JPEG) {
            if (jpegBoxes >= k.jpegLengths.count())
                throw IncorrectFileException();
            const int length = k.jpegLengths[jpegBoxes++];
            if (length <= 0 || jpegAt + length > k.jpegData.count())
                throw IncorrectFileException();
            code = {k.jpegData.data() + jpegAt, length, GridFormat::JPEG};
            jpegAt += length;
            given = true;
            continue;
        }
        if ((kind >= GridFormat::COLOR_1 && kind <= GridFormat::COLORS_16)
            || kind == GridFormat::RAW) {
            const int length = kind == GridFormat::RAW ? GridFormat::kRawCodeBytes
                                                       : GridFormat::paletteCodeBytes(kind);
            if (codesAt + length > k.codes.count() || k.codes[static_cast<int>(codesAt)] != kind)
                throw IncorrectFileException();
            code = {k.codes.data() + codesAt, length, static_cast<unsigned char>(kind)};
            codesAt += length;
            given = true;
            continue;
        }
        if (kind != 0 || pixelsAt + kBoxPixels > k.pixels.count())
            throw IncorrectFileException();
        const int x = i % columns * kBoxSize;
        const int y = i / columns * kBoxSize;
        const int w = std::min(kBoxSize, k.width - x);
        const int h = std::min(kBoxSize, k.height - y);
        const unsigned int* src = k.pixels.data() + pixelsAt;
        pixelsAt += kBoxPixels;
        unsigned int* dst = m_screen.pixels() + static_cast<size_t>(y) * k.width + x;
        if (w == kBoxSize) {
            for (int r = 0; r < h; ++r) // a fixed size: copied inline
                std::memcpy(dst + static_cast<size_t>(r) * k.width, src + r * kBoxSize,
                            sizeof(unsigned int) * kBoxSize);
        } else {
            for (int r = 0; r < h; ++r)
                std::memcpy(dst + static_cast<size_t>(r) * k.width, src + r * kBoxSize,
                            static_cast<size_t>(w) * sizeof(unsigned int));
        }
    }
    // A new factor drops the JPEG codes the encoder keeps: a box that came
    // as JPEG data and is not handed over again has nothing left to code it
    // from (its pixels never came here).
    if (newFactor)
        for (int i = 0; i < boxCount; ++i)
            if (m_jpegOnly[i] && m_unchanged[i])
                throw IncorrectFileException();
    if (given)
        m_encoder.setGivenCodes(m_given.data(), boxCount);
    return given;
}

void KeyFrameWriter::write(KeyFrame& k)
{
    const bool given = k.width > 0 && k.height > 0 && applyBoxes(k);
    if (m_hook)
        m_hook(m_written);

    const unsigned char* data = nullptr;
    int length = 0;
    // A frame with nothing to paint (no screen yet) is the parameter code
    // alone: the encoder writes nothing for an empty screen.
    static const unsigned char emptyFrame[2] = {GridFormat::PARAMETERS, 0};
    if (k.width > 0 && k.height > 0) {
        m_encoder.setQuality(k.quality);
        m_encoder.setScreenDimension(k.width, k.height);
        m_encoder.setUnchangedBoxes(m_unchanged.data(), m_unchanged.count());
        m_encoder.m_output.setCount(0);
        Array<unsigned char, int> unused;
        m_encoder.encode(&m_screen, 0, 0, k.width, k.height, unused);
        // A key frame with boxes left out would restore another screen.
        if (!m_encoder.lastEncodeWhole())
            throw std::runtime_error("not encoded whole");
        data = m_encoder.m_output.data();
        length = m_encoder.m_output.count();
        std::fill(m_unchanged.data(), m_unchanged.data() + m_unchanged.count(), 1);
        if (given)
            for (int j = 0; j < k.boxes.count(); ++j)
                m_given[static_cast<size_t>(k.boxes[j])] = GridEncoder::GivenCode();
    }
    if (length <= 0) {
        data = emptyFrame;
        length = 2;
    }

    unsigned char prefix[IndexEntryPoint::PREFIX_SIZE];
    IndexFile::composeKeyFramePrefix(k.width, k.height, k.scale, prefix);
    if (!Zip::zipBufferFastest(data, length, m_packed))
        throw DecompressionException();

    IndexEntryPoint entry;
    entry.m_time = k.time;
    entry.m_filePos = k.filePos;
    entry.m_indexPos = static_cast<quint64>(m_index->pos());
    entry.m_size = static_cast<quint64>(m_packed.count());
    if (m_index->write(reinterpret_cast<const char*>(prefix), IndexEntryPoint::PREFIX_SIZE)
            != IndexEntryPoint::PREFIX_SIZE
        || m_index->write(reinterpret_cast<const char*>(m_packed.data()), m_packed.count())
            != m_packed.count()) {
        FileCantWriteException e;
        e.setReason(m_index->errorString());
        throw e;
    }
    m_entries.append(entry);
}
