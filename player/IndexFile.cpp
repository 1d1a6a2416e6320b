// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexFile.h"

#include <QIODevice>

#include <algorithm>
#include <climits>
#include <cstring>

#include "ByteReader.h"
#include "DeviceReader.h"
#include "Exception.h"
#include "GridFormat.h"
#include "RecordReader.h"
#include "Zip.h"

namespace {

// Entries are read in blocks so that a long table costs no more memory than
// the entries kept.
constexpr int kEntriesPerBlock = 1024;

bool invalid(IndexFile::LoadReport* report, const QString& why,
             Array<IndexEntryPoint, int>& entries)
{
    entries.setCount(0);
    if (report)
        report->problem = why;
    return false;
}

} // namespace

QString IndexFile::indexFileName(const QString& recordingPath)
{
    return recordingPath + QLatin1Char('x');
}

bool IndexFile::load(QIODevice& device, IndexFileHeader& header,
                     Array<IndexEntryPoint, int>& entries, qint64 recordingSize,
                     LoadReport* report)
{
    LoadReport local;
    if (!report)
        report = &local;
    *report = LoadReport();
    entries.setCount(0);

    if (!device.seek(0) || !header.read(device))
        return invalid(report, QStringLiteral("shorter than its 24-byte header"), entries);
    report->declaredCount = header.m_count;
    report->flags = header.m_flags;
    if (header.m_magic != IndexFileHeader::MAGIC)
        return invalid(report, QStringLiteral("wrong magic number"), entries);
    if (header.m_count == 0)
        return invalid(report, QStringLiteral("no entries"), entries);

    const qint64 fileSize = device.size();
    const quint64 room = fileSize > IndexFileHeader::SIZE
        ? static_cast<quint64>(fileSize - IndexFileHeader::SIZE) / IndexEntryPoint::SIZE
        : 0;
    if (header.m_count > room || header.m_count > static_cast<quint64>(INT_MAX))
        return invalid(report,
                       QStringLiteral("the table of %1 entries runs past the end of the file")
                           .arg(header.m_count),
                       entries);
    const int count = static_cast<int>(header.m_count);
    const quint64 tableEnd = IndexFileHeader::SIZE + quint64(count) * IndexEntryPoint::SIZE;

    // Read the table, noting where the filled entries end.
    Array<IndexEntryPoint, int> table;
    table.setCount(count);
    Array<unsigned char, int> block;
    DeviceReader file(&device);
    int lastFilled = -1;
    for (int first = 0; first < count; first += kEntriesPerBlock) {
        const int n = std::min(kEntriesPerBlock, count - first);
        if (!file.readExactly(block, n * IndexEntryPoint::SIZE))
            return invalid(report, QStringLiteral("the table is cut short"), entries);
        ByteReader in(block.data(), block.count());
        for (int i = 0; i < n; ++i) {
            IndexEntryPoint& e = table[first + i];
            const unsigned char* raw = nullptr;
            in.take(IndexEntryPoint::SIZE, raw); // the block holds n entries
            e.decomposeHeaderData(raw);
            if (e.m_size != 0)
                lastFilled = first + i;
        }
    }
    report->trailingEmpty = count - 1 - lastFilled;

    // Keep the entries a seek can restore.
    bool haveTime = false;
    quint64 lastTime = 0;
    for (int i = 0; i <= lastFilled; ++i) {
        const IndexEntryPoint& e = table[i];
        const bool inFile = e.m_indexPos >= tableEnd
            && e.m_indexPos <= static_cast<quint64>(fileSize)
            && e.m_size <= static_cast<quint64>(MAX_KEY_FRAME_SIZE)
            && static_cast<quint64>(fileSize) - e.m_indexPos >= IndexEntryPoint::PREFIX_SIZE + e.m_size;
        const bool unitInRecording = recordingSize < 0
            || (e.m_filePos >= static_cast<quint64>(RecordReader::FIRST_UNIT_OFFSET)
                && e.m_filePos < static_cast<quint64>(recordingSize));
        const bool ordered = !haveTime || e.m_time >= lastTime;
        if (e.m_size == 0 || !inFile || !unitInRecording || !ordered) {
            ++report->unusable;
            continue;
        }
        entries.append(e);
        haveTime = true;
        lastTime = e.m_time;
    }
    if (lastFilled >= 0 && entries.count() == 0)
        return invalid(report, QStringLiteral("no usable key frame"), entries);
    return true;
}

bool IndexFile::readKeyFrame(QIODevice& device, const IndexEntryPoint& entry, unsigned char flags,
                             Array<unsigned char, int>& packed, Array<unsigned char, int>& keyFrame,
                             KeyFrame& out)
{
    out = KeyFrame();
    if (entry.m_size > static_cast<quint64>(MAX_KEY_FRAME_SIZE)
        || entry.m_indexPos > static_cast<quint64>(device.size())
        || !device.seek(static_cast<qint64>(entry.m_indexPos))) {
        FileCantReadException e;
        e.setReason(QStringLiteral("key frame at %1 outside the index").arg(entry.m_indexPos));
        throw e;
    }
    const int size = static_cast<int>(entry.m_size);
    DeviceReader file(&device);
    if (!file.readExactly(out.prefix, IndexEntryPoint::PREFIX_SIZE)
        || !file.readExactly(packed, size)) {
        FileCantReadException e;
        e.setReason(QStringLiteral("key frame at %1 cut short").arg(entry.m_indexPos));
        throw e;
    }
    // The prefix is the screen header of the grid codec.
    ByteReader prefix(out.prefix, IndexEntryPoint::PREFIX_SIZE);
    unsigned width = 0, height = 0, scale = 0;
    prefix.readU16BE(width);
    prefix.readU16BE(height);
    prefix.readU8(scale);
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.jpegScale = static_cast<int>(scale);
    out.grid = (flags & IndexFileHeader::FLAG_GRID) != 0;

    const Array<unsigned char, int>* data = &packed;
    if (flags & IndexFileHeader::FLAG_COMPRESSED) {
        if (!Zip::unzipBuffer(packed, keyFrame)) {
            DecompressionException e;
            e.setReason(QStringLiteral("key frame at %1").arg(entry.m_indexPos));
            throw e;
        }
        data = &keyFrame;
    }
    out.data = data->data();
    out.length = data->count();

    // Raw pixels are only used when they are exactly the screen.
    if (!out.grid
        && static_cast<qint64>(out.length) != qint64(out.width) * out.height * 4)
        return false;
    return true;
}

void IndexFile::composeKeyFramePrefix(int width, int height, int jpegScale,
                                      unsigned char out[IndexEntryPoint::PREFIX_SIZE])
{
    static_assert(IndexEntryPoint::PREFIX_SIZE == GridFormat::kScreenHeaderSize,
                  "the key-frame prefix is a screen header");
    GridFormat::writeScreenHeader(width, height, jpegScale, out);
}
