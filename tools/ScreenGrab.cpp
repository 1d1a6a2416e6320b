// SPDX-License-Identifier: GPL-3.0-or-later
// screengrab OUT.png: saves the whole X screen of $DISPLAY as a PNG. Used by
// the screenshot test and scripts/run-demo to picture the player running on a
// virtual display (Xvfb); the player itself has no screenshot feature.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screengrab OUT.png\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screengrab: cannot grab the screen into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
