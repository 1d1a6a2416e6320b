// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"
#include "String.h"

#include <fcntl.h>

// Open flags of File::open, passed to the system unchanged. Only three
// combinations are used; they are spelt with the platform's own flag names
// because the numbers differ between systems (the BSD read-write-create-
// truncate value 0x602 means read-write, truncate and append here, without
// create), and a wrong number could truncate a recording.
class FileMode
{
public:
    static constexpr int READ = O_RDONLY;                      // read only
    static constexpr int CREATE = O_RDWR | O_CREAT | O_TRUNC;  // read-write, create, truncate
    static constexpr int APPEND = O_WRONLY | O_CREAT | O_APPEND; // write only, create, append

    constexpr FileMode(int flags = READ) : m_flags(flags) {}
    constexpr int flags() const { return m_flags; }

private:
    int m_flags;
};

// A POSIX file descriptor with exception-based errors (the File… exceptions
// of Exception.h). Relative paths are made absolute against the current
// working directory. New files get permissions 0644.
//
// The static whole-file operations load, save and append never throw: they
// catch every failure, write a diagnostic to the standard error stream and
// return false. Only save (which truncates) and append create files; a
// recording is only ever opened with FileMode::READ.
//
// Not thread-safe per object; distinct objects may be used on distinct
// threads.
class File
{
public:
    File();
    // Closes an open descriptor; a failing close goes no further.
    ~File();

    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Throws FileCantCreateException when mode is FileMode::CREATE, else
    // FileCantOpenException, when the file cannot be opened (also for a null
    // or empty path). An already open descriptor is closed first.
    void open(const char* path, FileMode mode);
    // Reads until n bytes are in or the end of the file is reached; returns
    // the bytes read (fewer than n only at the end). Interrupted and partial
    // reads are resumed. Throws FileCantReadException.
    int read(void* buffer, int n);
    // Writes all n bytes (resuming partial writes); returns n. Throws
    // FileCantWriteException.
    int write(const void* buffer, int n);
    // Throws FileCantCloseException when the system reports a failure; the
    // descriptor is released either way.
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int getDescriptor() const { return m_fd; }

    // Reads the whole file into data (count = the bytes read). A file that
    // changes its size while it is read is read up to its end as found then,
    // never past the buffer. On failure "File::load: Exception" (or
    // "File::load: Unhandled C Exception") goes to standard error, data is
    // left empty and the result is false.
    static bool load(const char* path, Array<unsigned char, int>& data);
    // The same into text (the bytes unchanged, NUL bytes included).
    static bool load(const char* path, String& text);
    // Makes path's content exactly the n bytes of data (creating or
    // truncating the file). n = 0 gives an empty file. False, with the file
    // left alone, for a null path, a negative n or null data with n > 0;
    // false with a diagnostic when a system call fails.
    static bool save(const char* path, const unsigned char* data, int n);
    // As save, but adds the bytes at the end of the file.
    static bool append(const char* path, const unsigned char* data, int n);

private:
    int m_fd;
};

// Directory walk over one directory stream. Entries "." and ".." are skipped.
class FileEnumerator
{
public:
    FileEnumerator();
    ~FileEnumerator();

    FileEnumerator(const FileEnumerator&) = delete;
    FileEnumerator& operator=(const FileEnumerator&) = delete;

    // Opens path (made absolute); false if it is not a readable directory.
    bool open(const char* path);
    // The next entry name, valid until the next call; null at the end.
    const char* next();
    void close();

private:
    void* m_dir; // DIR*
};

// Static functions over POSIX path operations. Every path is first made
// absolute against the current working directory; a null or empty path
// fails. Failures are reported through the results (0, -1 or false).
class FileSystem
{
public:
    static constexpr char FILE_SEPARATOR = '/';

    // 0 if the path does not exist, else ATTR_EXISTS | ATTR_REGULAR (a file)
    // or ATTR_EXISTS | ATTR_DIRECTORY (a directory). Symbolic links are
    // followed.
    // path itself if it starts with '/', else the working directory, '/'
    // and path. Null gives an empty string.
    static String makeAbsolute(const char* path);
    // The absolute path with "." and ".." components and doubled separators
    // collapsed, without asking the file system (links are not resolved).
    static String canonicalize(const char* path);

    enum { ATTR_EXISTS = 1, ATTR_REGULAR = 2, ATTR_DIRECTORY = 4 };
    static int getBooleanAttributes(const char* path);

    static bool checkAccess(const char* path, bool write);
    // Milliseconds since 1970; 0 when the path cannot be queried.
    static long long getLastModifiedTime(const char* path);
    static bool setLastModifiedTime(const char* path, long long millis);
    // Clears every write permission bit.
    static bool setReadOnly(const char* path);
    // -1 for a null path, 0 when it does not exist, else the size in bytes.
    static long long getFileLength(const char* path);
    // Creates an empty file; false if the path already exists.
    static bool createFileExclusively(const char* path);
    // Deletes a file or an empty directory.
    static bool deleteFile(const char* path);
    static bool renameFile(const char* from, const char* to);

    // The entries of a directory except "." and ".."; false (names empty)
    // when it cannot be read.
    static bool listDirectory(const char* path, Array<String, int>& names);
    // Creates the directory and any missing parents; true when it exists as
    // a directory afterwards.
    static bool createDirectory(const char* path);
    // Deletes a directory with everything below it, depth first. Symbolic
    // links are removed, never followed, so nothing outside the tree is
    // touched. A path that is a file is deleted alone.
    static bool delTree(const char* path);

    // On an open descriptor.
    static long long getLength(int fd);
    static bool setLength(int fd, long long length);
    static bool isEOF(int fd);
    // Bytes between the position and the end (0 when past the end or on error).
    static long long available(int fd);
};
