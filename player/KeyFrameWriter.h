// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Array.h"
#include "GridEncoder.h"
#include "IndexFileHeader.h"
#include "Thread.h"
#include "VideoFrame.h"

class QIODevice;

// The second half of an index build: encodes, compresses and writes the key
// frames on a thread of its own while the building thread goes on decoding.
//
// The building thread hands a key frame over as the boxes of its screen that
// were painted since the previous handover (it paints on at once), each as
// the code that painted it where it knows one, as its pixels otherwise. The
// writer keeps its own copy of the screen that takes the pixels, and its grid
// encoder keeps every box's code between key frames and is told which boxes
// were not handed over, so each key frame is the building thread's screen at
// the moment of its handover, box for box, and an unchanged box is neither
// compared nor coded again. A handover that changes the JPEG factor (other
// than for a new screen) must carry again every box that came as JPEG data:
// the encoder drops its JPEG codes then, and such a box has no pixels here
// to be coded from (the key frame fails otherwise). The records are appended
// to the index device at its current position, in handover order,
// compressed with Zip::zipBufferFastest; entries() lists them.
//
// Threads: begin(), slot(), submit(), finish() and abort() are called by the
// building thread only; failed() and failure() by any. Several key frames can
// be in hand at once (handed out by slot() and not yet written), so that the
// two threads rarely wait for each other when key frames vary in cost: as
// many as fit kInHandPixels for the screen last handed over, between
// kMinInHand and kMaxInHand. slot() blocks while that many are. Each slot
// keeps the room its biggest handover needed, at most a whole screen, so the
// memory held stays under kMaxInHand screens, and under kInHandPixels
// pixels plus two screens for big ones. The index device is used
// by the writer's thread alone between begin() and the end of finish() or
// abort(). The destructor aborts.
class KeyFrameWriter : public Thread
{
public:
    // The key frames are compressed by Zip::zipBufferFastest (bench/README.md:
    // size and time of each compressor): the writer's largest cost, which
    // the index's size can afford.
    // Key frames in hand at once: 8 for screens up to 2 Mpixel (1080p),
    // fewer for bigger ones, never under 2.
    static constexpr int kMinInHand = 2;
    static constexpr int kMaxInHand = 8;
    static constexpr qint64 kInHandPixels = 16 * 1024 * 1024;

    // One handover. The building thread fills every field.
    struct KeyFrame
    {
        quint64 time = 0;      // of the unit after which it was taken
        quint64 filePos = 0;   // of that unit's header in the recording
        int width = 0;         // the screen (0 x 0: no screen yet)
        int height = 0;
        int scale = 0;         // JPEG factor named in the record's prefix
        int quality = 0;       // of the encoder's JPEG boxes
        // The screen was sized or cleared since the previous handover: the
        // writer's copy starts as a black width x height screen and the
        // encoder forgets its coded boxes.
        bool newScreen = false;
        // Grid indices (row-major, 16 x 16 boxes) of the boxes painted since
        // the previous handover, and how each comes (kinds, one per box):
        // - 0: its pixels, 256 in `pixels`, rows of 16 (the part of an edge
        //   box beyond the screen is not read);
        // - GridFormat::JPEG: JPEG data that decodes, at the factor of
        //   `quality`, to exactly its pixels, in `jpegData` with its length
        //   in `jpegLengths`;
        // - 1..5: the with-palette code that paints exactly its pixels
        //   (GridFormat::paletteCodeBytes of the kind), in `codes`;
        // - GridFormat::RAW: its RAW code (GridFormat::kRawCodeBytes), in
        //   `codes`.
        // Each array holds its boxes' parts one after the other, in the
        // order of `boxes`.
        Array<int, int> boxes;
        Array<unsigned char, int> kinds;
        Array<unsigned int, int> pixels;
        Array<unsigned char, int> codes;
        Array<int, int> jpegLengths;
        Array<unsigned char, int> jpegData;
    };

    explicit KeyFrameWriter(QIODevice* index);
    ~KeyFrameWriter() override;

    KeyFrameWriter(const KeyFrameWriter&) = delete;
    KeyFrameWriter& operator=(const KeyFrameWriter&) = delete;

    void begin();
    // A free handover to fill, or null once the writer has failed or
    // stopped. Blocks while as many key frames are in hand as the screen
    // allows.
    KeyFrame* slot();
    // Hands the slot over, to be written after those before it.
    void submit(KeyFrame* keyFrame);
    // Waits until every key frame handed over is written and stops the
    // thread. False when one failed (failure() says why).
    bool finish();
    // Stops the thread without writing what is still in hand (a cancel, or
    // a failure of the building thread); waits until it has stopped.
    void abort();

    bool failed() const;
    QString failure() const;
    // The records written, in order; complete after finish().
    const Array<IndexEntryPoint, int>& entries() const { return m_entries; }

    // Called on the writer's thread before each key frame is encoded, with
    // its number from 0; an exception thrown there fails the key frame.
    // Tests hold or fail the writer with it. Set before begin().
    void setHook(std::function<void(int)> hook) { m_hook = std::move(hook); }

    void run() override;
    bool autoDelete() override { return false; }

private:
    void write(KeyFrame& k);
    // Takes the handover's pixels into the screen and its codes into
    // m_given; false when it has no codes.
    bool applyBoxes(const KeyFrame& k);
    void stopThread(bool discard);

    QIODevice* m_index;
    std::function<void(int)> m_hook;

    // Handover state, under m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int inHandLimit() const;
    std::vector<std::unique_ptr<KeyFrame>> m_slots; // made as needed
    std::deque<KeyFrame*> m_free;
    int m_inHand = 0;               // handed out by slot(), not yet written
    qint64 m_screenPixels = 0;      // of the last key frame handed over
    std::deque<KeyFrame*> m_queue;  // handed over, oldest first; the writer
                                    // works on the front one
    bool m_stop = false;            // no more key frames come
    bool m_discard = false;         // drop what is in hand
    bool m_failed = false;
    bool m_started = false;
    // m_failed for the building thread's poll once per unit, without the
    // lock; written under it.
    std::atomic<bool> m_failedFlag{false};
    QString m_failure;

    // The writer thread's own (the building thread reads m_entries after
    // the thread has stopped).
    VideoFrame m_screen;
    Array<unsigned char, int> m_unchanged; // one byte per box: 1 = not handed over
    std::vector<GridEncoder::GivenCode> m_given; // per box, for the encoder
    int m_factor = -1; // JPEG factor of the last key frame
    Array<unsigned char, int> m_jpegOnly; // one byte per box: 1 = came as JPEG data
    GridEncoder m_encoder;
    Array<unsigned char, int> m_packed;
    Array<IndexEntryPoint, int> m_entries;
    int m_written = 0;
};
