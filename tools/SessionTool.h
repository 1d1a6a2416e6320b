// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class Exception;
class QCommandLineParser;

// The commands of sessiontool. Each takes the arguments that follow its name,
// prints its results on standard output and its one-line errors on standard
// error, and returns the process exit status.
namespace SessionTool {

// check adds ExitDamaged; with several files a command returns the highest
// status any file had.
enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitDamaged = 3 };

int info(const QStringList& args);
int index(const QStringList& args);
int frame(const QStringList& args);
int synth(const QStringList& args);
int check(const QStringList& args);
int repair(const QStringList& args);
int exportVideo(const QStringList& args);

// Parses the arguments of `command` with `parser`, whose options are already
// added (--help is added here). Returns -1 when the command goes on, or the
// status to return at once: ExitOk once `help` is printed, ExitUsage once the
// parser's error is printed.
int parseCommand(QCommandLineParser& parser, const char* command, const char* help,
                 const QStringList& args);
// "sessiontool: <message>" as one line on standard error.
void printError(const QString& message);
// "sessiontool: FILE: what happened", the form of every failure that concerns
// a file.
void printFileError(const QString& file, const QString& what);
// Prints text on standard output as it is (UTF-8).
void printOut(const QString& text);
// What an exception says happened, in words ("cannot create the file"), and
// its reason when it has one (the system's, such as "Permission denied").
// Never the exception's class name.
QString describe(const Exception& e);
// A media time as h:mm:ss.mmm.
QString clockText(quint64 ms);

} // namespace SessionTool
