// SPDX-License-Identifier: MIT
// Saving websites.ini: whether a save may write, and what it tells when it may not.
#include "watchlistfile.h"

#include "wholefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <optional>

#include <sys/stat.h>

void WatchListFile::fail(FileFailure::Kind kind, SystemError system)
{
    m_failure = {kind, std::move(system)};
}

bool WatchListFile::fileHolds(const WatchList& list) const
{
    QFile file(m_path);
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray onDisk = file.readAll();
    return file.error() == QFileDevice::NoError &&
           serializesAs(list, list.Rows(), m_unloadedTail, textOf(onDisk));
}

bool WatchListFile::hasUnsavedChanges(const WatchList& list) const
{
    return !serializesAs(list, list.Rows(), m_unloadedTail, m_keptBytes);
}

SaveOutcome WatchListFile::SaveResultsToFile(WatchList& list, qint16 totalurls)
{
    if (totalurls < 1 || totalurls > list.Rows()) {
        fail(FileFailure::Kind::BadRowCount);
        return SaveOutcome::BadRowCount;
    }
    return writeList(onDisk(), serializeWatchList(list, totalurls, m_unloadedTail),
                     totalurls == list.Rows());
}

SaveOutcome WatchListFile::saveUnlessHeld(WatchList& list)
{
    std::optional<QByteArray> onDiskNow;
    const OnDisk state = onDisk(onDiskNow);
    // Compared as they would be written, without writing them out: most ends save nothing.
    const auto listIs = [&](const QByteArray& bytes) {
        return serializesAs(list, list.Rows(), m_unloadedTail, bytes);
    };
    const QByteArray text = onDiskNow ? textOf(*onDiskNow) : QByteArray();
    // A file behind a link Korvane may not write through was not read: it is, to compare.
    if (onDiskNow ? listIs(text) : state == OnDisk::NotAFile && fileHolds(list))
        return SaveOutcome::Saved;
    // A list left as Korvane last read or wrote it loses nothing: the file keeps what it holds,
    // the list Korvane took (its line ends and all stay the other program's) or what another
    // program wrote and Korvane never took (a list still being written, a binary file). Not so
    // a file that went, or something that is no file at all.
    // (When what was last kept is what the file holds, the answer is the one just had.)
    const bool unchanged = m_keptBytes != text && listIs(m_keptBytes);
    switch (state) {
    case OnDisk::AsKnown:
    case OnDisk::Changed:
    case OnDisk::Unsettled:
    case OnDisk::Settling:
    case OnDisk::NotAList:
        if (unchanged)
            return SaveOutcome::Saved;
        break;
    case OnDisk::Missing:
    case OnDisk::Unreadable:
    case OnDisk::NotAFile:
        break;
    }
    return writeList(state, serializeWatchList(list, list.Rows(), m_unloadedTail), true);
}

QByteArray WatchListFile::bytesOf(const WatchList& list) const
{
    return encodeList(m_encoding, serializeWatchList(list, list.Rows(), m_unloadedTail));
}

SaveOutcome WatchListFile::writeList(OnDisk state, QByteArray bytes, bool whole)
{
    if (m_keepUnreadableFile) {
        fail(FileFailure::Kind::KeptUnreadable);
        return SaveOutcome::KeptUnreadableFile;
    }
    if (isReadOnlyFile(m_path)) {
        fail(FileFailure::Kind::ReadOnly);
        return SaveOutcome::ReadOnlyFile;
    }
    // An edit made by hand while Korvane was open is never overwritten: the caller takes it
    // first. A file that cannot be read now cannot be compared, and is left as it is.
    switch (state) {
    case OnDisk::Changed:
        fail(FileFailure::Kind::ChangedOutside);
        return SaveOutcome::ChangedOutside;
    case OnDisk::Unreadable:
        fail(FileFailure::Kind::Unreadable);
        return SaveOutcome::KeptUnreadableFile;
    case OnDisk::Unsettled:
        fail(FileFailure::Kind::Unsettled);
        return SaveOutcome::FileUnsettled;
    case OnDisk::Settling:
        fail(FileFailure::Kind::Settling);
        return SaveOutcome::FileSettling;
    case OnDisk::NotAList:
        fail(FileFailure::Kind::NotAList);
        return SaveOutcome::NotAList;
    case OnDisk::NotAFile:
        fail(FileFailure::Kind::NotAFile);
        return SaveOutcome::NotAFile;
    case OnDisk::AsKnown:
    case OnDisk::Missing:
        break;
    }

    // What the file was when it was judged: should another program write it while the list
    // is written (a share, where nothing else tells), the list is not put in its place.
    const auto stampNow = [name = QFile::encodeName(m_path)]() -> std::optional<StatStamp> {
        struct stat st
        {};
        return ::stat(name.constData(), &st) == 0 ? std::optional(stampOf(st)) : std::nullopt;
    };
    const std::optional<StatStamp> judged = stampNow();
    SystemError why;
    QByteArray fileBytes = encodeList(m_encoding, bytes);
    const SaveOutcome outcome =
        replaceWhole(m_path, fileBytes, why, [&] { return stampNow() == judged; });
    if (outcome == SaveOutcome::ChangedOutside) {
        fail(FileFailure::Kind::ChangedOutside);
        return outcome;
    }
    if (outcome != SaveOutcome::Saved) {
        fail(outcome == SaveOutcome::NotAFile ? FileFailure::Kind::NotAFile
                                              : FileFailure::Kind::System,
             why);
        return outcome;
    }
    if (whole)
        m_keptBytes = std::move(bytes);
    knowOnDisk(std::move(fileBytes));
    seenSettled();
    return outcome;
}
