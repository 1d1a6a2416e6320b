// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileTypeAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "ControlBar.h"

namespace {

const QString kPlaceholder = QStringLiteral("%1");

// The sizes of the icons written per user (those in the resources).
constexpr int kUserIconSizes[] = {16, 48};

// The open command's file placeholder, as the window writes it.
const QString kQuotedPlaceholder = QStringLiteral(" \"%1\"");

// A value of the desktop entry's Exec key: the argument quoted where the
// entry format needs it (double quotes, with ", `, $ and \ escaped), % doubled,
// then backslashes doubled once more for the string type of the key.
QString execArgument(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = arg.isEmpty();
    for (QChar c : arg)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString out;
    if (needsQuotes)
        out += QLatin1Char('"');
    for (QChar c : arg) {
        if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                            || c == QLatin1Char('\\')))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
        out += c;
    }
    if (needsQuotes)
        out += QLatin1Char('"');
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return out;
}

// The program of an open command `<program> "%1"` (or `<program> %1`); a
// quoted program loses its quotes. Empty when there is no placeholder.
QString programOf(const QString& openCommand)
{
    int end = openCommand.lastIndexOf(kQuotedPlaceholder);
    if (end < 0)
        end = openCommand.lastIndexOf(QLatin1Char(' ') + kPlaceholder);
    if (end <= 0)
        return QString();
    QString program = openCommand.left(end).trimmed();
    if (program.size() >= 2 && program.startsWith(QLatin1Char('"')) && program.endsWith(QLatin1Char('"')))
        program = program.mid(1, program.size() - 2);
    return program;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The template with its placeholders replaced.
QByteArray fillTemplate(const QString& resource, const QList<QPair<QString, QString>>& values)
{
    QString text = QString::fromUtf8(readAll(resource));
    for (const auto& v : values)
        text.replace(v.first, v.second);
    return text.toUtf8();
}

enum class WriteResult { Unchanged, Written, Failed };

// Writes data to path unless the file already holds exactly these bytes.
WriteResult writeIfDifferent(const QString& path, const QByteArray& data)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.size() == data.size() && existing.readAll() == data)
        return WriteResult::Unchanged;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return WriteResult::Failed;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
        return WriteResult::Failed;
    return WriteResult::Written;
}

// Runs a cache tool on a folder when the tool is installed; a missing tool
// or a failure only leaves the cache stale until the next login.
void refreshCache(const QString& tool, const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {folder});
    if (!process.waitForFinished(15000))
        process.kill();
}

// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
QString userDataHome()
{
    const QString env = qEnvironmentVariable("XDG_DATA_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return env;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// The folders of $XDG_DATA_DIRS, or its default when it is unset or empty;
// relative entries are ignored, as the XDG rules ask.
QStringList systemDataDirs()
{
    QString env = qEnvironmentVariable("XDG_DATA_DIRS");
    if (env.isEmpty())
        env = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs;
    for (const QString& dir : env.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    }
    return dirs;
}

// Whether an existing desktop entry is `ours` apart from the program in its
// Exec line: the entry that an earlier start wrote, from whichever build.
bool sameEntryButProgram(const QByteArray& existing, const QByteArray& ours)
{
    const QList<QByteArray> a = existing.split('\n');
    const QList<QByteArray> b = ours.split('\n');
    if (ours.isEmpty() || a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const bool bothExec = a[i].startsWith("Exec=") && b[i].startsWith("Exec=") && a[i].endsWith(" %f")
            && b[i].endsWith(" %f");
        if (a[i] != b[i] && !bothExec)
            return false;
    }
    return true;
}

// Removes path when it holds exactly `expected` (never when that is empty).
bool removeIfSame(const QString& path, const QByteArray& expected)
{
    return !expected.isEmpty() && readAll(path) == expected && QFile::remove(path);
}

} // namespace

FileTypeAccess::FileTypeAccess() = default;

FileTypeAccess::~FileTypeAccess() = default;

void FileTypeAccess::clearAllData()
{
    for (QString* field : {&m_extension, &m_contentType, &m_openCommand, &m_editCommand, &m_printCommand,
                           &m_typeId, &m_typeDescription, &m_mimeType, &m_perceivedType, &m_iconReference,
                           &m_secondOpenCommand})
        field->clear();
    m_olderExtensions.clear();
}

FileTypeAccess FileTypeAccess::forRecordings(const QString& programPath)
{
    QString program = programPath;
    if (!QFileInfo(program).isAbsolute()) {
        program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                               : QFileInfo(program).absoluteFilePath();
    }
    FileTypeAccess access;
    access.m_extension = QStringLiteral("vro");
    access.m_openCommand = program + kQuotedPlaceholder;
    access.m_typeId = QStringLiteral("Vantorel.Recorded.Session");
    access.m_iconReference = program + QStringLiteral(",1");
    access.m_secondOpenCommand = access.m_openCommand;
    access.m_olderExtensions = QStringList{QStringLiteral("vr4")};
    return access;
}

bool FileTypeAccess::installedSystemWide()
{
    const QString ownData = QDir(userDataHome()).canonicalPath();
    for (const QString& dir : systemDataDirs()) {
        if (!ownData.isEmpty() && QDir(dir).canonicalPath() == ownData)
            continue;
        if (QFileInfo::exists(dir + QStringLiteral("/applications/") + desktopFileName())
            && QFileInfo::exists(dir + QStringLiteral("/mime/packages/") + mimePackageName()))
            return true;
    }
    return false;
}

QString FileTypeAccess::desktopFileName()
{
    return QStringLiteral("vantorel-sessionplayer.desktop");
}

QString FileTypeAccess::mimePackageName()
{
    return QStringLiteral("vantorel-sessionplayer.xml");
}

QString FileTypeAccess::iconName()
{
    return QStringLiteral("vantorel-sessionplayer");
}

QString FileTypeAccess::mimeType() const
{
    if (!m_mimeType.isEmpty())
        return m_mimeType;
    return QStringLiteral("application/x-") + m_typeId.toLower().replace(QLatin1Char('.'), QLatin1Char('-'));
}

QByteArray FileTypeAccess::desktopEntry() const
{
    const QString program = programOf(m_openCommand);
    if (program.isEmpty() || m_typeId.isEmpty())
        return QByteArray();
    // A line break or other control character cannot stand in a key's value.
    for (QChar c : program) {
        if (c.category() == QChar::Other_Control)
            return QByteArray();
    }
    ControlBar::registerResources();
    return fillTemplate(QStringLiteral(":/linux/vantorel-sessionplayer.desktop.in"),
                        {{QStringLiteral("@SP_EXEC@"), execArgument(program)},
                         {QStringLiteral("@SP_ICON@"), iconName()},
                         {QStringLiteral("@SP_MIME_TYPE@"), mimeType()}});
}

QByteArray FileTypeAccess::mimePackage() const
{
    if (m_extension.isEmpty() || m_typeId.isEmpty())
        return QByteArray();
    QStringList globs;
    for (const QString& ext : QStringList{m_extension} + m_olderExtensions)
        globs << QStringLiteral("    <glob pattern=\"*.%1\"/>").arg(ext.toHtmlEscaped());
    const QString comment = m_typeDescription.isEmpty() ? m_typeId : m_typeDescription;
    ControlBar::registerResources();
    return fillTemplate(QStringLiteral(":/linux/vantorel-sessionplayer.xml.in"),
                        {{QStringLiteral("@SP_MIME_TYPE@"), mimeType().toHtmlEscaped()},
                         {QStringLiteral("@SP_TYPE_COMMENT@"), comment.toHtmlEscaped()},
                         {QStringLiteral("@SP_ICON@"), iconName()},
                         {QStringLiteral("@SP_MIME_GLOBS@"), globs.join(QLatin1Char('\n'))}});
}

bool FileTypeAccess::regSetAllInfo()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QByteArray entry = desktopEntry();
    const QByteArray package = mimePackage();
    if (entry.isEmpty() || package.isEmpty())
        return false;
    if (installedSystemWide()) {
        removeUserFiles();
        return true;
    }

    const QString dataHome = userDataHome();
    const QString applications = dataHome + QStringLiteral("/applications");
    const QString mime = dataHome + QStringLiteral("/mime");
    const WriteResult entryResult = writeIfDifferent(applications + QLatin1Char('/') + desktopFileName(), entry);
    const WriteResult packageResult =
        writeIfDifferent(mime + QStringLiteral("/packages/") + mimePackageName(), package);
    bool ok = entryResult != WriteResult::Failed && packageResult != WriteResult::Failed;
    for (int size : kUserIconSizes) {
        const QByteArray icon = readAll(QStringLiteral(":/images/icon_%1x%1.png").arg(size));
        const QString path = dataHome + QStringLiteral("/icons/hicolor/%1x%1/apps/").arg(size) + iconName()
            + QStringLiteral(".png");
        ok = !icon.isEmpty() && writeIfDifferent(path, icon) != WriteResult::Failed && ok;
    }

    if (packageResult == WriteResult::Written)
        refreshCache(QStringLiteral("update-mime-database"), mime);
    if (entryResult == WriteResult::Written)
        refreshCache(QStringLiteral("update-desktop-database"), applications);
    return ok;
#else
    // macOS takes the type from the application bundle; nothing to write.
    return false;
#endif
}

void FileTypeAccess::removeUserFiles() const
{
    const QString dataHome = userDataHome();
    const QString applications = dataHome + QStringLiteral("/applications");
    const QString mime = dataHome + QStringLiteral("/mime");
    const QString entryPath = applications + QLatin1Char('/') + desktopFileName();
    const bool entryRemoved = sameEntryButProgram(readAll(entryPath), desktopEntry()) && QFile::remove(entryPath);
    const bool packageRemoved = removeIfSame(mime + QStringLiteral("/packages/") + mimePackageName(), mimePackage());
    for (int size : kUserIconSizes) {
        removeIfSame(dataHome + QStringLiteral("/icons/hicolor/%1x%1/apps/").arg(size) + iconName()
                         + QStringLiteral(".png"),
                     readAll(QStringLiteral(":/images/icon_%1x%1.png").arg(size)));
    }
    if (packageRemoved)
        refreshCache(QStringLiteral("update-mime-database"), mime);
    if (entryRemoved)
        refreshCache(QStringLiteral("update-desktop-database"), applications);
}
