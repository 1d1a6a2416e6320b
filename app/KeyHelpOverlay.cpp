// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeyHelpOverlay.h"

#include <QEvent>

KeyHelpOverlay::KeyHelpOverlay(QWidget* area) : QLabel(area)
{
    setObjectName(QStringLiteral("KeyHelpOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setTextFormat(Qt::RichText);
    setStyleSheet(QStringLiteral("QLabel#KeyHelpOverlay { background: rgba(20, 20, 20, 215); "
                                 "color: #f0f0f0; border-radius: 8px; padding: 12px; "
                                 "font-size: 10pt; }"));
    QString html = QStringLiteral("<b>") + tr("Keyboard shortcuts") + QStringLiteral("</b><table>");
    for (const auto& [key, what] : keys())
        html += QStringLiteral("<tr><td style='padding-right: 16px'><b>%1</b></td><td>%2</td></tr>")
                    .arg(key.toHtmlEscaped(), what.toHtmlEscaped());
    setText(html + QStringLiteral("</table>"));
    adjustSize();
    hide();
    area->installEventFilter(this);
}

QList<QPair<QString, QString>> KeyHelpOverlay::keys()
{
    return {
        {tr("Space"), tr("Play or pause")},
        {tr("Escape"), tr("Leave full screen; otherwise stop")},
        {tr("Left, Right"), tr("Back or forward 2 s (Control: 10 s)")},
        {tr("Page Up, Page Down"), tr("Forward or back 1 minute")},
        {tr("Home, End"), tr("Start, last second")},
        {tr("[ , ]"), tr("Slower, faster")},
        {tr("Up, Down"), tr("Volume up or down 10 %")},
        {tr("M"), tr("Mute")},
        {tr("S"), tr("Speech at other speeds")},
        {tr("K"), tr("Skip idle stretches")},
        {tr("I, O"), tr("In point, out point")},
        {tr("Control+E"), tr("Export clip")},
        {tr("Control+S"), tr("Save frame")},
        {tr("Control+C"), tr("Copy frame")},
        {tr("F, Control+F12"), tr("Full screen")},
        {tr("Z, Control+F11"), tr("Zoom (fit to window)")},
        {tr("Control+O"), tr("Open")},
        {tr("F1, ?"), tr("This list")},
    };
}

void KeyHelpOverlay::toggle()
{
    setVisible(!isVisible());
    if (isVisible()) {
        centre();
        raise();
    }
}

void KeyHelpOverlay::centre()
{
    if (QWidget* area = parentWidget())
        move((area->width() - width()) / 2, (area->height() - height()) / 2);
}

bool KeyHelpOverlay::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == parentWidget() && e->type() == QEvent::Resize)
        centre();
    return QLabel::eventFilter(watched, e);
}
