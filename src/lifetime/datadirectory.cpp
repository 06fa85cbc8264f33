// SPDX-License-Identifier: MIT
// Chooses the folder the program keeps its list in, and names the one it keeps its findings in.
#include "datadirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
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

QString chooseDataDirectory(const QString& programDirectory, const QString& fallbackDirectory,
                            QStringList* refusals)
{
    // An installed copy never writes beside itself, even where it could (a prefix in the home
    // directory): its bin/ holds programs, not lists.
    const bool installed =
        !programDirectory.isEmpty() && QFileInfo::exists(installedCopyMarker(programDirectory));
    if (!programDirectory.isEmpty() && !installed && isWritableDirectory(programDirectory))
        return QDir(programDirectory).absolutePath();
    errno = 0;
    if (!fallbackDirectory.isEmpty() && QDir().mkpath(fallbackDirectory) &&
        isWritableDirectory(fallbackDirectory))
        return QDir(fallbackDirectory).absolutePath();
    if (refusals) {
        const int error = errno;
        *refusals << QStringLiteral("%1: %2").arg(
            QDir::toNativeSeparators(programDirectory),
            installed ? QStringLiteral("an installed copy keeps its list in the user's folder")
                      : QStringLiteral("the program's folder cannot be written"));
        *refusals << QStringLiteral("%1: %2").arg(
            fallbackDirectory.isEmpty() ? QStringLiteral("(no per-user data folder)")
                                        : QDir::toNativeSeparators(fallbackDirectory),
            error ? QStringLiteral("it cannot be made or written (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(error)))
                  : QStringLiteral("it cannot be made or written"));
    }
    return {};
}

QString dataDirectoryForThisProgram(QStringList* refusals)
{
    return chooseDataDirectory(QCoreApplication::applicationDirPath(),
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                               refusals);
}

QString findingsDirectoryForThisUser()
{
    // Qt names the state folder only from 6.7 on.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(state).filePath(QStringLiteral("Korvane"));
}
