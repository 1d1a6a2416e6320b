#include "IndexBuilder.h"

#include <QDateTime>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "Exception.h"
#include "IndexFile.h"
#include "IndexLocation.h"
#include "Log.h"
#include "RecordScan.h"
#include "Thread.h"
#include "UnitDispatch.h"
#include "Zip.h"

namespace {

quint64 nowMs()
{
    return static_cast<quint64>(QDateTime::currentMSecsSinceEpoch());
}

} // namespace

IndexBuilder::IndexBuilder()
{
    m_decoder.m_listener = this;
    m_encoder.setQuality(kInitialQuality);
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

int IndexBuilder::prepareEncoderScale(int scale)
{
    // The encoder derives its factor from the quality on every encode.
    const int quality = qualityForScale(scale);
    m_encoder.setQuality(quality);
    return GridFormat::jpegScaleForQuality(quality);
}

void IndexBuilder::onScreenDimension(int width, int height)
{
    m_frame.onScreenDimension(width, height);
}

void IndexBuilder::onBoxDecoded(VideoFrame* box, int x, int y, int width, int height)
{
    m_frame.onBoxDecoded(box, x, y, width, height);
}

RecordReader::Result IndexBuilder::readInputUnit()
{
    for (;;) {
        const RecordReader::Result r = m_reader.readUnit(m_unitHeader, m_payload, m_packed);
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
        if (!m_indexFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            fail(QStringLiteral("cannot create the index %1: %2")
                     .arg(m_tempFileName, m_indexFile.errorString()));
            throw FileCantCreateException();
        }
        created = true;
        ok = doWork();
        if (!ok)
            fail(QStringLiteral("cancelled"));
    } catch (const FileCantWriteException&) {
        fail(QStringLiteral("cannot write the index: ") + m_indexFile.errorString());
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
    m_entries.setCount(0);
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
    // at least 24 bytes.
    const RecordScan::Result extent = RecordScan::scanFile(m_fileName, &m_cancel);
    const quint64 length = std::max<quint64>(m_fileHeader.m_duration, extent.realEnd);
    const quint64 wanted = length / static_cast<quint64>(m_interval) + 1;
    const quint64 fileBound = static_cast<quint64>(m_file.size()) / RecordUnitHeader::SIZE + 1;
    const quint64 intBound = static_cast<quint64>(INT_MAX);
    m_count = std::min(wanted, std::min(fileBound, intBound));

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
    m_entries.setCount(0);
    m_entries.setGrowBy(64);

    if (!m_frame.isEmpty())
        m_frame.resize(0, 0);
    m_decoder.reset();
    m_recordingScale = GridFormat::jpegScaleForQuality(kInitialQuality);
    quint64 lastReport = nowMs();

    RecordReader::Result r = readInputUnit();
    quint64 lastTime = 0;
    quint64 prev = 0;
    quint64 acc = 0;
    bool started = false;
    bool inFrame = false; // a frame's first parts are applied, its end is still to come
    while (r == RecordReader::Unit && static_cast<quint64>(m_entries.count()) < m_count) {
        if (m_cancel.load())
            return false;
        const quint64 time = m_unitHeader.m_time;
        lastTime = time;

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
            takeKeyFrame(time, static_cast<quint64>(m_reader.unitPos()));
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

    emit idxPositionChanged(lastTime / 1000);

    // Final header and the filled entries; the rest of the table stays zero.
    if (!m_indexFile.seek(0))
        throw FileCantWriteException();
    m_header.m_magic = IndexFileHeader::MAGIC;
    m_header.m_count = m_count;
    m_header.m_flags = m_flags;
    if (!m_header.write(m_indexFile))
        throw FileCantWriteException();
    Array<unsigned char, int> raw;
    for (int i = 0; i < m_entries.count(); ++i) {
        m_entries[i].composeHeaderData(raw);
        writeOrThrow(raw.data(), raw.count());
    }
    return true;
}

void IndexBuilder::takeKeyFrame(quint64 unitTime, quint64 unitPos)
{
    const int width = m_frame.width();
    const int height = m_frame.height();
    const int scale = m_recordingScale;

    const unsigned char* data = nullptr;
    int length = 0;
    // A frame with nothing to paint (no screen yet) is the parameter code
    // alone: the encoder writes nothing for an empty screen.
    static const unsigned char emptyFrame[2] = {GridFormat::PARAMETERS, 0};
    if (width > 0 && height > 0) {
        // Only a factor that no quality gives differs from the one the
        // encoder uses; the prefix still names the recording's factor (see
        // the header).
        prepareEncoderScale(scale);
        m_encoder.setScreenDimension(width, height);
        m_encoder.m_output.setCount(0);
        m_encoder.encode(&m_frame, 0, 0, width, height, m_keyFrame);
        data = m_encoder.m_output.data();
        length = m_encoder.m_output.count();
    }
    if (length <= 0) {
        data = emptyFrame;
        length = 2;
    }

    unsigned char prefix[IndexEntryPoint::PREFIX_SIZE];
    IndexFile::composeKeyFramePrefix(width, height, scale, prefix);
    if (!Zip::zipBuffer(data, length, m_keyFrame, Zip::COMPRESSION_DEFAULT))
        throw DecompressionException();

    IndexEntryPoint entry;
    entry.m_time = unitTime;
    entry.m_filePos = unitPos;
    entry.m_indexPos = static_cast<quint64>(m_indexFile.pos());
    entry.m_size = static_cast<quint64>(m_keyFrame.count());
    writeOrThrow(prefix, IndexEntryPoint::PREFIX_SIZE);
    writeOrThrow(m_keyFrame.data(), m_keyFrame.count());
    m_entries.append(entry);
}
