// Chooses the data directory and answers the read-only question the way the user means it.
#include "datadirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isWritableDirectory(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

} // namespace

QString chooseDataDirectory(const QString& programDirectory, const QString& fallbackDirectory)
{
    if (!programDirectory.isEmpty() && isWritableDirectory(programDirectory))
        return QDir(programDirectory).absolutePath();
    if (fallbackDirectory.isEmpty() || !QDir().mkpath(fallbackDirectory))
        return {};
    return QDir(fallbackDirectory).absolutePath();
}

QString dataDirectoryForThisProgram()
{
    return chooseDataDirectory(QCoreApplication::applicationDirPath(),
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

bool isReadOnlyFile(const QString& path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (::geteuid() == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return ::access(QFile::encodeName(path).constData(), W_OK) != 0;
}
