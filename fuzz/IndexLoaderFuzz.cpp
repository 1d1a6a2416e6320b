// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes as the index of a small valid recording: the loader
// (IndexFile::load, as the player's loadIndex calls it), then, for a few seek
// targets, the player's own entry choice, key-frame restore and a short
// catch-up, as doSeek does them. Headless, in memory.
//
// Checks beyond the sanitizers: an invalid index yields no entries; every
// entry kept lies inside the index and the recording, in ascending time; the
// chosen entry is never after its target.
//
// Seeds: run with SP_WRITE_SEEDS=<folder> to write indexes that IndexBuilder
// builds for the harness's recording (fuzz/corpus/index_loader/ holds them).
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Exception.h"
#include "FuzzView.h"
#include "GridDecoder.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "RecordReader.h"
#include "RecordingWriter.h"
#include "Seeking.h"
#include "UnitDispatch.h"
#include "Zip.h"

namespace {

// 25 s of a 48 x 32 screen, a frame every 500 ms: key frames at 10 and 20 s.
QByteArray makeRecording()
{
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadWrite);
    RecordingWriter w;
    w.open(&device);
    w.setJpegQuality(70);
    VideoFrame frame;
    frame.resize(48, 32);
    for (int f = 0; f <= 50; ++f) {
        for (int i = 0; i < 48 * 32; ++i)
            frame.pixels()[i] = 0xFF000000u | static_cast<unsigned>(((i / 16) * 7 + f) % 13) * 0x0A0B0Cu;
        if (f % 10 == 3) // a photographic corner now and then
            for (int i = 0; i < 16; ++i)
                for (int j = 0; j < 16; ++j)
                    frame.pixels()[i * 48 + j] = 0xFF000000u | static_cast<unsigned>((i * 37 + j * 91 + f) % 256) * 0x010101u;
        w.writeScreenFrame(static_cast<uint64_t>(f) * 500, frame);
        w.writeMousePos(static_cast<uint64_t>(f) * 500, f, f, 1);
    }
    w.finish();
    return bytes;
}

const QByteArray& recording()
{
    static const QByteArray bytes = makeRecording();
    return bytes;
}

void writeSeeds(const QString& folder)
{
    QDir().mkpath(folder);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.vro"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(recording()) != recording().size())
        return;
    f.close();
    for (int interval : {10000, 4000}) {
        IndexBuilder builder;
        if (!builder.makeIndex(path, interval))
            continue;
        QFile::copy(IndexFile::indexFileName(path),
                    folder + QStringLiteral("/built_%1ms.vr4x").arg(interval));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Zip::setMaxUnzippedSize(8 * 1024 * 1024);
    recording();
    const QByteArray seeds = qgetenv("SP_WRITE_SEEDS");
    if (!seeds.isEmpty())
        writeSeeds(QString::fromLocal8Bit(seeds));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray indexBytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer index(&indexBytes);
    index.open(QIODevice::ReadOnly);
    QByteArray recordingBytes = recording();
    QBuffer rec(&recordingBytes);
    rec.open(QIODevice::ReadOnly);

    IndexFileHeader header;
    Array<IndexEntryPoint, int> entries;
    bool valid = false;
    try {
        valid = IndexFile::load(index, header, entries, rec.size());
    } catch (const Exception&) {
        return 0;
    }
    if (!valid) {
        if (entries.count() != 0)
            std::abort();
        return 0;
    }
    for (int i = 0; i < entries.count(); ++i) {
        const IndexEntryPoint& e = entries[i];
        if (e.m_size == 0 || e.m_indexPos + IndexEntryPoint::PREFIX_SIZE + e.m_size
                                 > static_cast<uint64_t>(indexBytes.size())
            || e.m_filePos >= static_cast<uint64_t>(rec.size())
            || (i > 0 && e.m_time < entries[i - 1].m_time))
            std::abort();
    }

    GridDecoder decoder;
    FuzzView view;
    decoder.m_listener = &view;
    RecordReader reader(&rec);
    RecordUnitHeader unit;
    Array<unsigned char, int> payload, packed, keyFrame;
    const long long last = entries.count() > 0 ? static_cast<long long>(entries[entries.count() - 1].m_time) : 0;
    for (long long target : {0LL, 12000LL, last, last + 1}) {
        const int e = Seeking::chooseRestorableEntry(entries, target, reader);
        if (e == Seeking::RESTART)
            continue;
        if (e < 0 || e >= entries.count() || static_cast<long long>(entries[e].m_time) > target)
            std::abort();
        try {
            if (!reader.seekUnit(static_cast<qint64>(entries[e].m_filePos), entries[e].m_time))
                continue;
            if (!Seeking::restoreKeyFrame(index, entries[e], header.m_flags, decoder, &view,
                                          packed, keyFrame))
                continue;
            // A short catch-up from the entry's unit, as the seek does it.
            bool started = true;
            for (int n = 0; n < 8; ++n) {
                const RecordReader::Result r = reader.readUnit(unit, payload, packed);
                if (r == RecordReader::Damaged)
                    continue;
                if (r != RecordReader::Unit)
                    break;
                if (n > 0 && unit.kind() == RecordUnitHeader::KIND_SCREEN)
                    UnitDispatch::processScreenUnit(payload.data(), payload.count(), decoder,
                                                    &view, started);
            }
        } catch (const Exception&) {
            // "Error Reading file", "Unknown Data Compression format"
        }
    }
    return 0;
}
