// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <list>
#include <map>
#include <mutex>

#include "Array.h"
#include "GridDecoder.h"
#include "IndexFileHeader.h"
#include "ScreenFrame.h"
#include "Thread.h"

// Makes the small pictures shown while the pointer hovers over the position
// bar: the screen of the index's key frame at or before the time asked for
// (before the first key frame, the recording's first complete screen),
// decoded and scaled to kWidth pixels wide, the recording's aspect kept.
//
// Threads. setSource(), request() and the cache settings are called on the
// GUI thread; the decoding and scaling run on this object's own thread,
// started by the first request, never on the GUI or the player thread.
// Requests do not queue up: one that has not started yet is replaced by the
// next (the latest wins). previewReady() is emitted on the worker thread
// (queued to receivers on the GUI thread) for each request it serves.
//
// Pictures are cached per key frame, least recently used first out, within
// a bound on their bytes (kDefaultCacheBytes); a new source empties the
// cache. Without an index, with one that does not load, and where a key
// frame cannot be read the picture is null: the window then shows the time
// alone. The recording and the index are only read, through their own file
// handles.
class PreviewMaker : public QObject, public Thread
{
    Q_OBJECT

public:
    static constexpr int kWidth = 240;
    static constexpr qint64 kDefaultCacheBytes = 64LL * 1024 * 1024;
    enum { FIRST_SCREEN = -1 };

    explicit PreviewMaker(QObject* parent = nullptr);
    ~PreviewMaker() override;

    // The recording and its loaded index (empty when there is none). The
    // same pair again changes nothing.
    void setSource(const QString& recording, const QString& index);
    // Asks for the picture at `ms` of the recording.
    void request(quint64 ms);

    void setCacheLimit(qint64 bytes) { m_cacheLimit.store(bytes); }
    qint64 cacheBytes() const { return m_cacheBytes.load(); }
    int cacheCount() const { return m_cacheCount.load(); }
    // Requests served (cache hits included), for tests and benchmarks.
    int served() const { return m_served.load(); }

    // The preview picture of a screen: kWidth wide, the height in
    // proportion (at least 1), resampled with VideoFrame::stretchPixels.
    static QImage scaleScreen(const VideoFrame& screen);

    void run() override;
    bool autoDelete() override { return false; }

signals:
    // The picture for the request at `ms`, made from the key frame of
    // `keyMs` (0 for the first screen); null: the time alone.
    void previewReady(quint64 ms, quint64 keyMs, const QImage& image);

private:
    struct Cached
    {
        int key;
        quint64 keyMs;
        QImage image;
    };

    // Worker thread only.
    void load(const QString& recording, const QString& index);
    void unload();
    // The cache key (an entry, or FIRST_SCREEN) for `ms`.
    int keyFor(quint64 ms) const;
    QImage make(int key, quint64& keyMs);
    bool decodeKeyFrame(const IndexEntryPoint& entry);
    bool decodeFirstScreen();
    const Cached* lookUp(int key);
    void store(int key, quint64 keyMs, const QImage& image);
    void trimCache();

    // The request, shared with the GUI thread; guarded by m_mutex.
    std::mutex m_mutex;
    QString m_recording;
    QString m_index;
    quint64 m_generation = 0;   // changes with the source
    bool m_pending = false;
    quint64 m_pendingMs = 0;

    // Worker thread only.
    quint64 m_loadedGeneration = ~quint64(0);
    QFile m_recordingFile;
    QFile m_indexFile;
    bool m_indexValid = false;
    unsigned char m_flags = 0;
    Array<IndexEntryPoint, int> m_entries;
    GridDecoder m_decoder;
    ScreenFrame m_screen;
    Array<unsigned char, int> m_packed;
    Array<unsigned char, int> m_keyFrame;
    Array<unsigned char, int> m_payload;
    std::list<Cached> m_cache; // most recently used first
    std::map<int, std::list<Cached>::iterator> m_cacheIndex;

    // Written by the worker, read by any thread.
    std::atomic<qint64> m_cacheLimit{kDefaultCacheBytes};
    std::atomic<qint64> m_cacheBytes{0};
    std::atomic<int> m_cacheCount{0};
    std::atomic<int> m_served{0};
};
