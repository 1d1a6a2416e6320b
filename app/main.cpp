#include <QApplication>
#include <QFile>
#include <QIcon>

#include "ControlBar.h"
#include "SessionPlayer.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // They name the settings store (the last folder used).
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("SessionPlayer"));

    ControlBar::registerResources();
    QIcon icon(QStringLiteral(":/images/icon_16x16.png"));
    icon.addFile(QStringLiteral(":/images/icon_48x48.png"));
    QApplication::setWindowIcon(icon);

    SessionPlayer window(nullptr);
    window.show();
    window.checkAutoPlay();

    QString styleSheet;
    QFile file(QStringLiteral(":/SessionPlayer/style.qss"));
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray bytes = file.readAll();
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        styleSheet = QString::fromLatin1(bytes);
        file.close();
    }
    app.setStyleSheet(styleSheet);

    return app.exec();
}
