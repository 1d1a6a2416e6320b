#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstring>

#include "ControlBar.h"
#include "FileTypeAccess.h"
#include "SessionPlayer.h"
#include "Version.h"

namespace {

// --version and --help, answered before the application object exists, so
// they need no display. Returns the exit status, or -1 when the window is to
// start (any other first argument is the recording to open).
int answerInfoOption(int argc, char** argv)
{
    if (argc != 2)
        return -1;
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("SessionPlayer %s\n", kSessionPlayerVersion);
        return 0;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s [FILE]\n"
                    "\n"
                    "Plays a recorded session (.vro or .vr4); FILE is opened and played at start.\n"
                    "\n"
                    "Options:\n"
                    "  --help     show this text\n"
                    "  --version  print the version\n",
                    argv[0]);
        return 0;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = answerInfoOption(argc, argv); status >= 0)
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
