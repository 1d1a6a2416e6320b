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

RecordScan::Result RecordScan::scan(QIODevice& device, const std::atomic<bool>* cancel)
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
    try {
        for (;;) {
            if (cancel && cancel->load()) {
                result.problem = QStringLiteral("cancelled");
                break;
            }
            const RecordReader::Result r = reader.readUnitHeader(header);
            if (r == RecordReader::Unit) {
                ++result.units;
                result.realEnd = std::max<quint64>(result.realEnd, header.m_time);
                reader.skipPayload(header);
            } else if (r == RecordReader::Damaged) {
                if (result.damage.size() < MAX_DAMAGE_KEPT)
                    result.damage.append(reader.damage());
                ++result.damageCount;
                result.invalidTail = reader.damage().toEnd;
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
    return result;
}

RecordScan::Result RecordScan::scanFile(const QString& path, const std::atomic<bool>* cancel)
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
    return scan(file, cancel);
}
