// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include "Array.h"

class QIODevice;

// The one reader of file bytes: the recording's units, the index's header,
// table and key frames all come in through it, and are then decoded from
// memory with ByteReader. It reads from a random-access QIODevice opened for
// reading (a QFile in the product, a QBuffer in tests and fuzzers), never
// writes and never owns the device. One reader serves one thread.
//
// A short file is not an error here: readExactly says false and the caller
// decides what a cut-off record means. A read error of the device throws
// FileCantReadException whose reason names the offset and the device's
// error, so that a failure in a long file can be found again.
class DeviceReader
{
public:
    explicit DeviceReader(QIODevice* device = nullptr) : m_device(device) {}

    void setDevice(QIODevice* device) { m_device = device; }
    QIODevice* device() const { return m_device; }
    // A device that is set, open and readable.
    bool isOpen() const;

    // Reads exactly n bytes at the device's position into dst (n <= 0 reads
    // nothing and succeeds). False when the device ended first; the bytes
    // that were there have then been consumed.
    bool readExactly(unsigned char* dst, qint64 n);
    // The same into `buffer`, sized to n first (to 0 when it fails).
    bool readExactly(Array<unsigned char, int>& buffer, int n);

    qint64 pos() const;
    qint64 size() const;
    bool seek(qint64 pos);

private:
    QIODevice* m_device;
};
