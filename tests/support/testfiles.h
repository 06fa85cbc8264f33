// Whole-file reads and writes for tests that look at what the program left on disk.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

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
