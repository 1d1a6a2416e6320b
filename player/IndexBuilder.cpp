// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexBuilder.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Exception.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "Log.h"
#include "Thread.h"
#include "UnitDispatch.h"
#include "Zip.h"

namespace {

// What a key frame's handover may hold per box, on the largest grid.
constexpr long long kMaxBoxes = GridFormat::kMaxScreenPixels / GridFormat::kBoxPixels;
static_assert(kMaxBoxes * IndexBuilder::kMaxKeptJpeg <= INT_MAX, "JPEG data of a handover");
static_assert(kMaxBoxes * GridFormat::kRawCodeBytes <= INT_MAX, "codes of a handover");

quint64 nowMs()
{
    return static_cast<quint64>(QDateTime::currentMSecsSinceEpoch());
}

// A key frame failed on the writer's thread: the build fails here.
[[noreturn]] void throwWriterFailure(const KeyFrameWriter& writer)
{
    FileCantWriteException e;
    e.setReason(writer.failure());
    throw e;
}

} // namespace

IndexBuilder::IndexBuilder()
{
    m_decoder.m_listener = this;
    // Boxes go into the key frames as the recording coded them.
    m_decoder.setKeepCodes(true);
    m_decoder.setPalettePixels(false);
    m_recordingScale = GridFormat::jpegScaleForQuality(kInitialQuality);
    m_payload.setGrowBy(1024 * 1024);
}

IndexBuilder::~IndexBuilder() = default;

QString IndexBuilder::tempFileName(const QString& indexFileName)
{
    return indexFileName + QStringLiteral(".part");
}

int IndexBuilder::qualityForScale(int scale)
{
    int best = 0;
    for (int q = 0; q <= 100; ++q) {
        if (std::abs(GridFormat::jpegScaleForQuality(q) - scale)
            < std::abs(GridFormat::jpegScaleForQuality(best) - scale))
            best = q;
    }
    return best;
}

void IndexBuilder::onScreenDimension(int width, int height)
{
    m_frame.onScreenDimension(width, height);
    // Cleared: only what is painted from now on needs handing over.
    m_columns = (m_frame.width() + GridFormat::kBoxSize - 1) / GridFormat::kBoxSize;
    const int rows = (m_frame.height() + GridFormat::kBoxSize - 1) / GridFormat::kBoxSize;
    m_painted.setCount(m_columns * rows);
    std::fill(m_painted.data(), m_painted.data() + m_painted.count(), 0);
    m_codeKind.setCount(m_painted.count());
    std::fill(m_codeKind.data(), m_codeKind.data() + m_codeKind.count(), 0);
    m_jpegOf.resize(static_cast<size_t>(m_painted.count()));
    for (BoxJpeg& j : m_jpegOf)
        j.data.clear();
    m_codeOf.setCount(m_painted.count() * kCodeSlot + kCodeAlign);
    m_newScreen = true;
}

void IndexBuilder::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    constexpr int b = GridFormat::kBoxSize;
    // The decoder's boxes lie on the grid: one mark.
    if (box && x >= 0 && y >= 0 && x % b == 0 && y % b == 0 && x < m_frame.width()
        && y < m_frame.height() && width > 0 && height > 0 && width <= b && height <= b) {
        const int i = y / b * m_columns + x / b;
        m_painted[i] = 1;
        // A box of a palette code goes by its code alone: the decoder does
        // not paint it, and the frame keeps the pixels of the boxes that
        // have no such code (JPEG boxes: needed as pixels when their data
        // has another factor than a key frame's).
        const int kind = m_decoder.reportedPaletteKind();
        if (kind > 0) {
            m_codeKind[i] = static_cast<unsigned char>(kind);
            m_decoder.reportedPaletteCode(codeSlot(i));
            return;
        }
        m_frame.onBoxDecoded(box, x, y, width, height);
        // The code of what the box shows now: JPEG data, or a palette code.
        const Array<unsigned char, int>* jpeg = m_decoder.reportedJpegData();
        if (jpeg && jpeg->count() > 0) {
            if (jpeg->count() > kMaxKeptJpeg) {
                m_codeKind[i] = GridFormat::RAW;
                return;
            }
            BoxJpeg& j = m_jpegOf[static_cast<size_t>(i)];
            j.data.assign(jpeg->data(), jpeg->data() + jpeg->count());
            j.scale = m_decoder.jpegDataScale();
            m_codeKind[i] = GridFormat::JPEG;
            return;
        }
        m_codeKind[i] = 0;
        return;
    }
    // Any other rectangle: every box of the frame it touches (the frame
    // clips it) goes by its pixels from now on, so those the decoder left
    // out are painted from their codes first.
    const long long x0 = std::max(0, x), y0 = std::max(0, y);
    const long long x1 = std::min<long long>(static_cast<long long>(x) + width, m_frame.width());
    const long long y1 = std::min<long long>(static_cast<long long>(y) + height, m_frame.height());
    if (box && x0 < x1 && y0 < y1) {
        for (long long row = y0 / b; row <= (y1 - 1) / b; ++row)
            for (long long column = x0 / b; column <= (x1 - 1) / b; ++column) {
                const int i = static_cast<int>(row * m_columns + column);
                if (m_codeKind[i] >= GridFormat::COLOR_1 && m_codeKind[i] <= GridFormat::COLORS_16)
                    paintFromCode(i);
                m_painted[i] = 1;
                m_codeKind[i] = 0;
            }
    }
    m_frame.onBoxDecoded(box, x, y, width, height);
}

void IndexBuilder::paintFromCode(int i)
{
    constexpr int b = GridFormat::kBoxSize;
    GridDecoder one;
    ScreenFrame pixels;
    one.m_listener = &pixels;
    unsigned char header[GridFormat::kScreenHeaderSize];
    GridFormat::writeScreenHeader(b, b, 0, header);
    one.decodeScreen(header, GridFormat::kScreenHeaderSize);
    const unsigned char* code = codeSlot(i);
    one.decode(code, GridFormat::paletteCodeBytes(code[0]));
    const int x = i % m_columns * b;
    const int y = i / m_columns * b;
    m_frame.onBoxDecoded(&pixels, x, y, std::min(b, m_frame.width() - x),
                         std::min(b, m_frame.height() - y));
}

RecordReader::Result IndexBuilder::readInputUnit()
{
    for (;;) {
        // Only screen units are decoded: the payloads of the others are
        // passed over unread (damage inside one of them is the player's and
        // `sessiontool check`'s to report; the build does not need it).
        m_payload.setCount(0);
        RecordReader::Result r = m_reader.readUnitHeader(m_unitHeader);
        if (r == RecordReader::Unit) {
            if (m_unitHeader.kind() == RecordUnitHeader::KIND_SCREEN)
                r = m_reader.readPayload(m_unitHeader, m_payload, m_packed);
            else
                m_reader.skipPayload(m_unitHeader);
        }
        if (r != RecordReader::Damaged)
            return r;
        // The index covers what can be played: the stretch is passed over.
        const RecordReader::Damage& d = m_reader.damage();
        if (m_damage.size() < kMaxDamageKept)
            m_damage.append(d);
        logDebug2("Index build passed over damage: offsets %1 to %2",
                  QByteArray::number(d.from).constData(), QByteArray::number(d.to).constData());
    }
}

void IndexBuilder::fail(const QString& what)
{
    if (m_failure.isEmpty())
        m_failure = what;
}

void IndexBuilder::writeOrThrow(const unsigned char* data, qint64 length)
{
    if (length <= 0)
        return;
    if (m_indexFile.write(reinterpret_cast<const char*>(data), length) != length) {
        FileCantWriteException e;
        e.setReason(m_indexFile.errorString());
        throw e;
    }
}

bool IndexBuilder::makeIndex(const QString& fileName, int interval)
{
    const IndexLocation location;
    m_fileName = fileName;
    m_indexFileName = location.placeFor(fileName);
    m_tempFileName = m_indexFileName.isEmpty() ? QString() : tempFileName(m_indexFileName);
    m_interval = interval;

    m_failure.clear();
    m_damage.clear();
    bool ok = false;
    bool created = false;
    try {
        if (interval <= 0) {
            fail(QStringLiteral("the key-frame interval must be positive"));
            throw IncorrectFileException();
        }
        m_file.setFileName(fileName);
        if (!m_file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot open the recording: ") + m_file.errorString());
            throw FileCantOpenException();
        }
        m_reader.setDevice(&m_file);
        try {
            m_reader.readFileHeader(m_fileHeader);
        } catch (const IncorrectFileException&) {
            fail(QStringLiteral("not a recorded session"));
            throw;
        }

        // The index file is created only for a recording that was accepted.
        if (m_tempFileName.isEmpty()) {
            fail(QStringLiteral("no folder for its index can be written"));
            throw FileCantCreateException();
        }
        m_indexFile.setFileName(m_tempFileName);
        // Read too: a table that grows at the end moves the key frames.
        if (!m_indexFile.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
            fail(QStringLiteral("cannot create the index %1: %2")
                     .arg(m_tempFileName, m_indexFile.errorString()));
            throw FileCantCreateException();
        }
        created = true;
        ok = doWork();
        if (!ok)
            fail(QStringLiteral("cancelled"));
    } catch (const FileCantWriteException& e) {
        // The reason is the device's, or the key-frame writer's own.
        fail(QStringLiteral("cannot write the index: ")
             + (e.getReason().isEmpty() ? m_indexFile.errorString() : e.getReason()));
        ok = false;
    } catch (const FileCantReadException& e) {
        fail(QStringLiteral("cannot read the recording: ") + e.getReason());
        ok = false;
    } catch (const Exception& e) {
        logDebug2("Index build failed: %1 %2", e.getErrorMessage().toUtf8().constData(),
                  e.getReason().toUtf8().constData());
        fail(QStringLiteral("the recording could not be decoded"));
        ok = false;
    } catch (const std::exception& e) {
        logDebug1("Index build failed: %1", e.what());
        fail(QStringLiteral("the recording could not be decoded"));
        ok = false;
    } catch (...) {
        logDebug("Index build failed");
        fail(QStringLiteral("the recording could not be decoded"));
        ok = false;
    }

    m_file.close();
    m_reader.setDevice(nullptr);
    if (m_indexFile.isOpen()) {
        const bool flushed = m_indexFile.flush();
        m_indexFile.close();
        if (ok && (!flushed || m_indexFile.error() != QFileDevice::NoError)) {
            fail(QStringLiteral("cannot write the index: ") + m_indexFile.errorString());
            ok = false;
        }
    }
    if (ok) {
        // Atomic on POSIX: the index appears whole or not at all.
        const QByteArray from = QFile::encodeName(m_tempFileName);
        const QByteArray to = QFile::encodeName(m_indexFileName);
        ok = std::rename(from.constData(), to.constData()) == 0;
        if (ok)
            location.noteWritten(m_indexFileName);
        else
            fail(QStringLiteral("cannot rename the index to %1: %2")
                     .arg(m_indexFileName, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!ok && created) {
        QFile::remove(m_tempFileName);
        QFile::remove(m_indexFileName);
    }
    // A stop that came after the build ended must not cancel the next one.
    m_cancel.store(false);
    return ok;
}

bool IndexBuilder::doWork()
{
    // Placeholder header: magic and count 0, so a file cut short here never
    // loads as an index.
    m_header.clear();
    m_header.m_flags = m_flags;
    if (!m_header.write(m_indexFile))
        throw FileCantWriteException();

    // One entry per interval over the header's duration, or over the real
    // end when the header says less (an unfinished recording says 0), but
    // never more than the file can hold key frames for: each needs a unit of
    // at least 24 bytes. The real end is the latest unit time the build
    // itself meets: the table is made for the header's duration now and
    // grown at the end when the units went further (finishTable), rather
    // than walking over every unit header first on this thread.
    m_count = tableSizeFor(m_fileHeader.m_duration);
    const quint64 placeholders = m_count;

    // Placeholder entries (zeros), written in blocks.
    {
        static const unsigned char zeros[64 * 1024] = {};
        quint64 left = m_count * IndexEntryPoint::SIZE;
        while (left > 0) {
            const qint64 n = static_cast<qint64>(std::min<quint64>(left, sizeof zeros));
            writeOrThrow(zeros, n);
            left -= static_cast<quint64>(n);
        }
    }
    // The second thread; stopped when this function leaves, whichever way.
    KeyFrameWriter writer(&m_indexFile);
    writer.setHook(m_keyFrameHook);
    m_taken = 0;

    if (!m_frame.isEmpty())
        m_frame.resize(0, 0);
    m_painted.setCount(0);
    m_columns = 0;
    m_newScreen = true;
    m_lastKeyFrameScale = -1;
    m_decoder.reset();
    m_recordingScale = GridFormat::jpegScaleForQuality(kInitialQuality);
    quint64 lastReport = nowMs();

    writer.begin();
    RecordReader::Result r = readInputUnit();
    quint64 lastTime = 0;
    quint64 realEnd = 0;
    quint64 prev = 0;
    quint64 acc = 0;
    bool started = false;
    bool inFrame = false; // a frame's first parts are applied, its end is still to come
    // Every unit is read, for the real end; at most one key frame is taken
    // per unit, so their number stays within the file's bound.
    while (r == RecordReader::Unit) {
        if (m_cancel.load())
            return false;
        if (writer.failed())
            throwWriterFailure(writer);
        const quint64 time = m_unitHeader.m_time;
        lastTime = time;
        realEnd = std::max(realEnd, time);

        // The frame is rebuilt exactly as playback paints it.
        if (m_unitHeader.kind() == RecordUnitHeader::KIND_SCREEN) {
            switch (UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(),
                                                    m_decoder, nullptr, started)) {
            case UnitDispatch::ScreenStep::Header:
                m_recordingScale = m_decoder.jpegScale();
                break;
            case UnitDispatch::ScreenStep::Update:
                inFrame = true;
                break;
            case UnitDispatch::ScreenStep::FrameEnd:
                inFrame = false;
                break;
            case UnitDispatch::ScreenStep::Ignored:
                break;
            }
        }

        // A unit time below the previous one counts as no time passing: an
        // unsigned difference would wrap round and take a key frame older
        // than the one before.
        if (time > prev)
            acc += time - prev;
        prev = time;

        // A key frame is taken between frames only: the later parts of a
        // frame paint with the palette its earlier parts left, which a key
        // frame does not carry. Its position is the unit's own offset: after
        // damage it is where the reader resynchronised, not where the read
        // began.
        if (acc >= static_cast<quint64>(m_interval) && !inFrame) {
            takeKeyFrame(writer, time, static_cast<quint64>(m_reader.unitPos()));
            acc = 0;
        }

        const quint64 now = nowMs();
        if (now - lastReport >= static_cast<quint64>(kProgressPeriodMs) || now < lastReport) {
            emit idxPositionChanged(time / 1000);
            Thread::sleep(0);
            lastReport = now;
        }

        r = readInputUnit();
    }
    if (m_cancel.load())
        return false;
    if (!writer.finish())
        throwWriterFailure(writer);
    // A cancel that came while the last key frames were written holds too.
    if (m_cancel.load())
        return false;

    emit idxPositionChanged(lastTime / 1000);
    finishTable(writer.entries(), placeholders,
                tableSizeFor(std::max<quint64>(m_fileHeader.m_duration, realEnd)));
    return true;
}

quint64 IndexBuilder::tableSizeFor(quint64 length) const
{
    const quint64 wanted = length / static_cast<quint64>(m_interval) + 1;
    const quint64 fileBound = static_cast<quint64>(m_file.size()) / RecordUnitHeader::SIZE + 1;
    const quint64 intBound = static_cast<quint64>(INT_MAX);
    return std::min(wanted, std::min(fileBound, intBound));
}

void IndexBuilder::finishTable(const Array<IndexEntryPoint, int>& written, quint64 placeholders,
                               quint64 count)
{
    constexpr quint64 entrySize = IndexEntryPoint::SIZE;
    const quint64 oldStart = IndexFileHeader::SIZE + placeholders * entrySize;
    Array<IndexEntryPoint, int> entries;
    entries.copy(written);

    // Key frames past the table's size (a recording whose times step back
    // accumulates more intervals than its real end holds) are dropped with
    // their records.
    if (static_cast<quint64>(entries.count()) > count) {
        const quint64 kept = count;
        const quint64 end = kept == 0 ? oldStart
            : entries[static_cast<int>(kept) - 1].m_indexPos + IndexEntryPoint::PREFIX_SIZE
                + entries[static_cast<int>(kept) - 1].m_size;
        entries.setCount(static_cast<int>(kept));
        if (!m_indexFile.flush() || !m_indexFile.resize(static_cast<qint64>(end)))
            throw FileCantWriteException();
    }

    // A table that grew: the key frames move up to make room. Copied from the
    // end backwards in blocks, so each block is read before it is written
    // over.
    if (count > placeholders) {
        const quint64 shift = (count - placeholders) * entrySize;
        if (!m_indexFile.flush())
            throw FileCantWriteException();
        const quint64 size = static_cast<quint64>(m_indexFile.size());
        constexpr quint64 kBlock = 1 << 20;
        Array<unsigned char, int> block;
        block.setCount(static_cast<int>(kBlock));
        for (quint64 at = size; at > oldStart;) {
            const quint64 n = std::min(kBlock, at - oldStart);
            at -= n;
            if (!m_indexFile.seek(static_cast<qint64>(at))
                || m_indexFile.read(reinterpret_cast<char*>(block.data()), static_cast<qint64>(n))
                    != static_cast<qint64>(n)
                || !m_indexFile.seek(static_cast<qint64>(at + shift)))
                throw FileCantWriteException();
            writeOrThrow(block.data(), static_cast<qint64>(n));
        }
        for (int i = 0; i < entries.count(); ++i)
            entries[i].m_indexPos += shift;
    }

    // The header and the filled entries. The rest of the table is the
    // placeholders' zeros, and where it grew, zeros written now over what
    // the key frames left there.
    if (!m_indexFile.seek(0))
        throw FileCantWriteException();
    m_header.m_magic = IndexFileHeader::MAGIC;
    m_header.m_count = count;
    m_header.m_flags = m_flags;
    if (!m_header.write(m_indexFile))
        throw FileCantWriteException();
    Array<unsigned char, int> raw;
    for (int i = 0; i < entries.count(); ++i) {
        entries[i].composeHeaderData(raw);
        writeOrThrow(raw.data(), raw.count());
    }
    if (count > placeholders) {
        const quint64 from = std::max<quint64>(static_cast<quint64>(entries.count()), placeholders);
        static const unsigned char zeros[64 * 1024] = {};
        if (!m_indexFile.seek(static_cast<qint64>(IndexFileHeader::SIZE + from * entrySize)))
            throw FileCantWriteException();
        for (quint64 left = (count - from) * entrySize; left > 0;) {
            const quint64 n = std::min<quint64>(left, sizeof zeros);
            writeOrThrow(zeros, static_cast<qint64>(n));
            left -= n;
        }
    }
}

void IndexBuilder::takeKeyFrame(KeyFrameWriter& writer, quint64 unitTime, quint64 unitPos)
{
    KeyFrameWriter::KeyFrame* k = writer.slot();
    if (!k)
        throwWriterFailure(writer);
    const int width = m_frame.width();
    const int height = m_frame.height();
    k->time = unitTime;
    k->filePos = unitPos;
    k->width = width;
    k->height = height;
    // The prefix names the recording's factor; only a factor that no
    // quality gives differs from the one the encoder uses (see the header).
    k->scale = m_recordingScale;
    k->quality = qualityForScale(m_recordingScale);
    k->newScreen = m_newScreen;

    // JPEG data only where it was coded with the factor the key frame's
    // boxes are coded with (a later screen header may have changed it).
    const int keyFrameScale = GridFormat::jpegScaleForQuality(k->quality);
    // A new factor drops the JPEG codes the writer keeps, and it has no
    // pixels of the boxes that went to it as JPEG data: those are handed over
    // again (as RAW codes of their pixels unless their data has the new
    // factor).
    if (keyFrameScale != m_lastKeyFrameScale && !m_newScreen)
        for (int i = 0; i < m_painted.count(); ++i)
            if (m_codeKind[i] == GridFormat::JPEG)
                m_painted[i] = 1;
    // (A box whose data was not kept went as a RAW code, which the writer
    // keeps whatever the factor.)
    m_lastKeyFrameScale = keyFrameScale;

    // Each painted box as the code that painted it, or its pixels, copied:
    // this thread paints on at once.
    constexpr int b = GridFormat::kBoxSize;
    // A box a JPEG code painted at another factor than the key frame's, or
    // with data too long to keep, goes as a RAW code of its pixels: coded as
    // JPEG again, it would lose detail.
    auto kindOf = [&](int i) {
        const int kind = m_codeKind[i];
        if (kind == GridFormat::JPEG && m_jpegOf[static_cast<size_t>(i)].scale != keyFrameScale)
            return static_cast<int>(GridFormat::RAW);
        return kind;
    };
    int n = 0, pixelBoxes = 0, jpegBoxes = 0;
    long long codeBytes = 0, jpegBytes = 0;
    for (int i = 0; i < m_painted.count(); ++i) {
        if (!m_painted[i])
            continue;
        ++n;
        const int kind = kindOf(i);
        if (kind == GridFormat::JPEG) {
            ++jpegBoxes;
            jpegBytes += static_cast<long long>(m_jpegOf[static_cast<size_t>(i)].data.size());
        } else if (kind == GridFormat::RAW) {
            codeBytes += GridFormat::kRawCodeBytes;
        } else if (kind > 0) {
            codeBytes += GridFormat::paletteCodeBytes(kind);
        } else {
            ++pixelBoxes;
        }
    }
    // Grown geometrically, so that fresh pages are not touched at every
    // key frame that paints a few more boxes than the ones before. (At most
    // 2 KiB of JPEG data and a code of at most 769 bytes per box, on a grid
    // of at most 256 Ki boxes: they fit an int.)
    auto reserve = [](auto& array, long long wanted) {
        if (array.capacity() < wanted)
            array.reallocate(static_cast<int>(
                std::min<long long>(std::max<long long>(wanted, 2LL * array.capacity()), INT_MAX)));
    };
    reserve(k->boxes, n);
    reserve(k->kinds, n);
    reserve(k->pixels, static_cast<long long>(pixelBoxes) * GridFormat::kBoxPixels);
    reserve(k->codes, codeBytes);
    reserve(k->jpegLengths, jpegBoxes);
    reserve(k->jpegData, jpegBytes);
    k->boxes.setCount(n);
    k->kinds.setCount(n);
    k->pixels.setCount(pixelBoxes * GridFormat::kBoxPixels);
    k->codes.setCount(0);
    k->jpegLengths.setCount(0);
    k->jpegData.setCount(0);
    unsigned int* pixels = k->pixels.data();
    for (int i = 0, j = 0; i < m_painted.count(); ++i) {
        if (!m_painted[i])
            continue;
        m_painted[i] = 0;
        k->boxes[j] = i;
        const int kind = kindOf(i);
        k->kinds[j++] = static_cast<unsigned char>(kind);
        if (kind == GridFormat::JPEG) {
            const std::vector<unsigned char>& data = m_jpegOf[static_cast<size_t>(i)].data;
            k->jpegLengths.append(static_cast<int>(data.size()));
            k->jpegData.copy(k->jpegData.count(), data.data(), static_cast<int>(data.size()));
            continue;
        }
        const int x = i % m_columns * b;
        const int y = i / m_columns * b;
        const int w = std::min(b, width - x);
        const int h = std::min(b, height - y);
        const unsigned int* src = m_frame.pixels() + static_cast<size_t>(y) * width + x;
        if (kind == GridFormat::RAW) {
            // Row-major colours; the part beyond the screen is not shown.
            const int at = k->codes.count();
            k->codes.setCount(at + GridFormat::kRawCodeBytes);
            unsigned char* raw = k->codes.data() + at;
            std::memset(raw, 0, GridFormat::kRawCodeBytes);
            raw[0] = GridFormat::RAW;
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c)
                    GridFormat::pixelToTriple(src[static_cast<size_t>(r) * width + c],
                                              raw + 1 + 3 * (r * b + c));
            continue;
        }
        if (kind > 0) {
            k->codes.copy(k->codes.count(), codeSlot(i),
                          GridFormat::paletteCodeBytes(kind));
            continue;
        }
        if (w == b) {
            for (int r = 0; r < h; ++r) // a fixed size: copied inline
                std::memcpy(pixels + r * b, src + static_cast<size_t>(r) * width, sizeof(unsigned int) * b);
        } else {
            for (int r = 0; r < h; ++r)
                std::memcpy(pixels + r * b, src + static_cast<size_t>(r) * width,
                            static_cast<size_t>(w) * sizeof(unsigned int));
        }
        pixels += GridFormat::kBoxPixels;
    }
    m_newScreen = false;
    writer.submit(k);
    ++m_taken;
}
