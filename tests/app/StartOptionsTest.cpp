// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: what each option gives, what is refused, and that a
// refusal ends the program with status 2 and the usage before any window.

#include "StartOptions.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct Row
{
    QStringList args; // after the program name
    StartOptions::Result result;
    QString summary;  // file|at|speed|paused|fullscreen|zoom|skip, of a start
};

// The name ctest shows for a row.
void PrintTo(const Row& r, std::ostream* os) { *os << r.args.join(' ').toStdString(); }

QString summary(const StartOptions& o)
{
    return QStringList{o.file(), o.at() ? QString::number(*o.at()) : "-",
                       o.speed() ? QString::number(*o.speed()) : "-", o.paused() ? "paused" : "-",
                       o.fullScreen() ? "full" : "-", o.zoom() ? (*o.zoom() ? "zoom" : "no-zoom") : "-",
                       o.skipIdle() ? "skip" : "-"}
        .join('|');
}

class StartOptionsTest : public ::testing::TestWithParam<Row>
{
};

} // namespace

TEST_P(StartOptionsTest, Parses)
{
    const Row& row = GetParam();
    const StartOptions o = StartOptions::parse(QStringList{"SessionPlayer"} + row.args);
    EXPECT_EQ(o.result(), row.result) << qPrintable(o.error());
    if (row.result == StartOptions::Start) {
        EXPECT_EQ(summary(o).toStdString(), row.summary.toStdString());
    }
    if (row.result == StartOptions::Error) {
        EXPECT_FALSE(o.error().isEmpty());
    }
    EXPECT_TRUE(o.usage().startsWith("Usage: SessionPlayer [options] [FILE]")) << qPrintable(o.usage());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartOptionsTest,
    ::testing::Values(
        Row{{}, StartOptions::Start, "|-|-|-|-|-|-"},
        Row{{"a.vro"}, StartOptions::Start, "a.vro|-|-|-|-|-|-"},
        Row{{"a.vro", "--at", "95", "--speed", "1/2", "--paused", "--fullscreen", "--no-zoom",
             "--skip-idle"},
            StartOptions::Start, "a.vro|95|-2|paused|full|no-zoom|skip"},
        Row{{"--at=1:02:05", "--speed", "20x", "--zoom", "a.vro"}, StartOptions::Start,
            "a.vro|3725|20|-|-|zoom|-"},
        Row{{"--at", "1:35", "--speed", "0.5", "a.vro"}, StartOptions::Start, "a.vro|95|-2|-|-|-|-"},
        Row{{"--at", "360000000", "a.vro"}, StartOptions::Start, "a.vro|360000000|-|-|-|-|-"},
        Row{{"--help", "--bogus-after"}, StartOptions::Error, ""},
        Row{{"--help"}, StartOptions::ShowHelp, ""},
        Row{{"--version", "a.vro"}, StartOptions::ShowVersion, ""},
        Row{{"--bogus"}, StartOptions::Error, ""},
        Row{{"-x", "a.vro"}, StartOptions::Error, ""},
        Row{{"a.vro", "b.vro"}, StartOptions::Error, ""},
        Row{{"a.vro", "--at"}, StartOptions::Error, ""},
        Row{{"--at", "-5", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "1:60", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "1:5", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "1:2:3:4", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "360000001", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "99999999999999999999", "a.vro"}, StartOptions::Error, ""},
        Row{{"--at", "1.5", "a.vro"}, StartOptions::Error, ""},
        Row{{"--speed", "0", "a.vro"}, StartOptions::Error, ""},
        Row{{"--speed", "21", "a.vro"}, StartOptions::Error, ""},
        Row{{"--speed", "1/3", "a.vro"}, StartOptions::Error, ""},
        Row{{"--zoom", "--no-zoom", "a.vro"}, StartOptions::Error, ""}));

// The program itself: a wrong option exits 2 with the usage on standard
// error, without a display (no window is tried); --help and --version
// exit 0.
TEST(StartOptionsProgram, AnswersWithoutAWindow)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb"); // a window would fail to open
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SP_BUILD_DIR "/app/SessionPlayer"), args);
        EXPECT_TRUE(p.waitForFinished(20000));
        return std::make_tuple(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                               QString::fromLocal8Bit(p.readAllStandardOutput()),
                               QString::fromLocal8Bit(p.readAllStandardError()));
    };
    const auto [badStatus, badOut, badErr] = run({"--speed", "fast", "x.vro"});
    EXPECT_EQ(badStatus, 2);
    EXPECT_TRUE(badOut.isEmpty());
    EXPECT_TRUE(badErr.startsWith("SessionPlayer: --speed takes 1/2 or 1 to 20, not \"fast\"."))
        << qPrintable(badErr);
    EXPECT_TRUE(badErr.contains("--skip-idle")) << "with the usage";

    const auto [helpStatus, helpOut, helpErr] = run({"--help"});
    EXPECT_EQ(helpStatus, 0);
    for (const char* option : {"--at", "--speed", "--paused", "--fullscreen", "--zoom", "--no-zoom",
                               "--skip-idle", "--help", "--version"})
        EXPECT_TRUE(helpOut.contains(QLatin1String(option))) << option;
    const auto [versionStatus, versionOut, versionErr] = run({"--version"});
    EXPECT_EQ(versionStatus, 0);
    EXPECT_TRUE(versionOut.startsWith("SessionPlayer ")) << qPrintable(versionOut);
}
