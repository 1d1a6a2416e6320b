#include "RecordReader.h"


#include "Exception.h"
#include "Zip.h"

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
}

bool RecordReader::rewind()
{
    return isOpen() && m_file.seek(FIRST_UNIT_OFFSET);
}

RecordReader::Result RecordReader::truncate(qint64 held, quint64 needed)
{
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
    if (r != Unit || !header.isValid())
        return r;
    return readPayload(header, payload, packed);
}

RecordReader::Result RecordReader::readUnitHeader(RecordUnitHeader& header)
{
    if (!isOpen())
        return NotOpen;

    m_unitPos = m_file.pos();
    const qint64 left = m_file.size() - m_unitPos;
    if (left <= 0) {
        header.clear();
        return End;
    }

    if (left < RecordUnitHeader::SIZE || !m_file.readExactly(header.m_data, RecordUnitHeader::SIZE)) {
        header.clear();
        return truncate(left, RecordUnitHeader::SIZE);
    }
    header.decomposeHeaderData(header.m_data.data());

    // Unknown type: no payload, the declared one not skipped.
    if (!header.isValid())
        return Unit;

    // The declared size is checked against what the file still holds before
    // anything is allocated: a size past the end is truncation.
    const qint64 payloadLeft = left - RecordUnitHeader::SIZE;
    if (header.m_size > static_cast<quint64>(payloadLeft)) {
        const quint64 needed = header.m_size > ~quint64(0) - RecordUnitHeader::SIZE
            ? ~quint64(0)
            : header.m_size + RecordUnitHeader::SIZE;
        header.clear();
        return truncate(left, needed);
    }
    if (header.m_size > static_cast<quint64>(MAX_PAYLOAD_SIZE)) {
        IncorrectFormatException e;
        e.setReason(QStringLiteral("unit of %1 bytes at offset %2")
                        .arg(header.m_size)
                        .arg(m_unitPos));
        throw e;
    }
    return Unit;
}

void RecordReader::skipPayload(const RecordUnitHeader& header)
{
    // readUnitHeader has checked that the bytes are in the file.
    if (header.isValid() && isOpen())
        m_file.seek(m_file.pos() + static_cast<qint64>(header.m_size));
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
        header.clear();
        return truncate(m_file.size() - m_unitPos, needed);
    }

    if (header.isCompressed()) {
        // Zip caps what it inflates; past the cap, as for a damaged stream,
        // the payload is not usable.
        if (!Zip::unzipBuffer(packed, payload)) {
            payload.setCount(0);
            DecompressionException e;
            e.setReason(QStringLiteral("unit of %1 stored bytes at offset %2")
                            .arg(size)
                            .arg(m_unitPos));
            throw e;
        }
        header.m_size = static_cast<quint64>(payload.count());
        header.m_type = static_cast<unsigned char>(header.m_type & ~RecordUnitHeader::FLAG_COMPRESSED);
    }
    return Unit;
}
