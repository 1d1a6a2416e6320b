// SPDX-License-Identifier: GPL-3.0-or-later
#include "Playhead.h"

#include "Exception.h"
#include "IPlayerView.h"
#include "Log.h"

namespace {

// A unit payload is reserved once at 3 MiB and grows 1 MiB at a time.
constexpr int kPayloadReserve = 3 * 1024 * 1024;
constexpr int kPayloadGrowBy = 1024 * 1024;

} // namespace

Playhead::Playhead()
{
    m_payload.setGrowBy(kPayloadGrowBy);
    m_payload.reallocate(kPayloadReserve);
    m_reader.setDevice(&m_file);
}

void Playhead::setView(IPlayerView* view)
{
    m_view = view;
    m_decoder.m_listener = view;
}

void Playhead::open(const QString& path, RecordFileHeader& header)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        FileCantOpenException e;
        e.setReason(m_file.errorString());
        throw e;
    }
    m_reader.readFileHeader(header);
}

void Playhead::close()
{
    if (m_file.isOpen())
        m_file.close();
    m_pending = false;
}

void Playhead::restart()
{
    m_decoder.reset();
    if (m_view)
        m_view->clearScreen();
    m_screenStarted = false;
    m_reader.rewind();
    m_pending = false;
}

bool Playhead::readUnit()
{
    for (;;) {
        RecordReader::Result r = m_reader.readUnitHeader(m_unit);
        if (r == RecordReader::Unit) {
            const int kind = m_unit.kind();
            if (kind == RecordUnitHeader::KIND_AUDIO_CAP || kind == RecordUnitHeader::KIND_AUDIO_SPK) {
                m_payload.setCount(0);
                m_reader.skipPayload(m_unit);
                if (m_audioObserver)
                    m_audioObserver(kind, m_reader.unitPos(), m_unit.m_time);
                return true;
            }
            r = m_reader.readPayload(m_unit, m_payload, m_packed);
        }
        if (r == RecordReader::NotOpen)
            throw 1;
        if (r != RecordReader::Damaged)
            return r == RecordReader::Unit;
        const RecordReader::Damage& d = m_reader.damage();
        logWarning3("Damaged part passed over: offsets %1 to %2, %3",
                    QByteArray::number(d.from).constData(),
                    d.toEnd ? "the end" : QByteArray::number(d.to).constData(),
                    d.what().toUtf8().constData());
        if (d.toEnd)
            throw IncorrectFormatException();
        if (m_onDamage)
            m_onDamage(d);
    }
}

UnitDispatch::ScreenStep Playhead::applyScreenUnit()
{
    return UnitDispatch::processScreenUnit(m_payload.data(), m_payload.count(), m_decoder, m_view,
                                           m_screenStarted);
}

void Playhead::applyControlUnit()
{
    UnitDispatch::processControlUnit(m_payload.data(), m_payload.count(), m_view);
}
