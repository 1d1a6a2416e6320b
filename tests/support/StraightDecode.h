// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The oracle of seeks and of `sessiontool frame`: the screen a recording shows
// at a moment, rebuilt straight from its first unit without the player's
// dispatch. Full-screen headers (0xE9) go to decodeScreen, updates and ends of
// frames (0xEA..0xED) to decode once a screen has started. Needs the player
// library.

#include <QFile>
#include <QString>

#include "GridDecoder.h"
#include "RecordReader.h"
#include "ScreenDiff.h"
#include "ScreenFrame.h"

// The screen after every unit that `take(unit, position of its header)`
// accepts, up to the first one it refuses; empty when the file cannot be
// read.
template <class Take>
VideoFrame straightDecodeWhile(const QString& path, Take take)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return VideoFrame();
    RecordReader reader(&file);
    RecordFileHeader header;
    reader.readFileHeader(header);
    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed;
    GridDecoder decoder;
    ScreenFrame screen;
    decoder.m_listener = &screen;
    bool started = false;
    for (;;) {
        // Damaged stretches are passed over, as the player passes over them.
        const RecordReader::Result r = reader.readUnit(unit, payload, packed);
        if (r == RecordReader::Damaged)
            continue;
        if (r != RecordReader::Unit || !take(unit, reader.unitPos()))
            break;
        if (unit.kind() != RecordUnitHeader::KIND_SCREEN || payload.count() < 2)
            continue;
        const unsigned char code = payload[0];
        const int length = payload.count() - 2;
        if (code == 0xE9 && length >= 5) {
            decoder.decodeScreen(payload.data() + 2, length);
            started = true;
        } else if (code >= 0xEA && code <= 0xED && started && length > 0) {
            decoder.decode(payload.data() + 2, length);
        }
    }
    return screen;
}

// The screen after every unit with a time up to `upToMs` (before it when not
// `inclusive`).
inline VideoFrame straightDecode(const QString& path, quint64 upToMs, bool inclusive = true)
{
    return straightDecodeWhile(path, [=](const RecordUnitHeader& unit, qint64) {
        return inclusive ? unit.m_time <= upToMs : unit.m_time < upToMs;
    });
}

// The screen after every unit whose header lies before file offset `pos`.
inline VideoFrame straightDecodeBefore(const QString& path, qint64 pos)
{
    return straightDecodeWhile(path, [=](const RecordUnitHeader&, qint64 at) { return at < pos; });
}
