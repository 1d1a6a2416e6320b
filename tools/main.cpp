// SPDX-License-Identifier: GPL-3.0-or-later
// sessiontool: a command-line companion of the player, built from the same
// libraries. It needs no display.

#include <QCoreApplication>

#include <cstdio>

#include "SessionTool.h"
#include "Version.h"

namespace {

const char kUsage[] =
    "Usage: sessiontool COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  info FILE [--json]                 what a recording holds\n"
    "  index FILE...                      build the index of recordings\n"
    "  frame FILE --at SECONDS -o OUT.png [--cursor]\n"
    "                                     the screen at a moment, as a PNG image\n"
    "  synth -o FILE [--seconds N] [--size WxH] [--seed N] [--audio] [--compress]\n"
    "                                     write a demo recording\n"
    "  check FILE... [--json]             what is damaged in recordings\n"
    "  repair IN -o OUT                   a copy without the damaged parts\n"
    "  export FILE -o OUT.mp4|OUT.webm [--from S] [--to S] [--fps N]\n"
    "         [--height N | --size WxH] [--no-cursor] [--no-sound] [--crf N]\n"
    "                                     the recording as a video with its sound\n"
    "\n"
    "Options:\n"
    "  --help                             show this text\n"
    "  --version                          print the version\n"
    "\n"
    "'sessiontool COMMAND --help' describes one command.\n";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sessiontool"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kSessionPlayerVersion));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return SessionTool::ExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return SessionTool::ExitOk;
    }
    if (command == QLatin1String("--version")) {
        SessionTool::printOut(QStringLiteral("sessiontool %1\n").arg(QCoreApplication::applicationVersion()));
        return SessionTool::ExitOk;
    }
    if (command == QLatin1String("info"))
        return SessionTool::info(args);
    if (command == QLatin1String("index"))
        return SessionTool::index(args);
    if (command == QLatin1String("frame"))
        return SessionTool::frame(args);
    if (command == QLatin1String("synth"))
        return SessionTool::synth(args);
    if (command == QLatin1String("check"))
        return SessionTool::check(args);
    if (command == QLatin1String("repair"))
        return SessionTool::repair(args);
    if (command == QLatin1String("export"))
        return SessionTool::exportVideo(args);
    SessionTool::printError(QStringLiteral("unknown command '%1' (try --help)").arg(command));
    return SessionTool::ExitUsage;
}
