// SPDX-License-Identifier: MIT
// The list as the program starts with it, and as it leaves it at the end.
#include "listatstartandend.h"

#include "listsave.h"
#include "watchlist.h"
#include "wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

LoadOutcome startUpWatchList(WatchList& list, WatchListFile& file)
{
    WatchListRecords records;
    const LoadOutcome outcome = file.readRecords(records);

    list.setCell(0, WatchList::UrlColumn, "Website");
    list.setCell(0, WatchList::LastVisitedColumn, "Last visited");
    list.setCell(0, WatchList::UpdatedColumn, "Updated");

    file.fillRows(list, std::move(records));
    return outcome;
}

QString writeRecoveryFile(const WatchList& list, const WatchListFile& file,
                          const QStringList& directories, const QDateTime& when)
{
    const QString stem = QStringLiteral("websites-unsaved-%1")
                             .arg(when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    const QByteArray bytes = file.bytesOf(list);
    for (const QString& directory : directories) {
        if (directory.isEmpty() || !QDir().mkpath(directory))
            continue;
        // Never over another recovery file: two copies of Korvane ended by one logout keep
        // both lists.
        const QString kept = writeNewFile(directory, stem, QStringLiteral(".ini"), bytes);
        if (!kept.isEmpty())
            return kept;
    }
    return {};
}

RecoveryFile::RecoveryFile(QStringList places, Clock now)
    : m_places(std::move(places)),
      m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTime(); }))
{}

QString RecoveryFile::keep(const WatchList& list, const WatchListFile& file)
{
    // The file is Korvane's own from its first write on: replaced whole, as the list would be.
    if (!m_path.isEmpty() && writeWholeFile(m_path, file.bytesOf(list)) == WholeWrite::Written)
        return m_path;
    m_path = writeRecoveryFile(list, file, m_places, m_now());
    return m_path;
}

QStringList recoveryPlaces()
{
    return {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation), QDir::homePath(),
            QDir::tempPath()};
}

QString recoveryFileNewerThan(const QString& listPath, const QStringList& places)
{
    const QDateTime listWritten = QFileInfo(listPath).lastModified();
    QFileInfo newest;
    for (const QString& place : places) {
        if (place.isEmpty())
            continue;
        const QFileInfoList kept = QDir(place).entryInfoList(
            {QStringLiteral("websites-unsaved-*.ini")}, QDir::Files, QDir::Time);
        if (!kept.isEmpty() &&
            (newest.fileName().isEmpty() || kept.first().lastModified() > newest.lastModified()))
            newest = kept.first();
    }
    if (newest.fileName().isEmpty() ||
        (listWritten.isValid() && newest.lastModified() <= listWritten))
        return {};
    return newest.absoluteFilePath();
}

SaveOutcome saveWatchListAtShutDown(WatchList& list, WatchListFile& file)
{
    // One read of the file decides, and the save is its first try.
    const SaveOutcome outcome = file.saveUnlessHeld(list);
    return outcome == SaveOutcome::ChangedOutside ? saveWatchList(list, file) : outcome;
}
