// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordReader.h"

#include <algorithm>

#include "Exception.h"
#include "Zip.h"

namespace {

// The fields of a unit header that plausibility looks at, straight from its
// 24 bytes (the resync scan tries every offset and keeps no header object).
struct RawHeader
{
    unsigned type;
    quint64 time;
    quint64 size;
};

quint64 le64(const unsigned char* p)
{
    quint64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

RawHeader rawHeader(const unsigned char* p)
{
    return {p[0], le64(p + 8), le64(p + 16)};
}

bool timesFarApart(quint64 a, quint64 b)
{
    return (a > b ? a - b : b - a) > RecordReader::TIME_JUMP_MARGIN_MS;
}

// A type that names a kind, and a payload inside the bound and the file.
bool fitsAt(const RawHeader& h, qint64 pos, qint64 fileSize)
{
    return RecordUnitHeader::isValidType(h.type)
        && h.size <= static_cast<quint64>(RecordReader::MAX_PAYLOAD_SIZE)
        && h.size <= static_cast<quint64>(fileSize - pos - RecordUnitHeader::SIZE);
}

// Bytes of the file the resync scan looks at per read.
constexpr int kScanWindow = 64 * 1024;

} // namespace

QString RecordReader::Damage::what() const
{
    switch (problem) {
    case UnknownKind:
        return QStringLiteral("unit of unknown kind (type byte 0x%1)")
            .arg(QString::number(type, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    case SizeOverBound:
        return QStringLiteral("unit of %1 bytes, more than any unit holds").arg(size);
    case SizePastEnd:
        return QStringLiteral("unit of %1 bytes that runs past the end of the file").arg(size);
    case TimeJump:
        return QStringLiteral("unit time %1 ms, far from the unit before at %2 ms")
            .arg(time)
            .arg(timeBefore);
    case NotInflating:
        return QStringLiteral("compressed unit that does not decompress");
    case NoProblem:
        break;
    }
    return QString();
}

void RecordReader::readFileHeader(RecordFileHeader& header)
{
    header.clear();
    if (!isOpen() || !m_file.seek(0))
        throw FileCantReadException();
    if (!m_file.readExactly(header.m_data, RecordFileHeader::SIZE)) {
        IncorrectFileException e;
        e.setReason(QStringLiteral("shorter than the 32-byte file header"));
        throw e;
    }
    header.decomposeHeaderData(header.m_data.data());
    if (!header.hasValidMagic())
        throw IncorrectFileException();
    m_previousTime = 0;
    m_knownSize = m_file.size();
}

bool RecordReader::rewind()
{
    return seekUnit(FIRST_UNIT_OFFSET, 0);
}

bool RecordReader::seekUnit(qint64 pos, quint64 previousTime)
{
    m_previousTime = previousTime;
    return isOpen() && pos >= FIRST_UNIT_OFFSET && m_file.seek(pos);
}

RecordReader::Result RecordReader::truncate(RecordUnitHeader& header, qint64 held, quint64 needed)
{
    header.clear();
    m_truncatedHeld = held;
    m_truncatedNeeded = needed;
    // The cut-off unit is the end of the recording for every caller: leave
    // the device at its end, so atEnd() says so.
    m_file.seek(m_file.size());
    return Truncated;
}

RecordReader::Result RecordReader::readUnit(RecordUnitHeader& header,
                                            Array<unsigned char, int>& payload,
                                            Array<unsigned char, int>& packed)
{
    payload.setCount(0);
    const Result r = readUnitHeader(header);
    if (r != Unit)
        return r;
    return readPayload(header, payload, packed);
}

bool RecordReader::agreesAt(qint64 pos, quint64 time, qint64 fileSize)
{
    if (pos < FIRST_UNIT_OFFSET || fileSize - pos < RecordUnitHeader::SIZE)
        return false;
    unsigned char raw[RecordUnitHeader::SIZE];
    const qint64 keep = m_file.pos();
    const bool read = m_file.seek(pos) && m_file.readExactly(raw, RecordUnitHeader::SIZE);
    m_file.seek(keep);
    if (!read)
        return false;
    const RawHeader h = rawHeader(raw);
    return fitsAt(h, pos, fileSize) && !timesFarApart(h.time, time);
}

RecordReader::Problem RecordReader::checkHeader(const RecordUnitHeader& header, qint64 pos,
                                                qint64 fileSize)
{
    if (!header.isValid())
        return UnknownKind;
    if (header.m_size > static_cast<quint64>(MAX_PAYLOAD_SIZE))
        return SizeOverBound;
    if (header.m_size > static_cast<quint64>(fileSize - pos - RecordUnitHeader::SIZE))
        return SizePastEnd;
    if (timesFarApart(header.m_time, m_previousTime)) {
        // A real jump (a clock set forward, a long gap) is confirmed by the
        // unit after it; random bytes in a time field are not.
        const qint64 next = pos + RecordUnitHeader::SIZE + static_cast<qint64>(header.m_size);
        if (next != fileSize && !agreesAt(next, header.m_time, fileSize))
            return TimeJump;
    }
    return NoProblem;
}

qint64 RecordReader::resync(qint64 from, qint64 fileSize, quint64& time)
{
    const quint64 earliest =
        m_previousTime > TIME_JUMP_MARGIN_MS ? m_previousTime - TIME_JUMP_MARGIN_MS : 0;
    qint64 start = from;
    while (fileSize - start >= RecordUnitHeader::SIZE) {
        const qint64 n = std::min<qint64>(kScanWindow + RecordUnitHeader::SIZE - 1, fileSize - start);
        if (!m_file.seek(start) || !m_file.readExactly(m_block, static_cast<int>(n)))
            return -1; // the file shrank under us
        const int last = static_cast<int>(n) - RecordUnitHeader::SIZE;
        for (int i = 0; i <= last; ++i) {
            // Most bytes fail here at once.
            if (!RecordUnitHeader::isValidType(m_block[i]))
                continue;
            const qint64 pos = start + i;
            const RawHeader h = rawHeader(m_block.data() + i);
            // Never back before what was already played.
            if (!fitsAt(h, pos, fileSize) || h.time < earliest)
                continue;
            const qint64 next = pos + RecordUnitHeader::SIZE + static_cast<qint64>(h.size);
            if (next == fileSize || agreesAt(next, h.time, fileSize)) {
                time = h.time;
                return pos;
            }
        }
        start += last + 1;
    }
    return -1;
}

RecordReader::Result RecordReader::damaged(RecordUnitHeader& header, Problem problem,
                                           qint64 fileSize)
{
    Damage d;
    d.from = m_unitPos;
    d.timeBefore = m_previousTime;
    d.problem = problem;
    d.type = header.m_type;
    d.time = header.m_time;
    d.size = header.m_size;

    quint64 time = 0;
    const qint64 next = resync(m_unitPos + 1, fileSize, time);
    if (next < 0) {
        // A sound header whose payload the file does not hold, with nothing
        // after it: the file was cut there.
        if (problem == SizePastEnd && !timesFarApart(header.m_time, m_previousTime)) {
            const quint64 needed = header.m_size + RecordUnitHeader::SIZE;
            return truncate(header, fileSize - m_unitPos, needed);
        }
        d.to = fileSize;
        d.timeAfter = d.timeBefore;
        d.toEnd = true;
        m_file.seek(fileSize);
    } else {
        d.to = next;
        d.timeAfter = time;
        m_file.seek(next);
    }
    m_damage = d;
    header.clear();
    return Damaged;
}

RecordReader::Result RecordReader::readUnitHeader(RecordUnitHeader& header)
{
    if (!isOpen())
        return NotOpen;

    m_unitPos = m_file.pos();
    // The size known from before serves while the unit fits in it (asking the
    // system for it on every unit costs as much as reading the header); any
    // doubt asks again, so a file that grows is read to its new end.
    qint64 fileSize = m_knownSize;
    if (fileSize - m_unitPos < RecordUnitHeader::SIZE)
        fileSize = m_knownSize = m_file.size();
    const qint64 left = fileSize - m_unitPos;
    if (left <= 0) {
        header.clear();
        return End;
    }
    if (left < RecordUnitHeader::SIZE || !m_file.readExactly(header.m_data, RecordUnitHeader::SIZE))
        return truncate(header, left, RecordUnitHeader::SIZE);
    header.decomposeHeaderData(header.m_data.data());

    Problem problem = checkHeader(header, m_unitPos, fileSize);
    if (problem != NoProblem && m_file.size() != fileSize) {
        fileSize = m_knownSize = m_file.size();
        problem = checkHeader(header, m_unitPos, fileSize);
    }
    if (problem != NoProblem)
        return damaged(header, problem, fileSize);
    m_unitEnd = m_unitPos + RecordUnitHeader::SIZE + static_cast<qint64>(header.m_size);
    m_timeBeforeUnit = m_previousTime;
    m_previousTime = header.m_time;
    return Unit;
}

void RecordReader::skipPayload(const RecordUnitHeader&)
{
    // readUnitHeader has checked that the bytes are in the file.
    if (isOpen())
        m_file.seek(m_unitEnd);
}

RecordReader::Result RecordReader::readPayload(RecordUnitHeader& header,
                                               Array<unsigned char, int>& payload,
                                               Array<unsigned char, int>& packed)
{
    payload.setCount(0);
    const int size = static_cast<int>(header.m_size);
    Array<unsigned char, int>& stored = header.isCompressed() ? packed : payload;
    if (!m_file.readExactly(stored, size)) {
        // The file shrank under us: the same as a cut-off unit.
        const quint64 needed = header.m_size + RecordUnitHeader::SIZE;
        return truncate(header, m_file.size() - m_unitPos, needed);
    }

    if (header.isCompressed()) {
        // Zip caps what it inflates; past the cap, as for a damaged stream,
        // the payload is not usable: the unit is damage, the next one is read
        // as usual.
        if (!Zip::unzipBuffer(packed, payload)) {
            payload.setCount(0);
            Damage d;
            d.from = m_unitPos;
            d.to = m_unitEnd;
            d.timeBefore = m_timeBeforeUnit;
            d.timeAfter = header.m_time;
            d.problem = NotInflating;
            d.type = header.m_type;
            d.time = header.m_time;
            d.size = header.m_size;
            m_damage = d;
            return Damaged;
        }
        header.m_size = static_cast<quint64>(payload.count());
        header.m_type = static_cast<unsigned char>(header.m_type & ~RecordUnitHeader::FLAG_COMPRESSED);
    }
    return Unit;
}
