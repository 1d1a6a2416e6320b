// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileTypeAccess.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "FileBytes.h"

#include <map>
#include <optional>

namespace {

const QString kDesktop = QStringLiteral("applications/vantorel-sessionplayer.desktop");
const char* const kType = "application/x-vantorel-recorded-session";

// Sets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_saved(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() { m_was ? qputenv(m_name, m_saved) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_was;
};

// Points XDG_DATA_HOME at a fresh folder for one test, and XDG_DATA_DIRS at
// an empty "system" folder, so that a package installed on this machine
// plays no part.
class FileTypeAccessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_system.isValid());
        m_dataHome.emplace("XDG_DATA_HOME", m_home.path());
        m_dataDirs.emplace("XDG_DATA_DIRS", m_system.path());
    }
    void TearDown() override
    {
        m_dataDirs.reset();
        m_dataHome.reset();
    }

    QString path(const QString& relative) const { return m_home.filePath(relative); }

    // Every file in the folder with its modification time.
    std::map<QString, QDateTime> filesWithTimes() const
    {
        std::map<QString, QDateTime> files;
        QDirIterator it(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            files[it.filePath()] = it.fileInfo().lastModified();
        }
        return files;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_system;
    std::optional<ScopedEnv> m_dataHome;
    std::optional<ScopedEnv> m_dataDirs;
};

// The desktop entry, MIME package and icons of `access` under `share`.
void expectAssociation(const QString& share, const FileTypeAccess& access)
{
    EXPECT_EQ(readBytes(share + kDesktop), access.desktopEntry());
    EXPECT_EQ(readBytes(share + "mime/packages/vantorel-sessionplayer.xml"), access.mimePackage());
    for (int size : {16, 48}) {
        EXPECT_EQ(readBytes(share + QStringLiteral("icons/hicolor/%1x%1/apps/vantorel-sessionplayer.png").arg(size)),
                  readBytes(QStringLiteral(":/images/icon_%1x%1.png").arg(size)));
    }
}

} // namespace

TEST_F(FileTypeAccessTest, RecordingsOpenWithTheProgramThroughTheirOwnMimeType)
{
    FileTypeAccess access = FileTypeAccess::forRecordings("/opt/player/bin/SessionPlayer");
    const QByteArray entry = access.desktopEntry();
    EXPECT_TRUE(entry.contains("\nExec=/opt/player/bin/SessionPlayer %f\n")) << entry.constData();
    EXPECT_TRUE(entry.contains(QByteArray("\nMimeType=") + kType + ";\n"));
    const QByteArray package = access.mimePackage();
    EXPECT_TRUE(package.contains(QByteArray("<mime-type type=\"") + kType + "\">\n"
                                 "    <comment>Vantorel.Recorded.Session</comment>\n"
                                 "    <icon name=\"vantorel-sessionplayer\"/>\n"
                                 "    <glob pattern=\"*.vro\"/>\n    <glob pattern=\"*.vr4\"/>"))
        << package.constData();
    ASSERT_TRUE(access.regSetAllInfo());
    expectAssociation(m_home.path() + "/", access);

    // The caches know the type once the tools ran; the entry is valid.
    auto missing = [](const char* tool) { return QStandardPaths::findExecutable(tool).isEmpty(); };
    EXPECT_TRUE(missing("update-mime-database")
                || readBytes(path("mime/globs2")).contains(QByteArray(kType) + ":*.vr4"));
    EXPECT_TRUE(missing("update-desktop-database")
                || readBytes(path("applications/mimeinfo.cache"))
                       .contains(QByteArray(kType) + "=vantorel-sessionplayer.desktop"));
    EXPECT_TRUE(missing("desktop-file-validate")
                || QProcess::execute("desktop-file-validate", {path(kDesktop)}) == 0);
}

TEST_F(FileTypeAccessTest, WritesOnlyWhatIsMissingOrDifferent)
{
    FileTypeAccess access = FileTypeAccess::forRecordings("/usr/bin/SessionPlayer");
    ASSERT_TRUE(access.regSetAllInfo());
    // Age every file, and add one that is not ours.
    ASSERT_TRUE(writeBytes(path("applications/other.desktop"), "[Desktop Entry]\n"));
    const QDateTime old = QDateTime::currentDateTime().addDays(-100);
    for (const auto& [file, time] : filesWithTimes()) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const auto before = filesWithTimes();

    // The same description again changes nothing, caches included.
    ASSERT_TRUE(access.regSetAllInfo());
    EXPECT_EQ(filesWithTimes(), before);

    // An entry changed by someone else is put back; only it (and the desktop
    // cache) are rewritten.
    ASSERT_TRUE(writeBytes(path(kDesktop), "[Desktop Entry]\nExec=/elsewhere %f\n"));
    ASSERT_TRUE(access.regSetAllInfo());
    EXPECT_EQ(readBytes(path(kDesktop)), access.desktopEntry());
    for (const auto& [file, time] : filesWithTimes()) {
        EXPECT_TRUE(file == path(kDesktop) || file == path("applications/mimeinfo.cache")
                    || time == before.at(file)) << qPrintable(file);
    }
}

TEST_F(FileTypeAccessTest, ProgramPathsAreQuotedOrRefused)
{
    // Blanks and shell characters: quoted, with $, " and \ escaped, % doubled
    // and backslashes doubled again for the key's string type.
    FileTypeAccess odd = FileTypeAccess::forRecordings("/opt/My Apps/a$b\"c\\d%e/SessionPlayer");
    EXPECT_TRUE(odd.desktopEntry().contains("\nExec=\"/opt/My Apps/a\\\\$b\\\\\"c\\\\\\\\d%%e/SessionPlayer\" %f\n"))
        << odd.desktopEntry().constData();

    // A relative argument 0 becomes the running program's absolute path.
    FileTypeAccess relative = FileTypeAccess::forRecordings("SessionPlayer");
    EXPECT_TRUE(QFileInfo(relative.m_openCommand.section(" \"%1\"", 0, 0)).isAbsolute());

    // A line break cannot stand in an entry: nothing is written.
    EXPECT_FALSE(FileTypeAccess::forRecordings("/opt/a\nb/SessionPlayer").regSetAllInfo());
    EXPECT_TRUE(filesWithTimes().empty());
}

TEST_F(FileTypeAccessTest, StepsAsideOnceInstalledForTheWholeSystem)
{
    // An earlier start from a build folder registered per user.
    ASSERT_TRUE(FileTypeAccess::forRecordings("/home/dev/build/app/SessionPlayer").regSetAllInfo());
    FileTypeAccess installed = FileTypeAccess::forRecordings("/usr/bin/sessionplayer");

    // Half an install (the entry without the MIME package) is none: the
    // per-user entry follows the program that runs now.
    QDir(m_system.path()).mkpath("applications");
    QDir(m_system.path()).mkpath("mime/packages");
    ASSERT_TRUE(writeBytes(m_system.filePath("applications/vantorel-sessionplayer.desktop"), installed.desktopEntry()));
    EXPECT_FALSE(FileTypeAccess::installedSystemWide());
    ASSERT_TRUE(installed.regSetAllInfo());
    EXPECT_EQ(readBytes(path(kDesktop)), installed.desktopEntry());

    // The whole install: the files written earlier go, an icon the user
    // replaced with their own stays, and the user's caches forget the type.
    const QString userIcon = path("icons/hicolor/48x48/apps/vantorel-sessionplayer.png");
    ASSERT_TRUE(writeBytes(userIcon, "mine"));
    ASSERT_TRUE(writeBytes(m_system.filePath("mime/packages/vantorel-sessionplayer.xml"), installed.mimePackage()));
    EXPECT_TRUE(FileTypeAccess::installedSystemWide());
    ASSERT_TRUE(installed.regSetAllInfo());
    std::map<QString, QDateTime> left = filesWithTimes();
    for (const auto& [file, time] : left) {
        const bool cache = !file.contains("/packages/") && !file.contains("/icons/") && !file.endsWith(".desktop");
        EXPECT_TRUE(file == userIcon || cache) << qPrintable(file);
        EXPECT_FALSE(readBytes(file).contains(kType)) << qPrintable(file);
    }
    EXPECT_EQ(readBytes(userIcon), "mine");

    // Later starts leave everything as it is.
    ASSERT_TRUE(installed.regSetAllInfo());
    EXPECT_EQ(filesWithTimes(), left);
}

TEST_F(FileTypeAccessTest, KeepsEntriesTheUserChangedAndNeverTakesTheirFolderForTheSystem)
{
    FileTypeAccess access = FileTypeAccess::forRecordings("/home/dev/build/app/SessionPlayer");
    ASSERT_TRUE(access.regSetAllInfo());

    // The user's own data folder listed among the system's is still theirs.
    {
        ScopedEnv dirs("XDG_DATA_DIRS", m_home.path() + ":" + m_system.path());
        EXPECT_FALSE(FileTypeAccess::installedSystemWide());
    }

    // An entry the user edited (here: hidden from menus) is theirs to keep.
    const QByteArray edited = access.desktopEntry() + "NoDisplay=true\n";
    ASSERT_TRUE(writeBytes(path(kDesktop), edited));
    QDir(m_system.path()).mkpath("applications");
    QDir(m_system.path()).mkpath("mime/packages");
    ASSERT_TRUE(writeBytes(m_system.filePath("applications/vantorel-sessionplayer.desktop"), "[Desktop Entry]\n"));
    ASSERT_TRUE(writeBytes(m_system.filePath("mime/packages/vantorel-sessionplayer.xml"), "<mime-info/>\n"));
    ASSERT_TRUE(access.regSetAllInfo());
    EXPECT_EQ(readBytes(path(kDesktop)), edited);
    EXPECT_FALSE(QFileInfo::exists(path("mime/packages/vantorel-sessionplayer.xml")));
}

// `cmake --install` puts the same association in place for the whole system.
TEST(FileTypeAccessInstall, InstallRulesInstallTheSameAssociation)
{
    QTemporaryDir destDir;
    ASSERT_TRUE(destDir.isValid());
    qputenv("DESTDIR", destDir.path().toLocal8Bit());
    const int exitCode = QProcess::execute(SP_CMAKE_COMMAND, {"--install", SP_BUILD_DIR, "--prefix", "/usr"});
    qunsetenv("DESTDIR");
    ASSERT_EQ(exitCode, 0);

    EXPECT_TRUE(QFileInfo(destDir.path() + "/usr/bin/sessionplayer").isExecutable());
    expectAssociation(destDir.path() + "/usr/share/", FileTypeAccess::forRecordings("/usr/bin/sessionplayer"));
    // and the window takes it for the system's.
    ScopedEnv dirs("XDG_DATA_DIRS", destDir.path() + "/usr/share");
    EXPECT_TRUE(FileTypeAccess::installedSystemWide());
}
