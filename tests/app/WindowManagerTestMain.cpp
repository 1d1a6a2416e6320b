// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a real window manager: this program starts its own X
// server (Xvfb, on a free display it picks itself and reports through
// -displayfd) with a 1600 x 1000 screen and an openbox on it, runs the tests
// with Qt's xcb platform there, then stops both by pid. The XDG folders
// point into a private temporary folder. Xvfb and openbox come from
// scripts/setup-deps; without them the program fails.

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WindowTestSupport.h"

namespace {

// Starts `argv` with its output into `log`; `displayFd`, when not -1, is
// handed to the child as its fd 3. The child ends with this process.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log, int displayFd = -1)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (displayFd >= 0)
        dup2(displayFd, 3);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot run %s (scripts/setup-deps installs it)\n", args[0]);
    _exit(127);
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// The display number Xvfb writes to the pipe once it accepts clients.
std::string readDisplay(int fd)
{
    std::string number;
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 20000) == 1 && read(fd, &c, 1) == 1 && c != '\n')
        number += c;
    return number;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        setenv(name, (home.path() + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit().constData(), 1);
    const std::string logs = home.path().toStdString();

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return 1;
    const pid_t xvfb = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1600x1000x24",
                              "-nolisten", "tcp"},
                             logs + "/xvfb.log", pipeFds[1]);
    close(pipeFds[1]);
    const std::string display = readDisplay(pipeFds[0]);
    close(pipeFds[0]);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start (scripts/setup-deps installs it)\n");
        stop(xvfb);
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    const pid_t openbox = spawn({"openbox", "--sm-disable"}, logs + "/openbox.log");

    int result = 1;
    {
        QApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
        QCoreApplication::setApplicationName(QStringLiteral("SessionPlayerTests"));
        // The window manager is ready once it frames a window. A probe
        // mapped while it is still starting may never be framed (seen on a
        // loaded machine), so the probe is mapped again until one is.
        QWidget probe;
        probe.resize(200, 100);
        bool framed = false;
        for (int attempt = 0; attempt < 10 && !framed; ++attempt) {
            probe.show();
            framed = waitFor([&] { return !probe.windowHandle()->frameMargins().isNull(); }, 3000);
            if (!framed)
                probe.hide();
        }
        if (!framed) {
            QFile log(QString::fromStdString(logs + "/openbox.log"));
            log.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "openbox does not frame windows (scripts/setup-deps installs it)\n%s",
                         log.readAll().constData());
        } else {
            probe.close();
            ::testing::InitGoogleTest(&argc, argv);
            result = RUN_ALL_TESTS();
        }
    }
    stop(openbox);
    stop(xvfb);
    return result;
}
