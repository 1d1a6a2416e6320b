// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QObject;

// What the player needs of its main window. setTitle and setVisible may be
// called on either thread (playback starts on the player thread when an
// index build ends for a recording that is to play once indexed); an
// implementation with widgets forwards them to the GUI thread.
class IPlayerWindow
{
public:
    virtual ~IPlayerWindow() = default;

    // The object whose slots onPlayerStatus(int), onPlayerPositionChanged(quint64),
    // onPlayerDurationChanged(quint64) and onInvalidFileFormat() receive the
    // player's signals (queued).
    virtual QObject* receiver() = 0;
    virtual void setTitle(const QString& title) = 0;
    virtual void setVisible(bool visible) = 0;
    // Playback starts by itself once the opened recording is ready. Read on
    // the player thread, written on the GUI thread.
    virtual bool playOnOpen() const = 0;
};
