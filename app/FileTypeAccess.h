// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The description of the recording file type that the window hands to the
// platform at every start, so that recordings open in the player from the
// desktop: eleven text fields, empty after construction, of which the window
// fills five (forRecordings() below), and the platform step regSetAllInfo().
//
// On Linux, regSetAllInfo() writes per user, under $XDG_DATA_HOME (or
// ~/.local/share when it is unset):
// - applications/vantorel-sessionplayer.desktop, the desktop entry that opens
//   a file with the program (Exec with %f) and lists the MIME type;
// - mime/packages/vantorel-sessionplayer.xml, a shared-mime-info package that
//   maps *.<extension> (and the older extensions) to the MIME type; the type
//   identifier is kept as the type's comment;
// - icons/hicolor/{16x16,48x48}/apps/vantorel-sessionplayer.png, the
//   application icon from the resources.
// Each file is written only when it is missing or its bytes differ; nothing
// else is touched (no default-application list, no other entry). When
// something was written, the MIME and desktop caches of that folder are
// refreshed with update-mime-database and update-desktop-database, if those
// programs are installed. The MIME type is the 8th field when set, otherwise
// "application/x-" followed by the type identifier in lower case with dots
// turned into hyphens (application/x-vantorel-recorded-session).
// `cmake --install` (and so the Debian package) installs the same desktop
// entry, package and icons for the whole system. Once they are there
// (installedSystemWide()), regSetAllInfo() writes nothing per user: it
// removes the per-user entry, package and icons an earlier start wrote, where
// they still hold exactly what it wrote (the entry with any program in its
// Exec line, since it named the build that wrote it), because an entry of the
// same id in the user's folder hides the system's. Files the user changed
// stay. On macOS the step does nothing; elsewhere it does nothing either.
//
// Registration never fails visibly: regSetAllInfo() returns whether the
// platform now holds the description, for tests and logs only. GUI thread
// (it reads the resources), or any thread once they are registered.
class FileTypeAccess
{
public:
    FileTypeAccess();
    virtual ~FileTypeAccess();

    // Empties all eleven fields.
    virtual void clearAllData();
    // Writes the description into the platform's file-type registry.
    virtual bool regSetAllInfo();

    // The description of recordings for the program at programPath
    // (command-line argument 0): extension "vro" (and the older "vr4"), open
    // command `<program> "%1"` (also as second open command), type identifier
    // "Vantorel.Recorded.Session", icon reference `<program>,1`. A relative
    // programPath is made absolute first (from the running application's own
    // path when there is one), since a desktop entry cannot use a path
    // relative to wherever the program was started from.
    static FileTypeAccess forRecordings(const QString& programPath);

    // Whether a folder of $XDG_DATA_DIRS (default /usr/local/share and
    // /usr/share), other than the user's own data folder, holds both the
    // desktop entry and the MIME package: the association is installed for
    // the whole system.
    static bool installedSystemWide();

    // The names the Linux files use (also by the install rules).
    static QString desktopFileName();   // "vantorel-sessionplayer.desktop"
    static QString mimePackageName();   // "vantorel-sessionplayer.xml"
    static QString iconName();          // "vantorel-sessionplayer"

    // The Linux texts for this description, as regSetAllInfo() writes them.
    // desktopEntry() is empty when the open command has no "%1".
    QString mimeType() const;
    QByteArray desktopEntry() const;
    QByteArray mimePackage() const;

    // The eleven fields, in this order. The window sets the 1st, 3rd, 6th,
    // 10th and 11th; the others stay empty for recordings.
    QString m_extension;          // 1st: without the dot
    QString m_contentType;        // 2nd
    QString m_openCommand;        // 3rd: program path, a blank, "%1" in quotes
    QString m_editCommand;        // 4th
    QString m_printCommand;       // 5th
    QString m_typeId;             // 6th: type identifier
    QString m_typeDescription;    // 7th
    QString m_mimeType;           // 8th
    QString m_perceivedType;      // 9th
    QString m_iconReference;      // 10th: program path and icon index
    QString m_secondOpenCommand;  // 11th: the same as the 3rd

    // Not one of the eleven fields: further extensions of the same type
    // (recordings have an older one). Emptied by clearAllData() too.
    QStringList m_olderExtensions;

private:
    // Removes the per-user files that still hold what regSetAllInfo() writes
    // (see above) and refreshes the caches it refreshed.
    void removeUserFiles() const;
};
