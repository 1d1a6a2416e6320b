// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceReader.h"

#include <QIODevice>

#include "Exception.h"

bool DeviceReader::isOpen() const
{
    return m_device && m_device->isOpen() && m_device->isReadable();
}

bool DeviceReader::readExactly(unsigned char* dst, qint64 n)
{
    if (n <= 0)
        return true;
    if (!m_device) {
        FileCantReadException e;
        e.setReason(QStringLiteral("no file to read"));
        throw e;
    }
    qint64 done = 0;
    while (done < n) {
        const qint64 at = m_device->pos();
        const qint64 got = m_device->read(reinterpret_cast<char*>(dst) + done, n - done);
        if (got < 0) {
            FileCantReadException e;
            e.setReason(QStringLiteral("read error at offset %1: %2")
                            .arg(at)
                            .arg(m_device->errorString()));
            throw e;
        }
        if (got == 0)
            return false;
        done += got;
    }
    return true;
}

bool DeviceReader::readExactly(Array<unsigned char, int>& buffer, int n)
{
    buffer.setCount(n > 0 ? n : 0);
    if (readExactly(buffer.data(), n))
        return true;
    buffer.setCount(0);
    return false;
}

qint64 DeviceReader::pos() const
{
    return m_device ? m_device->pos() : 0;
}

qint64 DeviceReader::size() const
{
    return m_device ? m_device->size() : 0;
}

bool DeviceReader::seek(qint64 pos)
{
    return m_device && m_device->seek(pos);
}
