// SPDX-License-Identifier: MIT
// Reading websites.ini and telling what is on disk; watchlistformat.cpp has the bytes a list
// is read from and written as, listencoding.cpp their encoding, watchlistfilesave.cpp the
// saves.
#include "watchlistfile.h"

#include "datetimetext.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <optional>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// No list comes near it: a file this large is taken as unreadable, and left as it is.
constexpr qint64 MaxFileBytes = qint64(1) << 30;

std::optional<QByteArray> readWhole(const QString& path, FileFailure& why)
{
    WholeRead how = WholeRead::Read;
    std::optional<QByteArray> bytes = readWholeFile(path, MaxFileBytes, &how);
    switch (how) {
    case WholeRead::Read:
        break;
    case WholeRead::NotRegular:
        why = {QFileInfo(path).isDir() ? FileFailure::Kind::Folder
                                       : FileFailure::Kind::NotARegularFile,
               {}};
        break;
    case WholeRead::TooLarge:
        why = {FileFailure::Kind::System, systemError(EFBIG)};
        break;
    case WholeRead::Missing:
    case WholeRead::NotOpened:
    case WholeRead::ReadFailed:
        why = {FileFailure::Kind::System, systemError(errno != 0 ? errno : EIO)};
        break;
    }
    return bytes;
}

// The file's bytes: `known` itself, and no second copy of megabytes, whenever the file holds
// exactly those (and then `asKnown`).
std::optional<QByteArray> readWholeUnlessKnown(const QString& path, const QByteArray& known,
                                               FileFailure& why, bool& asKnown)
{
    asKnown = false;
    QFile file(path);
    if (!known.isNull() && file.open(QIODevice::ReadOnly) && file.size() == known.size()) {
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        qsizetype at = 0;
        for (;;) {
            const qint64 read = file.read(chunk.data(), chunk.size());
            if (read <= 0) {
                if (read == 0 && at == known.size() && file.error() == QFileDevice::NoError)
                    return asKnown = true, known;
                break;
            }
            if (known.size() - at < read ||
                std::memcmp(chunk.constData(), known.constData() + at, size_t(read)) != 0)
                break;
            at += read;
        }
    }
    std::optional<QByteArray> bytes = readWhole(path, why);
    if (bytes && !known.isNull() && *bytes == known)
        return asKnown = true, known;
    return bytes;
}

} // namespace

QString watchListPath(const QString& dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("websites.ini"));
}

WatchListFile::WatchListFile(QString path, std::chrono::milliseconds settleTime)
    : m_path(std::move(path)), m_watch(settleTime)
{}

SaveOutcome WatchListFile::replaceWhole(const QString& path, QByteArrayView bytes, SystemError& why,
                                        const std::function<bool()>& unchanged)
{
    switch (writeWholeFile(path, bytes, &why, true, unchanged)) {
    case WholeWrite::ChangedMeanwhile:
        return SaveOutcome::ChangedOutside;
    case WholeWrite::Written:
        return SaveOutcome::Saved;
    case WholeWrite::LinkRefused:
        return SaveOutcome::NotAFile;
    case WholeWrite::OpenFailed:
        return SaveOutcome::OpenFailed;
    case WholeWrite::WriteFailed:
        return SaveOutcome::WriteFailed;
    case WholeWrite::CommitFailed:
        break;
    }
    return SaveOutcome::CommitFailed;
}

LoadOutcome WatchListFile::readRecords(WatchListRecords& records)
{
    LoadOutcome outcome = LoadOutcome::Read;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink()) {
        const QByteArray defaults = defaultRecordBytes(nowAsGeneralDateTimeText());
        if (SystemError why; replaceWhole(m_path, defaults, why) != SaveOutcome::Saved) {
            m_failure = {FileFailure::Kind::System, why};
            // Nowhere to keep the list yet; the user still starts from the usual first site. A
            // list that another program puts there later is taken.
            records = parseWatchList(defaults);
            knowOnDisk("");
            return LoadOutcome::DefaultNotWritten;
        }
        outcome = LoadOutcome::CreatedDefault;
    }

    // Seen before it is read: should another program write meanwhile, the file looks changed
    // at the next look, and is read again then.
    struct stat st
    {};
    const bool seen = ::stat(QFile::encodeName(m_path).constData(), &st) == 0;
    std::optional<QByteArray> bytes = readWhole(m_path, m_failure);
    if (!bytes) {
        m_keepUnreadableFile = true;
        records = {};
        return LoadOutcome::Unreadable;
    }
    const ListText text = decodeList(*bytes);
    m_encoding = text.encoding;
    // A binary file is nobody's list: the user starts from one empty site, and the file is
    // never written over.
    records = isNotAList(text) ? WatchListRecords{} : parseWatchList(text.bytes);
    knowOnDisk(std::move(*bytes), true);
    if (seen) {
        // Korvane wrote the file a moment ago, or has seen nothing of it yet: no write of its
        // own goes over it until it has seen it settle.
        if (outcome == LoadOutcome::CreatedDefault)
            seenSettled();
        else
            m_watch.look(stampOf(st));
    }
    return outcome;
}

void WatchListFile::fillRows(WatchList& list, WatchListRecords records)
{
    m_unloadedTail = std::move(records.unloadedTail);
    list.replaceSiteRows(std::move(records.rows));
    list.setCurrentCell(list.Rows() - 1, WatchList::LengthColumn);
    // Most often the file as it was read: then one copy of its bytes serves both.
    const QByteArray read = textOf(m_onDisk);
    m_keptBytes = !m_knownNotAList && serializesAs(list, list.Rows(), m_unloadedTail, read)
                      ? read
                      : serializeWatchList(list, list.Rows(), m_unloadedTail);
}

void WatchListFile::knowOnDisk(QByteArray bytes, bool read)
{
    m_knownNotAList = read && isNotAList(decodeList(bytes));
    // Never null once known, so that an empty file is told from none.
    m_onDisk = bytes.isNull() ? QByteArray("") : std::move(bytes);
    shareKeptBytes();
}

QByteArray WatchListFile::textOf(const QByteArray& fileBytes) const
{
    return decodeList(fileBytes).bytes;
}

void WatchListFile::shareKeptBytes()
{
    // A full list is megabytes, and what the list was when last kept is most often the file's
    // very bytes: one copy serves both.
    if (m_keptBytes == m_onDisk)
        m_keptBytes = m_onDisk;
}

void WatchListFile::seenSettled()
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0)
        m_watch.settledAt(stampOf(st));
}

WatchListFile::OnDisk WatchListFile::onDisk() const
{
    std::optional<QByteArray> bytes;
    return onDisk(bytes);
}

WatchListFile::OnDisk WatchListFile::onDisk(std::optional<QByteArray>& bytes) const
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat entry
    {};
    if (::lstat(name.constData(), &entry) != 0)
        return OnDisk::Missing;
    struct stat st
    {};
    if (::stat(name.constData(), &st) != 0) {
        // A link to a list that was deleted is a deleted list; a link into a folder that is
        // gone leads nowhere a list could be written.
        const QFileInfo target(QFileInfo(m_path).symLinkTarget());
        return target.absoluteDir().exists() && mayWriteThrough(m_path) ? OnDisk::Missing
                                                                        : OnDisk::NotAFile;
    }
    if (!S_ISREG(st.st_mode) || !mayWriteThrough(m_path))
        return OnDisk::NotAFile;
    FileFailure why;
    bool asKnown = false;
    bytes = readWholeUnlessKnown(m_path, m_onDisk, why, asKnown);
    if (!bytes)
        return OnDisk::Unreadable;
    // A file never read is nobody's edit to keep: it is written as it always was.
    if (m_onDisk.isNull())
        return OnDisk::AsKnown;
    const bool settled = m_watch.look(stampOf(st)).count() == 0;
    const Writers writers = writersOf(m_path);
    if (writers == Writers::Some)
        return OnDisk::Unsettled;
    if (asKnown) {
        if (!settled && writers == Writers::Unknown)
            return OnDisk::Settling;
        return m_knownNotAList ? OnDisk::NotAList : OnDisk::AsKnown;
    }
    if (!settled)
        return OnDisk::Unsettled;
    return isNotAList(decodeList(*bytes)) ? OnDisk::NotAList : OnDisk::Changed;
}

int WatchListFile::msUntilSettled() const
{
    struct stat st
    {};
    const qint64 settle = m_watch.settleTime().count();
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return int(std::max<qint64>(settle, 1));
    const qint64 left = m_watch.look(stampOf(st)).count();
    // Settled by the clock and still not taken (another program holds it open, or it is no
    // list): looked at again now and then, not all the time.
    return int(left > 0 ? left + 1 : std::max<qint64>(settle, 1));
}

bool WatchListFile::readOutsideEdit(WatchListRecords& known, WatchListRecords& records)
{
    // The bytes judged changed and settled are the ones taken: the file is read once.
    std::optional<QByteArray> bytes;
    if (m_keepUnreadableFile || m_onDisk.isNull() || onDisk(bytes) != OnDisk::Changed)
        return false;
    // An empty or binary file known (met at start-up, or none could be made) stood for what
    // the list then showed: those rows are what the other program's list replaces.
    known = parseWatchList(m_onDisk.isEmpty() || m_knownNotAList ? m_keptBytes : textOf(m_onDisk));
    const ListText text = decodeList(*bytes);
    m_encoding = text.encoding;
    records = parseWatchList(text.bytes);
    m_unloadedTail = records.unloadedTail;
    m_keptBytes = serializeRecords(records);
    knowOnDisk(std::move(*bytes), true);
    return true;
}

void WatchListFile::keepPastCapacity(const std::vector<WatchList::Cells>& rows)
{
    WatchListRecords past;
    past.rows = rows;
    past.unloadedTail = m_unloadedTail;
    m_unloadedTail = serializeRecords(past);
}

LoadOutcome WatchListFile::LoadResultsFromFile(WatchList& list)
{
    WatchListRecords records;
    const LoadOutcome outcome = readRecords(records);
    fillRows(list, std::move(records));
    return outcome;
}
