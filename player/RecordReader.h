#pragma once

#include <QtGlobal>

#include "Array.h"
#include "DeviceReader.h"
#include "RecordFileHeader.h"

class QIODevice;

// The one reader of recording units: the player's readUnit, the index
// builder's readInputUnit and sessiontool all read through it, so every one of
// them applies the same bounds rules.
//
// It reads from a random-access QIODevice opened for reading (a QFile opened
// read-only in the product, a QBuffer in tests and fuzzers); it never writes
// and never owns the device. One reader serves one thread.
//
// Bounds rules, since a recording may be cut short, corrupt or hostile:
// - a unit whose 24 header bytes or declared payload are not all in the file
//   is the end of the recording (Truncated): the device is moved to its end,
//   so that callers testing atEnd() stop there too, and nothing is allocated
//   for the missing payload: the declared size is compared with what is left
//   in the file before any buffer is sized;
// - a payload larger than MAX_PAYLOAD_SIZE, stored or inflated, is refused
//   (IncorrectFormatException, or DecompressionException when inflating would
//   pass Zip's cap) even when the file holds it;
// - an unknown type (anything but 1..5 and 0x11..0x15) gives the header with
//   an empty payload; the declared payload is not skipped (the caller stops
//   there: playback ends with "Invalid File format");
// - a compressed payload that is not a zlib stream, or inflates past Zip's
//   cap, throws DecompressionException;
// - a read error of the device throws FileCantReadException (naming the
//   offset).
class RecordReader
{
public:
    // Units start right after the file header.
    static constexpr qint64 FIRST_UNIT_OFFSET = RecordFileHeader::SIZE;
    // No unit of a recording comes near this; anything above is not a unit.
    static constexpr int MAX_PAYLOAD_SIZE = 256 * 1024 * 1024;

    enum Result {
        Unit,      // a unit was read and is current (its type may be unknown)
        End,       // no byte left: the recording ended where it should
        Truncated, // a cut-off unit: the recording ends before it
        NotOpen    // no device, or it is not open for reading
    };

    explicit RecordReader(QIODevice* device = nullptr) : m_file(device) {}

    void setDevice(QIODevice* device) { m_file.setDevice(device); }
    QIODevice* device() const { return m_file.device(); }
    bool isOpen() const { return m_file.isOpen(); }

    // Reads and decodes the file header from offset 0 and leaves the device at
    // the first unit. Throws IncorrectFileException when the file is shorter
    // than 32 bytes or its magic is wrong (the header then holds what could be
    // decoded), FileCantReadException on a read error.
    void readFileHeader(RecordFileHeader& header);

    // Positions the device at the first unit.
    bool rewind();

    // Reads the next unit into `header` and `payload`; `packed` is the buffer
    // for the stored bytes of a compressed unit (kept between calls so its
    // capacity is reused). After a compressed unit, header.m_size is the
    // inflated length and the flag is cleared from header.m_type. On End and
    // Truncated the payload is empty and the header is left cleared.
    Result readUnit(RecordUnitHeader& header, Array<unsigned char, int>& payload,
                    Array<unsigned char, int>& packed);

    // readUnit in two steps, for callers that want the payload of some units
    // only. readUnitHeader reads the header and checks that the declared
    // payload is in the file (the same results and rules as readUnit; for a
    // unit of unknown type it returns Unit and the payload is not there to
    // read). Then exactly one of readPayload (as readUnit would) or
    // skipPayload (moves past the stored bytes, inflating nothing) must
    // follow for a valid type.
    Result readUnitHeader(RecordUnitHeader& header);
    Result readPayload(RecordUnitHeader& header, Array<unsigned char, int>& payload,
                       Array<unsigned char, int>& packed);
    void skipPayload(const RecordUnitHeader& header);

    // File offset of the header of the unit last read (or attempted).
    qint64 unitPos() const { return m_unitPos; }
    // After Truncated: the number of bytes the cut-off unit needed in all
    // (header plus declared payload) and the number the file still held.
    quint64 truncatedNeeded() const { return m_truncatedNeeded; }
    qint64 truncatedHeld() const { return m_truncatedHeld; }

private:
    Result truncate(qint64 held, quint64 needed);

    DeviceReader m_file;
    qint64 m_unitPos = 0;
    quint64 m_truncatedNeeded = 0;
    qint64 m_truncatedHeld = 0;
};
