// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingWriter.h"

#include <QImage>
#include <QList>

#include <cstring>

#include "Exception.h"
#include "GridFormat.h"
#include "VideoFrame.h"
#include "VtrCursor.h"
#include "Zip.h"

namespace {

void putBE(QByteArray& out, uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; --i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Collects the encoder's chunks of one frame.
class ChunkCollector : public IEncoder::IEventListener
{
public:
    void onEncodeBegin() override { chunks.clear(); }
    void onEncodeCompleted(const unsigned char* data, int length) override
    {
        chunks.append(QByteArray(reinterpret_cast<const char*>(data), length));
    }
    void onEncodeChunk(const unsigned char* data, int length) override
    {
        chunks.append(QByteArray(reinterpret_cast<const char*>(data), length));
    }

    QList<QByteArray> chunks;
};

} // namespace

RecordingWriter::RecordingWriter()
{
    m_fileHeader.m_magic = RecordFileHeader::MAGIC;
    m_encoder.setQuality(m_quality);
}

RecordingWriter::~RecordingWriter()
{
    try {
        finish();
    } catch (...) {
        // A destructor must not throw; the caller who cares calls finish().
    }
}

void RecordingWriter::open(const QString& path, const QByteArray& sessionId)
{
    finish();
    m_ownFile.setFileName(path);
    if (!m_ownFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        FileCantCreateException e;
        e.setReason(m_ownFile.errorString());
        throw e;
    }
    open(&m_ownFile, sessionId);
}

void RecordingWriter::open(QIODevice* device, const QByteArray& sessionId)
{
    if (device != &m_ownFile)
        finish();
    m_device = device;
    m_start = device->pos();
    m_fileHeader.m_duration = 0;
    m_fileHeader.setSessionId(sessionId);
    m_units = 0;
    m_lastTime = 0;
    m_screenWidth = m_screenHeight = -1;
    m_encoder.reset();
    writeHeaderAt0();
}

void RecordingWriter::finish(long long durationMs)
{
    if (!m_device)
        return;
    m_fileHeader.m_duration = durationMs >= 0 ? static_cast<uint64_t>(durationMs) : m_lastTime;
    const qint64 end = m_device->pos();
    if (!m_device->seek(m_start))
        throw FileCantWriteException();
    writeHeaderAt0();
    m_device->seek(end);
    if (m_device == &m_ownFile)
        m_ownFile.close();
    m_device = nullptr;
}

void RecordingWriter::writeHeaderAt0()
{
    m_fileHeader.composeHeaderData(m_fileHeader.m_data);
    writeBytes(m_fileHeader.m_data.data(), RecordFileHeader::SIZE);
}

void RecordingWriter::ensureOpen() const
{
    if (!m_device) {
        FileCantWriteException e;
        e.setReason(QStringLiteral("no recording open"));
        throw e;
    }
}

void RecordingWriter::writeBytes(const unsigned char* data, qint64 length)
{
    ensureOpen();
    if (length > 0 && m_device->write(reinterpret_cast<const char*>(data), length) != length) {
        FileCantWriteException e;
        e.setReason(m_device->errorString());
        throw e;
    }
}

void RecordingWriter::setJpegQuality(int quality)
{
    m_quality = quality < 0 ? 0 : quality > 100 ? 100 : quality;
    m_encoder.setQuality(m_quality);
}

int RecordingWriter::jpegScale() const
{
    return GridFormat::jpegScaleForQuality(m_quality);
}

void RecordingWriter::writeRawUnit(unsigned char type, uint64_t time, const QByteArray& payload,
                                   long long declaredSize, int channels)
{
    ensureOpen();
    m_unitHeader.m_type = type;
    m_unitHeader.m_channels = static_cast<uint16_t>(channels);
    m_unitHeader.m_time = time;
    m_unitHeader.m_size = declaredSize >= 0 ? static_cast<uint64_t>(declaredSize)
                                            : static_cast<uint64_t>(payload.size());
    m_unitHeader.composeHeaderData(m_raw);
    writeBytes(m_raw.data(), RecordUnitHeader::SIZE);
    writeBytes(reinterpret_cast<const unsigned char*>(payload.constData()), payload.size());
    ++m_units;
    m_lastTime = time;
}

void RecordingWriter::writeUnit(int kind, uint64_t time, const QByteArray& payload, int channels)
{
    if (!m_compress) {
        writeRawUnit(static_cast<unsigned char>(kind), time, payload, -1, channels);
        return;
    }
    // Zip refuses an empty input; the zlib stream of no bytes is fixed.
    static const unsigned char emptyStream[] = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    QByteArray stored;
    if (payload.isEmpty()) {
        stored = QByteArray(reinterpret_cast<const char*>(emptyStream), sizeof emptyStream);
    } else {
        if (!Zip::zipBuffer(reinterpret_cast<const unsigned char*>(payload.constData()),
                            static_cast<int>(payload.size()), m_packed, Zip::COMPRESSION_DEFAULT)) {
            FileCantWriteException e;
            e.setReason(QStringLiteral("compression failed"));
            throw e;
        }
        stored = QByteArray(reinterpret_cast<const char*>(m_packed.data()), m_packed.count());
    }
    writeRawUnit(static_cast<unsigned char>(kind | RecordUnitHeader::FLAG_COMPRESSED), time,
                 stored, -1, channels);
}

void RecordingWriter::writeMousePos(uint64_t time, int x, int y, uint32_t cursorId)
{
    QByteArray p;
    p.append(static_cast<char>(0x0B));
    putBE(p, static_cast<uint32_t>(x), 2);
    putBE(p, static_cast<uint32_t>(y), 2);
    putBE(p, cursorId, 4);
    writeUnit(RecordUnitHeader::KIND_CONTROL, time, p);
}

void RecordingWriter::writeCursor(uint64_t time, uint32_t cursorId, const QImage& image, int hotX,
                                  int hotY, const QStringList& strings)
{
    QImage copy = image;
    VtrCursor cursor(&copy, hotX, hotY);
    QByteArray record;
    if (!cursor.serialize(record)) {
        FileCantWriteException e;
        e.setReason(QStringLiteral("cursor image too large for a record"));
        throw e;
    }
    writeCursorRecord(time, cursorId, record, strings);
}

void RecordingWriter::writeCursorRecord(uint64_t time, uint32_t cursorId, const QByteArray& record,
                                        const QStringList& strings)
{
    QByteArray p;
    p.append(static_cast<char>(0x28));
    p.append(static_cast<char>(0xE1));
    for (int i = 0; i < strings.size(); ++i) {
        const QByteArray s = strings[i].toUtf8();
        if (i > 0 && s.isEmpty())
            continue;
        p.append(s);
        p.append('\0');
    }
    if (strings.isEmpty())
        p.append('\0'); // the first string, empty
    p.append('\0');     // the list's end
    putBE(p, cursorId, 4);
    p.append(record);
    writeUnit(RecordUnitHeader::KIND_CONTROL, time, p);
}

void RecordingWriter::writeScreenMessage(uint64_t time, unsigned char code, const QByteArray& data)
{
    QByteArray p;
    p.append(static_cast<char>(code));
    p.append('\0');
    p.append(data);
    writeUnit(RecordUnitHeader::KIND_SCREEN, time, p);
}

void RecordingWriter::writeScreenHeader(uint64_t time, int width, int height)
{
    QByteArray h;
    putBE(h, static_cast<uint32_t>(width), 2);
    putBE(h, static_cast<uint32_t>(height), 2);
    h.append(static_cast<char>(jpegScale()));
    h.append('\0');
    writeScreenMessage(time, 0xE9, h);
}

void RecordingWriter::resetScreen()
{
    m_screenWidth = m_screenHeight = -1;
}

void RecordingWriter::writeScreenFrame(uint64_t time, VideoFrame& frame, unsigned char endCode)
{
    const int w = frame.width();
    const int h = frame.height();
    if (w != m_screenWidth || h != m_screenHeight) {
        writeScreenHeader(time, w, h);
        m_encoder.setScreenDimension(w, h);
        m_screenWidth = w;
        m_screenHeight = h;
    }

    Array<unsigned char, int> unused;
    if (!m_chunked) {
        m_encoder.setChunked(false);
        m_encoder.setEventListener(nullptr);
        m_encoder.m_output.setCount(0);
        m_encoder.encode(&frame, 0, 0, w, h, unused);
        const Array<unsigned char, int>& out = m_encoder.output();
        writeScreenMessage(time, endCode,
                           QByteArray(reinterpret_cast<const char*>(out.data()), out.count()));
        return;
    }

    // The encoder hands over pieces of about 20000 bytes, each decodable on
    // its own from box 0 (it starts with a skip to where the last one ended),
    // so each piece is a unit of its own.
    ChunkCollector collector;
    m_encoder.setChunked(true);
    m_encoder.setEventListener(&collector);
    m_encoder.encode(&frame, 0, 0, w, h, unused);
    m_encoder.setEventListener(nullptr);
    m_encoder.setChunked(false);
    if (collector.chunks.isEmpty())
        collector.chunks.append(QByteArray());
    for (int i = 0; i < collector.chunks.size(); ++i)
        writeScreenMessage(time, i + 1 < collector.chunks.size() ? 0xEA : endCode,
                           collector.chunks[i]);
}

void RecordingWriter::writeAudio(uint64_t time, Stream stream, const int16_t* samples, int frames,
                                 int channels)
{
    const int n = frames * channels;
    QByteArray p;
    p.resize(static_cast<qsizetype>(n) * 2);
    for (int i = 0; i < n; ++i) {
        const uint16_t s = static_cast<uint16_t>(samples[i]);
        p[2 * i] = static_cast<char>(s & 0xFF);
        p[2 * i + 1] = static_cast<char>(s >> 8);
    }
    writeUnit(stream, time, p, channels);
}
