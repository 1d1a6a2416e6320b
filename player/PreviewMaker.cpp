// SPDX-License-Identifier: GPL-3.0-or-later
#include "PreviewMaker.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "Exception.h"
#include "IndexFile.h"
#include "Log.h"
#include "RecordReader.h"
#include "UnitDispatch.h"

PreviewMaker::PreviewMaker(QObject* parent) : QObject(parent)
{
    m_decoder.m_listener = &m_screen;
}

PreviewMaker::~PreviewMaker()
{
    stop(false);
    interrupt();
    stop(true);
}

void PreviewMaker::setSource(const QString& recording, const QString& index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (recording == m_recording && index == m_index)
        return;
    m_recording = recording;
    m_index = index;
    ++m_generation;
    m_pending = false;
}

void PreviewMaker::request(quint64 ms)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pendingMs = ms;
        m_pending = true;
    }
    if (getState() == Thread::STATE_CREATED) {
        try {
            start();
        } catch (const Exception&) {
            logWarning("The preview thread could not start");
            return;
        }
    }
    interrupt();
}

void PreviewMaker::run()
{
    while (!isStopRequested()) {
        quint64 ms = 0;
        quint64 generation = 0;
        QString recording, index;
        bool asked = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending) {
                asked = true;
                ms = m_pendingMs;
                m_pending = false;
                generation = m_generation;
                recording = m_recording;
                index = m_index;
            }
        }
        if (!asked) {
            // Nothing asked for: sleep until a request interrupts (the
            // interrupt is kept when it comes before the wait).
            Thread::wait(1000);
            continue;
        }
        if (generation != m_loadedGeneration) {
            load(recording, index);
            m_loadedGeneration = generation;
        }
        quint64 keyMs = ms;
        QImage image;
        const int key = keyFor(ms);
        // A bound lowered meanwhile holds from now on.
        trimCache();
        if (m_indexValid) {
            if (const Cached* hit = lookUp(key)) {
                image = hit->image;
                keyMs = hit->keyMs;
            } else {
                image = make(key, keyMs);
                if (!image.isNull())
                    store(key, keyMs, image);
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        // A result for a recording no longer shown is dropped.
        if (generation == m_generation) {
            ++m_served;
            emit previewReady(ms, keyMs, image);
        }
    }
    unload();
}

void PreviewMaker::unload()
{
    if (m_recordingFile.isOpen())
        m_recordingFile.close();
    if (m_indexFile.isOpen())
        m_indexFile.close();
    m_indexValid = false;
    m_entries.setCount(0);
    m_cache.clear();
    m_cacheIndex.clear();
    m_cacheBytes.store(0);
    m_cacheCount.store(0);
}

void PreviewMaker::load(const QString& recording, const QString& index)
{
    unload();
    if (recording.isEmpty() || index.isEmpty())
        return;
    m_indexFile.setFileName(index);
    m_recordingFile.setFileName(recording);
    if (!m_indexFile.open(QIODevice::ReadOnly) || !m_recordingFile.open(QIODevice::ReadOnly)) {
        unload();
        return;
    }
    IndexFileHeader header;
    try {
        m_indexValid = IndexFile::load(m_indexFile, header, m_entries, m_recordingFile.size());
    } catch (const Exception&) {
        m_indexValid = false;
    }
    if (!m_indexValid) {
        // The player decides what becomes of an invalid index; previews
        // show the time alone.
        unload();
        return;
    }
    m_flags = header.m_flags;
}

int PreviewMaker::keyFor(quint64 ms) const
{
    // The last entry at or before `ms`.
    int lo = 0, hi = m_entries.count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (m_entries[mid].m_time <= ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo - 1; // FIRST_SCREEN when before every entry
}

QImage PreviewMaker::make(int key, quint64& keyMs)
{
    bool ok = false;
    try {
        if (key == FIRST_SCREEN) {
            keyMs = 0;
            ok = decodeFirstScreen();
        } else {
            keyMs = m_entries[key].m_time;
            ok = decodeKeyFrame(m_entries[key]);
        }
    } catch (const std::exception& e) {
        logDebug1("Preview not made: %1", e.what());
        ok = false;
    } catch (...) {
        ok = false;
    }
    return ok && !m_screen.isEmpty() ? scaleScreen(m_screen) : QImage();
}

bool PreviewMaker::decodeKeyFrame(const IndexEntryPoint& entry)
{
    IndexFile::KeyFrame frame;
    if (!IndexFile::readKeyFrame(m_indexFile, entry, m_flags, m_packed, m_keyFrame, frame))
        return false;
    // A fresh decoder announces the size, which resizes and clears the
    // screen: a key frame leaves out the boxes never painted.
    m_decoder.reset();
    m_decoder.decodeScreen(frame.prefix, IndexEntryPoint::PREFIX_SIZE);
    m_screen.clear(0);
    if (frame.grid) {
        m_decoder.decode(frame.data, frame.length);
        return true;
    }
    if (m_screen.width() != frame.width || m_screen.height() != frame.height
        || qint64(frame.length) != qint64(frame.width) * frame.height * 4)
        return false;
    Array<unsigned int, int> pixels;
    pixels.setCount(frame.length / 4);
    std::memcpy(pixels.data(), frame.data, size_t(frame.length));
    m_screen.setPixels(pixels.data(), frame.width, frame.height);
    return true;
}

bool PreviewMaker::decodeFirstScreen()
{
    // What the player shows when the recording opens: the units up to the
    // end of the first frame, but never past the first key frame.
    const quint64 limit = m_entries.count() > 0 ? m_entries[0].m_filePos : ~quint64(0);
    RecordReader reader(&m_recordingFile);
    if (!reader.rewind())
        return false;
    m_decoder.reset();
    m_screen.resize(0, 0);
    RecordUnitHeader unit;
    bool started = false;
    for (;;) {
        const RecordReader::Result r = reader.readUnitHeader(unit);
        if (r == RecordReader::Damaged)
            continue;
        if (r != RecordReader::Unit || quint64(reader.unitPos()) > limit)
            return started;
        if (unit.kind() != RecordUnitHeader::KIND_SCREEN) {
            reader.skipPayload(unit);
            continue;
        }
        const RecordReader::Result p = reader.readPayload(unit, m_payload, m_packed);
        if (p == RecordReader::Damaged)
            continue;
        if (p != RecordReader::Unit)
            return started;
        if (UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(), m_decoder,
                                            nullptr, started)
            == UnitDispatch::ScreenStep::FrameEnd)
            return started;
    }
}

QImage PreviewMaker::scaleScreen(const VideoFrame& screen)
{
    const int w = screen.width();
    const int h = screen.height();
    if (w <= 0 || h <= 0)
        return QImage();
    const int height = std::max(1, int((qint64(h) * kWidth + w / 2) / w));
    QImage image(kWidth, height, QImage::Format_RGB32);
    // 240 pixels of 4 bytes: the lines follow each other without padding.
    VideoFrame::stretchPixels(screen.pixels(), w, h, reinterpret_cast<unsigned int*>(image.bits()),
                              kWidth, height);
    return image;
}

const PreviewMaker::Cached* PreviewMaker::lookUp(int key)
{
    const auto it = m_cacheIndex.find(key);
    if (it == m_cacheIndex.end())
        return nullptr;
    m_cache.splice(m_cache.begin(), m_cache, it->second);
    return &*m_cache.begin();
}

void PreviewMaker::store(int key, quint64 keyMs, const QImage& image)
{
    m_cache.push_front({key, keyMs, image});
    m_cacheIndex[key] = m_cache.begin();
    m_cacheBytes.fetch_add(image.sizeInBytes());
    m_cacheCount.fetch_add(1);
    trimCache();
}

void PreviewMaker::trimCache()
{
    // The picture just made stays, whatever the bound.
    while (m_cache.size() > 1 && m_cacheBytes.load() > m_cacheLimit.load()) {
        const Cached& last = m_cache.back();
        m_cacheBytes.fetch_sub(last.image.sizeInBytes());
        m_cacheCount.fetch_sub(1);
        m_cacheIndex.erase(last.key);
        m_cache.pop_back();
    }
}
