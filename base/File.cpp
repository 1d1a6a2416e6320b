// SPDX-License-Identifier: GPL-3.0-or-later
#include "File.h"

#include "Exception.h"
#include "String.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

// The absolute form of path, or an empty string for a null or empty path (or
// when the working directory cannot be found).
static std::string absolutePath(const char* path)
{
    if (!path || !*path)
        return std::string();
    if (path[0] == FileSystem::FILE_SEPARATOR)
        return std::string(path);
    char* cwd = getcwd(nullptr, 0);
    if (!cwd)
        return std::string();
    std::string result(cwd);
    free(cwd);
    if (result.empty() || result.back() != FileSystem::FILE_SEPARATOR)
        result += FileSystem::FILE_SEPARATOR;
    result += path;
    return result;
}

String FileSystem::makeAbsolute(const char* path)
{
    if (!path)
        return String();
    if (path[0] == FILE_SEPARATOR)
        return String(path);
    char* cwd = getcwd(nullptr, 0);
    if (!cwd)
        return String(path);
    String result(cwd);
    free(cwd);
    if (!result.endsWith("/"))
        result += FILE_SEPARATOR;
    result += path;
    return result;
}

String FileSystem::canonicalize(const char* path)
{
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return String();
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= abs.size()) {
        size_t end = abs.find(FILE_SEPARATOR, pos);
        if (end == std::string::npos)
            end = abs.size();
        const std::string part = abs.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    String result;
    for (const std::string& part : parts) {
        result += FILE_SEPARATOR;
        result += part.c_str();
    }
    if (result.isEmpty())
        result = "/";
    return result;
}

// ---------------------------------------------------------------------------
// File
// ---------------------------------------------------------------------------

File::File()
    : m_fd(-1)
{
}

File::~File()
{
    try {
        close();
    } catch (FileCantCloseException&) {
        // Nothing left to do with a descriptor that would not close.
    }
}

void File::open(const char* path, FileMode mode)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    const std::string abs = absolutePath(path);
    int fd = -1;
    if (!abs.empty()) {
        do {
            fd = ::open(abs.c_str(), mode.flags() | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        if (mode.flags() == FileMode::CREATE)
            throw FileCantCreateException();
        throw FileCantOpenException();
    }
    m_fd = fd;
}

int File::read(void* buffer, int n)
{
    if (n <= 0)
        return 0;
    if (m_fd < 0 || !buffer)
        throw FileCantReadException();
    unsigned char* p = static_cast<unsigned char*>(buffer);
    int got = 0;
    while (got < n) {
        const ssize_t rc = ::read(m_fd, p + got, static_cast<size_t>(n - got));
        if (rc > 0)
            got += static_cast<int>(rc);
        else if (rc == 0)
            break;
        else if (errno != EINTR)
            throw FileCantReadException();
    }
    return got;
}

int File::write(const void* buffer, int n)
{
    if (n <= 0)
        return 0;
    if (m_fd < 0 || !buffer)
        throw FileCantWriteException();
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    int done = 0;
    while (done < n) {
        const ssize_t rc = ::write(m_fd, p + done, static_cast<size_t>(n - done));
        if (rc > 0)
            done += static_cast<int>(rc);
        else if (rc < 0 && errno == EINTR)
            continue;
        else
            throw FileCantWriteException();
    }
    return done;
}

void File::close()
{
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close() is interrupted, so it
    // is never retried.
    if (::close(fd) != 0 && errno != EINTR)
        throw FileCantCloseException();
}

// Reads the open file to its end into data, starting with room for
// `expected` bytes. One byte more than expected is asked for, so the usual
// case (the size did not change) needs a single buffer; a file that grew
// meanwhile is read on with a doubling buffer up to the Array limit.
static int readToEnd(File& f, Array<unsigned char, int>& data, int expected)
{
    int room = expected < INT_MAX ? expected + 1 : INT_MAX;
    data.setCount(room);
    int got = f.read(data.data(), room);
    while (got == room) {
        if (room == INT_MAX)
            throw FileCantReadException(); // larger than an Array can hold
        room = room > INT_MAX / 2 ? INT_MAX : std::max(room * 2, 65536);
        data.setCount(room);
        got += f.read(data.data() + got, room - got);
    }
    data.setCount(got);
    return got;
}

static bool loadBytes(const char* path, Array<unsigned char, int>& data)
{
    try {
        const long long size = FileSystem::getFileLength(path);
        if (size < 0 || size > INT_MAX)
            throw FileCantReadException();
        File f;
        f.open(path, FileMode::READ);
        readToEnd(f, data, static_cast<int>(size));
        f.close();
        return true;
    } catch (FileException&) {
        fputs("File::load: Exception\n", stderr);
    } catch (Exception&) {
        fputs("File::load: Exception\n", stderr);
    } catch (...) {
        fputs("File::load: Unhandled C Exception\n", stderr);
    }
    data.setCount(0);
    return false;
}

bool File::load(const char* path, Array<unsigned char, int>& data)
{
    return loadBytes(path, data);
}

bool File::load(const char* path, String& text)
{
    Array<unsigned char, int> bytes;
    if (!loadBytes(path, bytes)) {
        text.clear();
        return false;
    }
    try {
        text = String(reinterpret_cast<const char*>(bytes.data()), bytes.count());
    } catch (...) {
        fputs("File::load: Unhandled C Exception\n", stderr);
        text.clear();
        return false;
    }
    return true;
}

static bool writeWhole(const char* path, const unsigned char* data, int n, int mode,
                       const char* who)
{
    if (!path || !*path || n < 0 || (!data && n > 0))
        return false;
    try {
        File f;
        f.open(path, mode);
        f.write(data, n);
        f.close();
        return true;
    } catch (FileException&) {
        fprintf(stderr, "%s: Exception\n", who);
    } catch (Exception&) {
        fprintf(stderr, "%s: Exception\n", who);
    } catch (...) {
        fprintf(stderr, "%s: Unhandled C Exception\n", who);
    }
    return false;
}

bool File::save(const char* path, const unsigned char* data, int n)
{
    return writeWhole(path, data, n, FileMode::CREATE, "File::save");
}

bool File::append(const char* path, const unsigned char* data, int n)
{
    return writeWhole(path, data, n, FileMode::APPEND, "File::append");
}

// ---------------------------------------------------------------------------
// FileEnumerator
// ---------------------------------------------------------------------------

FileEnumerator::FileEnumerator()
    : m_dir(nullptr)
{
}

FileEnumerator::~FileEnumerator()
{
    close();
}

bool FileEnumerator::open(const char* path)
{
    close();
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    m_dir = opendir(abs.c_str());
    return m_dir != nullptr;
}

const char* FileEnumerator::next()
{
    if (!m_dir)
        return nullptr;
    for (;;) {
        const dirent* entry = readdir(static_cast<DIR*>(m_dir));
        if (!entry)
            return nullptr;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        return name;
    }
}

void FileEnumerator::close()
{
    if (m_dir) {
        closedir(static_cast<DIR*>(m_dir));
        m_dir = nullptr;
    }
}

// ---------------------------------------------------------------------------
// FileSystem
// ---------------------------------------------------------------------------

static bool statPath(const std::string& abs, struct stat& st)
{
    return !abs.empty() && ::stat(abs.c_str(), &st) == 0;
}

int FileSystem::getBooleanAttributes(const char* path)
{
    struct stat st;
    if (!statPath(absolutePath(path), st))
        return 0;
    int attributes = ATTR_EXISTS;
    if (S_ISREG(st.st_mode))
        attributes |= ATTR_REGULAR;
    if (S_ISDIR(st.st_mode))
        attributes |= ATTR_DIRECTORY;
    return attributes;
}

bool FileSystem::checkAccess(const char* path, bool write)
{
    const std::string abs = absolutePath(path);
    return !abs.empty() && ::access(abs.c_str(), write ? W_OK : R_OK) == 0;
}

long long FileSystem::getLastModifiedTime(const char* path)
{
    struct stat st;
    if (!statPath(absolutePath(path), st))
        return 0;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

bool FileSystem::setLastModifiedTime(const char* path, long long millis)
{
    const std::string abs = absolutePath(path);
    if (abs.empty() || millis < 0)
        return false;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // access time unchanged
    times[1].tv_sec = static_cast<time_t>(millis / 1000);
    times[1].tv_nsec = static_cast<long>(millis % 1000) * 1000000;
    return ::utimensat(AT_FDCWD, abs.c_str(), times, 0) == 0;
}

bool FileSystem::setReadOnly(const char* path)
{
    const std::string abs = absolutePath(path);
    struct stat st;
    if (!statPath(abs, st))
        return false;
    return ::chmod(abs.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777) == 0;
}

long long FileSystem::getFileLength(const char* path)
{
    if (!path || !*path)
        return -1;
    struct stat st;
    if (!statPath(absolutePath(path), st))
        return 0;
    return static_cast<long long>(st.st_size);
}

bool FileSystem::createFileExclusively(const char* path)
{
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    int fd;
    do {
        fd = ::open(abs.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool FileSystem::deleteFile(const char* path)
{
    const std::string abs = absolutePath(path);
    return !abs.empty() && ::remove(abs.c_str()) == 0;
}

bool FileSystem::renameFile(const char* from, const char* to)
{
    const std::string absFrom = absolutePath(from);
    const std::string absTo = absolutePath(to);
    return !absFrom.empty() && !absTo.empty() && ::rename(absFrom.c_str(), absTo.c_str()) == 0;
}

bool FileSystem::listDirectory(const char* path, Array<String, int>& names)
{
    names.setCount(0);
    FileEnumerator e;
    if (!e.open(path))
        return false;
    while (const char* name = e.next())
        names.append(String(name));
    return true;
}

bool FileSystem::createDirectory(const char* path)
{
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    // Each prefix that ends before a separator, then the whole path.
    for (size_t pos = 1; pos <= abs.size(); ++pos) {
        if (pos < abs.size() && abs[pos] != FILE_SEPARATOR)
            continue;
        const std::string prefix = abs.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return statPath(abs, st) && S_ISDIR(st.st_mode);
}

static bool deleteTree(const std::string& abs)
{
    struct stat st;
    if (::lstat(abs.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(abs.c_str()) == 0; // files and symbolic links alike
    // Names first, so that only one directory stream is open at any depth.
    std::vector<std::string> children;
    {
        FileEnumerator e;
        if (!e.open(abs.c_str()))
            return false;
        while (const char* name = e.next())
            children.emplace_back(name);
    }
    bool ok = true;
    for (const std::string& name : children)
        ok = deleteTree(abs + FileSystem::FILE_SEPARATOR + name) && ok;
    return ::rmdir(abs.c_str()) == 0 && ok;
}

bool FileSystem::delTree(const char* path)
{
    const std::string abs = absolutePath(path);
    if (abs.empty())
        return false;
    return deleteTree(abs);
}

long long FileSystem::getLength(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

bool FileSystem::setLength(int fd, long long length)
{
    if (length < 0)
        return false;
    int rc;
    do {
        rc = ::ftruncate(fd, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool FileSystem::isEOF(int fd)
{
    return available(fd) == 0;
}

long long FileSystem::available(int fd)
{
    const off_t pos = ::lseek(fd, 0, SEEK_CUR);
    const long long length = getLength(fd);
    if (pos < 0 || length < 0)
        return 0;
    return length > pos ? length - pos : 0;
}
