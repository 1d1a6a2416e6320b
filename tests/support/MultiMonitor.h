// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A session recorded from five 3840 x 2160 monitors side by side: one screen
// of 19200 x 2160 pixels (41.5 million), wider than any one image side
// libraries commonly allow. Needs the recording writer (tools/).

#include <QString>

#include "RecordingWriter.h"
#include "VideoFrame.h"

constexpr int kMonitors = 5;
constexpr int kMonitorWidth = 3840;
constexpr int kMonitorHeight = 2160;

// The colour monitor `m` is painted with.
inline unsigned int monitorColour(int m)
{
    return 0xFF000000u | (0x304050u * unsigned(m + 1) & 0xFFFFFFu);
}

// Every monitor in its own colour; a striped window of 1000 x 600 pixels
// lies on monitor `windowOn`.
inline VideoFrame multiMonitorScreen(int windowOn)
{
    VideoFrame frame;
    frame.resize(kMonitors * kMonitorWidth, kMonitorHeight);
    unsigned int* p = frame.pixels();
    for (int y = 0; y < kMonitorHeight; ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const int m = x / kMonitorWidth, wx = x - windowOn * kMonitorWidth - 400;
            const bool window = wx >= 0 && wx < 1000 && y >= 300 && y < 900;
            *p++ = window ? ((x + y) % 4 ? 0xFFFFFFFFu : 0xFF101010u) : monitorColour(m);
        }
    }
    return frame;
}

// The window on monitor 0 at 0 s, on monitor 3 from 1 s, the mouse at the
// right edge at 1.5 s; 2 s long.
inline void writeMultiMonitorRecording(const QString& path)
{
    RecordingWriter writer;
    writer.open(path);
    for (int second = 0; second < 2; ++second) {
        VideoFrame frame = multiMonitorScreen(second * 3);
        writer.writeScreenFrame(quint64(second) * 1000, frame);
    }
    writer.writeMousePos(1500, kMonitors * kMonitorWidth - 10, 100, 1);
    writer.finish(2000);
}
