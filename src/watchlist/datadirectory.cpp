// SPDX-License-Identifier: MIT
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

QString installedCopyMarker(const QString& programDirectory)
{
    return QDir::cleanPath(QDir(programDirectory).filePath(QStringLiteral(KORVANE_INSTALL_MARKER)));
}

QString chooseDataDirectory(const QString& programDirectory, const QString& fallbackDirectory)
{
    // An installed copy never writes beside itself, even where it could (a prefix in the home
    // directory): its bin/ holds programs, not lists.
    if (!programDirectory.isEmpty() && !QFileInfo::exists(installedCopyMarker(programDirectory)) &&
        isWritableDirectory(programDirectory))
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
