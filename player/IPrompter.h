// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Message boxes and the open-file dialog, as the player asks for them. Every
// call may come from the GUI thread or from the player thread; it returns
// only when the user has answered. A widget implementation shows the box on
// the GUI thread and makes a caller on the player thread wait for it.
class IPrompter
{
public:
    enum Answer { Ok, Yes, No, Cancel };

    virtual ~IPrompter() = default;

    // A critical box with one Ok button.
    virtual void critical(const QString& title, const QString& text) = 0;
    // A question with Yes, No and Cancel; closing the box counts as Cancel.
    virtual Answer question(const QString& title, const QString& text) = 0;
    // The index question: a question as above, with a check box "Always
    // build the index without asking"; *always tells whether it was ticked
    // (it counts only with Yes). Prompters without the box ask question().
    virtual Answer indexQuestion(const QString& title, const QString& text, bool* always)
    {
        *always = false;
        return question(title, text);
    }
    // A warning with Yes and No; closing the box counts as No.
    virtual Answer warning(const QString& title, const QString& text) = 0;
    // The open-file dialog; the empty text when the user cancelled.
    virtual QString getOpenFileName(const QString& caption, const QString& folder,
                                    const QString& filter) = 0;

    // The GUI thread calls this on every step of a wait for the player thread
    // (stop, seek from idle, closing the window), so that a box the player
    // thread asked for meanwhile is still shown instead of deadlocking.
    virtual void serviceWhileWaiting() {}
};
