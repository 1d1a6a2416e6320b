// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>

// What one export writes: the output, the range of the recording, the video's
// size, rate and quality, and whether the pointer and the sound are in it.
// Filled by `sessiontool export` from its options and by the window's export
// dialog; ClipExporter checks it before anything is written.
struct ExportSettings
{
    enum Container { Mp4, WebM };

    QString recording;          // the recording to read (never written)
    QString output;             // OUT.mp4 or OUT.webm
    quint64 fromMs = 0;         // start of the range, media time
    // End of the range; 0 (or kToEnd) is the end of the recording.
    quint64 toMs = 0;
    int fps = 15;               // the most frames a second; fewer while still
    // The video's size: `size` when valid (fitted, aspect kept, black bars
    // where the ratios differ), else `height` with the width following the
    // screen's aspect, else the screen's size. Rounded down to even numbers.
    QSize size;
    int height = 0;
    bool cursor = true;         // draw the pointer
    bool sound = true;          // mix the two audio streams into the file
    // Quality, lower is better: -1 takes the codec's default (23 for H.264,
    // 32 for VP9).
    int crf = -1;

    static constexpr int kMaxFps = 120;
    static constexpr int kMinSide = 16;
    static constexpr int kMaxSide = 8192;

    // The container an output path asks for by its extension (.mp4, .webm,
    // any case); false for any other.
    static bool containerFor(const QString& path, Container& container);
    // The crf to use for `container` (the default where crf is -1).
    int crfFor(Container container) const;
    // A problem with the values themselves (fps, crf, sizes), in words, or
    // the empty text.
    QString check() const;
    // The video size for a screen of `screen` pixels, as described at `size`.
    QSize videoSizeFor(QSize screen) const;
};
