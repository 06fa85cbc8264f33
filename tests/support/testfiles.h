// SPDX-License-Identifier: MIT
// Whole-file reads and writes for tests that look at what the program left on disk, and a
// stamp that tells whether a file was replaced or written since.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/stat.h>

// The file's bytes; a file that cannot be read gives a marker no saved list can equal, so a
// missing file never passes for an empty one.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

// Which file a path names and when it was last written or changed: the program replaces
// websites.ini with a new file on every save, so any difference means a save happened.
struct FileStamp
{
    bool exists = false;
    ino_t inode = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

inline FileStamp stampOf(const QString& path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, st.st_ino, qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}
