// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordScan.h"

#include <QFile>

#include <algorithm>

#include "Exception.h"

bool RecordScan::Result::incomplete() const
{
    return truncated || headerDuration > realEnd + EARLY_END_MARGIN_MS;
}

quint64 RecordScan::Result::shownDuration() const
{
    if (headerDuration == 0 || headerDuration < realEnd || incomplete())
        return realEnd;
    return headerDuration;
}

RecordScan::Result RecordScan::scan(QIODevice& device, const std::atomic<bool>* cancel,
                                    Visitor* visitor)
{
    Result result;
    RecordReader reader(&device);
    RecordFileHeader fileHeader;
    try {
        reader.readFileHeader(fileHeader);
    } catch (const IncorrectFileException&) {
        result.problem = QStringLiteral("not a recorded session");
        return result;
    } catch (const FileException& e) {
        result.problem = e.getReason();
        return result;
    }
    result.readable = true;
    result.headerDuration = fileHeader.m_duration;

    RecordUnitHeader header;
    Array<unsigned char, int> payload, packed;
    bool cancelled = false;
    try {
        for (;;) {
            if (cancel && cancel->load()) {
                result.problem = QStringLiteral("cancelled");
                cancelled = true;
                break;
            }
            const RecordReader::Result r = reader.readUnitHeader(header);
            if (r == RecordReader::Unit) {
                ++result.units;
                result.realEnd = std::max<quint64>(result.realEnd, header.m_time);
                const quint64 stored = header.m_size;
                if (!visitor || !visitor->wantsPayload(header)) {
                    reader.skipPayload(header);
                    if (visitor)
                        visitor->onUnit(header, stored, nullptr);
                    continue;
                }
                const RecordReader::Result p = reader.readPayload(header, payload, packed);
                if (p == RecordReader::Unit) {
                    visitor->onUnit(header, stored, &payload);
                } else if (p == RecordReader::Damaged) {
                    visitor->onDamage(reader.damage());
                } else if (p == RecordReader::Truncated) {
                    result.truncated = true;
                    result.truncatedAt = reader.unitPos();
                    break;
                }
            } else if (r == RecordReader::Damaged) {
                if (result.damage.size() < MAX_DAMAGE_KEPT)
                    result.damage.append(reader.damage());
                ++result.damageCount;
                result.invalidTail = reader.damage().toEnd;
                if (visitor)
                    visitor->onDamage(reader.damage());
            } else {
                if (r == RecordReader::Truncated) {
                    result.truncated = true;
                    result.truncatedAt = reader.unitPos();
                }
                break;
            }
        }
    } catch (const FileException& e) {
        result.problem = e.getReason();
    }
    if (visitor && !cancelled)
        visitor->onEnd(result);
    return result;
}

RecordScan::Result RecordScan::scanFile(const QString& path, const std::atomic<bool>* cancel,
                                        Visitor* visitor)
{
    QFile file(path);
    // Buffered: most units are small, so the next header is usually in the
    // buffer already; measured faster than unbuffered reads even with large
    // sound units between the headers.
    if (!file.open(QIODevice::ReadOnly)) {
        Result result;
        result.problem = file.errorString();
        return result;
    }
    return scan(file, cancel, visitor);
}
