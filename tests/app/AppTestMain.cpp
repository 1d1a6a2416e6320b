// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI tests need a QApplication (widgets, the offscreen platform) whose
// events they process while they wait. Before it exists, the XDG folders
// point into a private temporary folder, so no test can touch the user's
// settings, file associations or caches, whatever it forgets to set itself.
// Without a platform named, the tests run offscreen (CTest names it; the
// build's test discovery runs this program without it).

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QByteArray path = (home.path() + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit();
        qputenv(name, path);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("SessionPlayerTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
