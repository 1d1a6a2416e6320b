// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerMenu.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

namespace {

// SLOT() strings start with a code digit; the meta object wants the bare
// signature.
bool hasSlot(const QObject* object, const char* slot)
{
    const QByteArray signature = QMetaObject::normalizedSignature(slot + 1);
    return object && object->metaObject()->indexOfMethod(signature.constData()) >= 0;
}

} // namespace

PlayerMenu::PlayerMenu(QObject* controller, QWidget* parent)
    : QMenu(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("PlayerMenu"));
    addItem(QStringLiteral("exportClip"), tr("Export clip\u2026") + QStringLiteral("\tCtrl+E"),
            SLOT(exportClip()));
    addItem(QStringLiteral("saveFrame"), tr("Save frame\u2026") + QStringLiteral("\tCtrl+S"),
            SLOT(saveFrame()));
    addItem(QStringLiteral("copyFrame"), tr("Copy frame") + QStringLiteral("\tCtrl+C"),
            SLOT(copyFrame()));
    addSeparator();
    addItem(QStringLiteral("skipIdle"), tr("Skip idle stretches") + QStringLiteral("\tK"),
            SLOT(setSkipIdle(bool)), "skipIdle");
    addItem(QStringLiteral("speech"), tr("Speech at other speeds") + QStringLiteral("\tS"),
            SLOT(setSpeechAtOtherSpeeds(bool)), "speechAtOtherSpeeds");
    addSeparator();
    m_recent = addMenu(tr("Recent"));
    m_recent->setObjectName(QStringLiteral("recent"));
    m_recent->menuAction()->setObjectName(QStringLiteral("recent"));
    m_recent->setEnabled(false);
    addSeparator();
    addItem(QStringLiteral("keyHelp"), tr("Keyboard shortcuts") + QStringLiteral("\tF1"),
            SLOT(showKeyHelp()));
    addItem(QStringLiteral("about"), tr("About"), SLOT(showAbout()));
}

QAction* PlayerMenu::addItem(const QString& objectName, const QString& text, const char* slot,
                             const char* getter)
{
    QAction* action = addAction(text);
    action->setObjectName(objectName);
    action->setCheckable(getter != nullptr);
    if (getter)
        action->setProperty("getter", QByteArray(getter));
    const bool available = hasSlot(m_controller, slot);
    action->setEnabled(available);
    if (available) {
        if (getter)
            connect(action, SIGNAL(toggled(bool)), m_controller, slot);
        else
            connect(action, SIGNAL(triggered()), m_controller, slot);
    }
    return action;
}

QAction* PlayerMenu::item(const QString& objectName) const
{
    for (QAction* action : actions()) {
        if (action->objectName() == objectName)
            return action;
    }
    return nullptr;
}

void PlayerMenu::refreshChecks()
{
    for (QAction* action : actions()) {
        const QByteArray getter = action->property("getter").toByteArray();
        bool on = false;
        if (getter.isEmpty() || !action->isEnabled()
            || !QMetaObject::invokeMethod(m_controller, getter.constData(), Qt::DirectConnection,
                                          Q_RETURN_ARG(bool, on)))
            continue;
        // Only the user's toggles reach the controller.
        const QSignalBlocker quiet(action);
        action->setChecked(on);
    }
}

void PlayerMenu::setRecentFiles(const QStringList& files)
{
    m_recent->clear();
    for (const QString& file : files) {
        QAction* action = m_recent->addAction(QFileInfo(file).fileName());
        action->setToolTip(QDir::toNativeSeparators(file));
        action->setData(file);
        if (hasSlot(m_controller, SLOT(openRecentFile(QString)))) {
            connect(action, &QAction::triggered, m_controller, [this, file]() {
                QMetaObject::invokeMethod(m_controller, "openRecentFile", Qt::QueuedConnection,
                                          Q_ARG(QString, file));
            });
        }
    }
    m_recent->setToolTipsVisible(true);
    m_recent->setEnabled(!files.isEmpty());
}
