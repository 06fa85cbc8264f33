// SPDX-License-Identifier: MIT
// Finding the help page, or writing out the copy built into the program.
#include "helppage.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

QString shippedHelpPage(const QString& programDirectory)
{
    return QDir::cleanPath(QDir(programDirectory).filePath(QStringLiteral(KORVANE_HELP_FROM_BIN)));
}

namespace {

QString builtInHelpPage()
{
    QFile builtIn(QStringLiteral(":/help/help.html"));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty() || !builtIn.open(QIODevice::ReadOnly) || !QDir().mkpath(cache))
        return {};
    const QByteArray page = builtIn.readAll();
    const QString path = QDir(cache).filePath(QStringLiteral("help.html"));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == page)
        return path;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(page) != page.size() || !out.commit())
        return {};
    return path;
}

} // namespace

QByteArray helpPageAddress(const QString& programDirectory)
{
    // The page is compiled into this static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(help);
    QString page = shippedHelpPage(programDirectory);
    if (!QFile::exists(page))
        page = builtInHelpPage();
    if (page.isEmpty())
        return {};
    return QUrl::fromLocalFile(page).toEncoded();
}
