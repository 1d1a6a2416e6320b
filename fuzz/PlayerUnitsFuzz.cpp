// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes as a whole recording through the player's reading and
// dispatch, headless: the one unit reader (as the player's readUnit uses it,
// passing over damaged stretches) and the unit dispatch the play loop, the
// catch-up and the first screen use, until the recording ends; then the walk
// over the unit headers that finds the real end, over the same bytes.
//
// Checks beyond the sanitizers: a payload is exactly as long as its header
// says, and every byte handed to the view lies inside the payload; every unit
// is of a known kind; reading only moves forward; a damaged stretch lies
// inside the file and reading goes on where it ends; the header walk sees the
// same units (those that do not inflate included), damage and real end.
//
// Seeds: run with SP_WRITE_SEEDS=<folder> to write the seed recordings made
// by RecordingWriter (fuzz/corpus/player_units/ holds them).
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Exception.h"
#include "ActivityMap.h"
#include "ActivityScan.h"
#include "FuzzView.h"
#include "GridDecoder.h"
#include "RecordReader.h"
#include "RecordScan.h"
#include "RecordingWriter.h"
#include "UnitDispatch.h"
#include "Zip.h"

namespace {

void writeSeeds(const QString& folder)
{
    QDir().mkpath(folder);
    auto record = [&](const char* name, bool compress, bool chunked) {
        RecordingWriter w;
        w.open(folder + QLatin1Char('/') + QLatin1String(name));
        w.setCompression(compress);
        w.setChunkedScreen(chunked);
        w.setJpegQuality(70);
        VideoFrame frame;
        frame.resize(40, 24);
        for (int f = 0; f < 4; ++f) {
            for (int i = 0; i < 40 * 24; ++i)
                frame.pixels()[i] = 0xFF000000u | static_cast<unsigned>((i * (f + 3)) % 251) * 0x010203u;
            w.writeScreenFrame(static_cast<uint64_t>(f) * 100, frame, f == 2 ? 0xEB : 0xED);
            w.writeMousePos(static_cast<uint64_t>(f) * 100 + 50, f * 3, f * 2, 7);
        }
        QImage cursor(4, 4, QImage::Format_ARGB32);
        cursor.fill(0xFF102030u);
        w.writeCursor(420, 7, cursor, 1, 1, QStringList{QString(), QStringLiteral("arrow")});
        w.writePause(430);
        const int16_t samples[8] = {0, 1000, -1000, 2000, 0, -2000, 100, -100};
        w.writeAudio(440, RecordingWriter::CAP, samples, 4, 2);
        w.writeAudio(450, RecordingWriter::SPK, samples, 8, 1);
        w.writeInfo(460, QByteArray("info"));
        w.finish();
    };
    record("plain.vro", false, false);
    // The same with a stretch of it broken, for the reader's resynchronisation.
    QFile plain(folder + QStringLiteral("/plain.vro"));
    if (plain.open(QIODevice::ReadOnly)) {
        QByteArray bytes = plain.readAll();
        for (int i = 0; i < 64 && 200 + i < bytes.size(); ++i)
            bytes[200 + i] = static_cast<char>((i * 73 + 41) & 0xFF);
        QFile damaged(folder + QStringLiteral("/damaged.vro"));
        if (damaged.open(QIODevice::WriteOnly))
            damaged.write(bytes);
    }
    record("compressed.vro", true, false);
    record("chunked.vro", false, true);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A few kilobytes of deflate could otherwise inflate to the wrapper's
    // 256 MiB cap on every input.
    Zip::setMaxUnzippedSize(8 * 1024 * 1024);
    const QByteArray seeds = qgetenv("SP_WRITE_SEEDS");
    if (!seeds.isEmpty())
        writeSeeds(QString::fromLocal8Bit(seeds));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    RecordReader reader(&device);
    RecordFileHeader fileHeader;
    try {
        reader.readFileHeader(fileHeader);
    } catch (const Exception&) {
        return 0;
    }

    GridDecoder decoder;
    FuzzView view;
    decoder.m_listener = &view;
    bool started = false;
    RecordUnitHeader header;
    Array<unsigned char, int> payload, packed;
    const qint64 fileSize = static_cast<qint64>(size);
    qint64 lastPos = 0;
    quint64 units = 0, realEnd = 0;
    int damaged = 0;
    bool complete = false;
    for (int n = 0; n < 100000; ++n) {
        RecordReader::Result r;
        try {
            r = reader.readUnit(header, payload, packed);
        } catch (const Exception&) {
            break; // "Error Reading file"
        }
        if (r == RecordReader::Damaged) {
            const RecordReader::Damage& d = reader.damage();
            if (d.from < RecordReader::FIRST_UNIT_OFFSET || d.from < lastPos || d.to <= d.from
                || d.to > fileSize || (d.toEnd && d.to != fileSize) || device.pos() != d.to)
                std::abort();
            lastPos = d.from;
            if (d.problem == RecordReader::NotInflating) {
                ++units;
                realEnd = std::max<quint64>(realEnd, d.time);
            } else {
                ++damaged;
            }
            continue;
        }
        if (r != RecordReader::Unit) {
            complete = true;
            break;
        }
        if (!header.isValid() || reader.unitPos() < lastPos
            || header.m_size != static_cast<uint64_t>(payload.count()))
            std::abort();
        lastPos = reader.unitPos();
        ++units;
        realEnd = std::max<quint64>(realEnd, header.m_time);
        view.payloadBegin = payload.data();
        view.payloadEnd = payload.data() + payload.count();
        switch (header.kind()) {
        case RecordUnitHeader::KIND_CONTROL:
            UnitDispatch::processControlUnit(payload.data(), payload.count(), &view);
            break;
        case RecordUnitHeader::KIND_SCREEN:
            UnitDispatch::processScreenUnit(payload.data(), payload.count(), decoder, &view,
                                            started);
            break;
        default:
            break; // info and audio payloads are not interpreted here
        }
    }

    if (complete) {
        const RecordScan::Result walk = RecordScan::scan(device);
        if (!walk.readable || walk.units != units || walk.realEnd != realEnd
            || walk.damageCount != damaged)
            std::abort();
        // The activity walk reads the control and sound payloads too; it
        // passes over the same units and fills a bounded map.
        ActivityMap map;
        ActivityScan activity(map);
        activity.begin();
        const RecordScan::Result seen = RecordScan::scan(device, nullptr, &activity);
        if (seen.units != walk.units || seen.realEnd != walk.realEnd || !map.isComplete()
            || map.secondCount() > ActivityMap::kMaxSeconds)
            std::abort();
        ActivityMap::Stretch stretch;
        for (const ActivityMap::Stretch& s : map.idleStretches())
            if (s.to - s.from <= ActivityMap::kIdleMs || !map.idleStretchAt(s.from + 1, stretch)
                || stretch.from != s.from || stretch.to != s.to)
                std::abort();
    }
    return 0;
}
