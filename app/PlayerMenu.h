// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QString>
#include <QStringList>

class QAction;

// The menu of the control bar's menu button: everything that has no button
// of its own. Its items reach the window (the controller) by name:
//
//   item                     object name     window slot           checked by
//   Export clip...           exportClip      exportClip()
//   Save frame...            saveFrame       saveFrame()
//   Copy frame               copyFrame       copyFrame()
//   Skip idle stretches      skipIdle        setSkipIdle(bool)     skipIdle()
//   Speech at other speeds   speech          setSpeechAtOtherSpeeds(bool)
//                                                                  speechAtOtherSpeeds()
//   Recent >                 recent          openRecentFile(QString)
//   Keyboard shortcuts       keyHelp         showKeyHelp()
//   About                    about           showAbout()
//
// An item whose slot the controller does not have is shown disabled, so the
// menu lists what the player can do as its parts come. A checkable item
// takes its check from the controller's invokable getter each time the menu
// opens. The Recent submenu lists the files given to setRecentFiles, by
// name with the folder in the tooltip, and is disabled when there are none.
//
// GUI thread only.
class PlayerMenu : public QMenu
{
    Q_OBJECT

public:
    PlayerMenu(QObject* controller, QWidget* parent = nullptr);

    // The item of that object name (see the table), or null.
    QAction* item(const QString& objectName) const;
    void setRecentFiles(const QStringList& files);
    // Reads the checks of the checkable items from the controller.
    void refreshChecks();

private:
    // Adds an item that calls `slot` (a SLOT() string) of the controller
    // when it has one; `getter` names its invokable bool getter, if checkable.
    QAction* addItem(const QString& objectName, const QString& text, const char* slot,
                     const char* getter = nullptr);

    QObject* m_controller;
    QMenu* m_recent = nullptr;
};
