#include "FileTypeAccess.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below root with its modification time.
std::map<QString, QDateTime> filesWithTimes(const QString& root)
{
    std::map<QString, QDateTime> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files[it.filePath()] = it.fileInfo().lastModified();
    }
    return files;
}

// Points XDG_DATA_HOME at a fresh folder for one test.
class FileTypeAccessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_home.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_saved); }

    QString path(const QString& relative) const { return m_home.path() + QLatin1Char('/') + relative; }

    QTemporaryDir m_home;
    QByteArray m_saved;
};

const QString kDesktop = QStringLiteral("applications/vantorel-sessionplayer.desktop");
const QString kPackage = QStringLiteral("mime/packages/vantorel-sessionplayer.xml");

// The desktop entry, MIME package and icons of access under share.
void expectAssociation(const QString& share, const FileTypeAccess& access)
{
    EXPECT_EQ(readFile(share + kDesktop), access.desktopEntry());
    EXPECT_EQ(readFile(share + kPackage), access.mimePackage());
    for (int size : {16, 48}) {
        EXPECT_EQ(readFile(share + QStringLiteral("icons/hicolor/%1x%1/apps/vantorel-sessionplayer.png").arg(size)),
                  readFile(QStringLiteral(":/images/icon_%1x%1.png").arg(size)));
    }
}

} // namespace

TEST_F(FileTypeAccessTest, RecordingsOpenWithTheProgramThroughTheirOwnMimeType)
{
    FileTypeAccess access = FileTypeAccess::forRecordings("/opt/player/bin/SessionPlayer");
    const QByteArray entry = access.desktopEntry();
    EXPECT_TRUE(entry.contains("\nExec=/opt/player/bin/SessionPlayer %f\n")) << entry.constData();
    EXPECT_TRUE(entry.contains("\nMimeType=application/x-vantorel-recorded-session;\n"));
    const QByteArray package = access.mimePackage();
    EXPECT_TRUE(package.contains("<mime-type type=\"application/x-vantorel-recorded-session\">\n"
                                 "    <comment>Vantorel.Recorded.Session</comment>\n"
                                 "    <icon name=\"vantorel-sessionplayer\"/>\n"
                                 "    <glob pattern=\"*.vro\"/>\n    <glob pattern=\"*.vr4\"/>"))
        << package.constData();
    ASSERT_TRUE(access.regSetAllInfo());
    expectAssociation(path(""), access);

    // The caches know the type once the tools ran.
    if (!QStandardPaths::findExecutable("update-mime-database").isEmpty()) {
        EXPECT_TRUE(readFile(path("mime/globs2")).contains("application/x-vantorel-recorded-session:*.vr4"));
    }
    if (!QStandardPaths::findExecutable("update-desktop-database").isEmpty()) {
        EXPECT_TRUE(readFile(path("applications/mimeinfo.cache"))
                        .contains("application/x-vantorel-recorded-session=vantorel-sessionplayer.desktop"));
    }
    if (!QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) {
        EXPECT_EQ(QProcess::execute("desktop-file-validate", {path(kDesktop)}), 0);
    }
}

TEST_F(FileTypeAccessTest, WritesOnlyWhatIsMissingOrDifferent)
{
    FileTypeAccess access = FileTypeAccess::forRecordings("/usr/bin/SessionPlayer");
    ASSERT_TRUE(access.regSetAllInfo());
    // Age every file, and add one that is not ours.
    ASSERT_TRUE(QDir().mkpath(path("applications")));
    QFile other(path("applications/other.desktop"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\n");
    other.close();
    const QDateTime old = QDateTime::currentDateTime().addDays(-100);
    for (const auto& [file, time] : filesWithTimes(m_home.path())) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const auto before = filesWithTimes(m_home.path());

    // The same description again changes nothing, caches included.
    ASSERT_TRUE(access.regSetAllInfo());
    EXPECT_EQ(filesWithTimes(m_home.path()), before);

    // An entry changed by someone else is put back; only it (and the desktop
    // cache) are rewritten.
    QFile entry(path(kDesktop));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("[Desktop Entry]\nExec=/elsewhere %f\n");
    entry.close();
    ASSERT_TRUE(access.regSetAllInfo());
    EXPECT_TRUE(readFile(path(kDesktop)).contains("Exec=/usr/bin/SessionPlayer %f"));
    for (const auto& [file, time] : filesWithTimes(m_home.path())) {
        if (file != path(kDesktop) && file != path("applications/mimeinfo.cache")) {
            EXPECT_EQ(time, before.at(file)) << qPrintable(file);
        }
    }
    EXPECT_EQ(readFile(path("applications/other.desktop")), "[Desktop Entry]\n");
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
    FileTypeAccess broken = FileTypeAccess::forRecordings("/opt/a\nb/SessionPlayer");
    EXPECT_FALSE(broken.regSetAllInfo());
    EXPECT_TRUE(filesWithTimes(m_home.path()).empty());
}

// `cmake --install` puts the same association in place for the whole system.
TEST_F(FileTypeAccessTest, InstallRulesInstallTheSameAssociation)
{
    QTemporaryDir destDir;
    ASSERT_TRUE(destDir.isValid());
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", destDir.path());
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(SP_CMAKE_COMMAND, {"--install", SP_BUILD_DIR, "--prefix", "/usr"});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().constData();

    EXPECT_TRUE(QFileInfo(destDir.path() + "/usr/bin/SessionPlayer").isExecutable());
    expectAssociation(destDir.path() + "/usr/share/", FileTypeAccess::forRecordings("/usr/bin/SessionPlayer"));
}
