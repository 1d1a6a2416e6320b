// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlaybackClock.h"

namespace {

quint64 factor(int speed)
{
    return speed < 0 ? static_cast<quint64>(-static_cast<long long>(speed))
                     : static_cast<quint64>(speed);
}

} // namespace

quint64 PlaybackClock::scale(quint64 wallMs, int speed)
{
    if (speed > 0)
        return wallMs * factor(speed);
    if (speed < 0)
        return wallMs / factor(speed);
    return wallMs;
}

quint64 PlaybackClock::unscale(quint64 mediaMs, int speed)
{
    if (speed > 0)
        return mediaMs / factor(speed);
    if (speed < 0)
        return mediaMs * factor(speed);
    return mediaMs;
}

void PlaybackClock::start(quint64 now, quint64 mediaMs, int speed)
{
    m_base = static_cast<qint64>(now) - static_cast<qint64>(unscale(mediaMs, speed));
    m_speed = speed;
}

void PlaybackClock::changeSpeed(quint64 now, int speed)
{
    start(now, mediaTime(now), speed);
}

quint64 PlaybackClock::mediaTime(quint64 now) const
{
    return scale(elapsed(now), m_speed);
}

quint64 PlaybackClock::waitFor(quint64 mediaMs, quint64 now) const
{
    const quint64 reached = mediaTime(now);
    return reached >= mediaMs ? 0 : unscale(mediaMs - reached, m_speed);
}
