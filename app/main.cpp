// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

#include "ControlBar.h"
#include "FileTypeAccess.h"
#include "SessionPlayer.h"
#include "StartOptions.h"
#include "Version.h"

namespace {

// --help, --version and a wrong command line, answered before the
// application object exists, so they need no display. Returns the exit
// status, or -1 when the window is to start.
int answerWithoutWindow(const StartOptions& options)
{
    switch (options.result()) {
    case StartOptions::ShowVersion:
        std::printf("SessionPlayer %s\n", kSessionPlayerVersion);
        return 0;
    case StartOptions::ShowHelp:
        std::fputs(options.usage().toLocal8Bit().constData(), stdout);
        return 0;
    case StartOptions::Error:
        std::fprintf(stderr, "SessionPlayer: %s\n\n%s", options.error().toLocal8Bit().constData(),
                     options.usage().toLocal8Bit().constData());
        return StartOptions::kUsageExitStatus;
    case StartOptions::Start:
        break;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const StartOptions options = StartOptions::parse(arguments);
    if (const int status = answerWithoutWindow(options); status >= 0)
        return status;

    QApplication app(argc, argv);
    // They name the settings store (the last folder used).
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("SessionPlayer"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kSessionPlayerVersion));
    // Lets the desktop match the window to its entry (the Wayland app id).
    QGuiApplication::setDesktopFileName(QFileInfo(FileTypeAccess::desktopFileName()).completeBaseName());

    ControlBar::registerResources();
    QIcon icon(QStringLiteral(":/images/icon_16x16.png"));
    icon.addFile(QStringLiteral(":/images/icon_48x48.png"));
    QApplication::setWindowIcon(icon);

    SessionPlayer window(nullptr);
    window.show();
    window.start(options);

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
