// SPDX-License-Identifier: MIT
// Reading websites.ini, and the bytes a list is written as; watchlistfilesave.cpp saves them.
#include "watchlistfile.h"

#include "datetimetext.h"
#include "wholefile.h"

#include <QDateTime>
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

constexpr QByteArrayView LineEnd("\r\n");
constexpr int FieldsPerRecord = 3;
constexpr int FieldColumns[FieldsPerRecord] = {WatchList::UrlColumn, WatchList::LastVisitedColumn,
                                               WatchList::LengthColumn};

} // namespace

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// The line starting at `from`: where its value ends, and where the next line starts (`size`
// after a last line without a line end). A file that has CR LF anywhere is one Korvane wrote, or
// one written like it: there only CR LF ends a line. A file without any CR LF was typed in an
// editor of another system, where LF or a lone CR does.
struct Line
{
    qsizetype valueEnd;
    qsizetype next;
};

Line nextLine(const char* bytes, qsizetype from, qsizetype size, bool crLf)
{
    const char* const end = bytes + size;
    if (!crLf) {
        const char* at = std::find_if(bytes + from, end, isLineBreak);
        return {at - bytes, at == end ? size : at - bytes + 1};
    }
    for (const char* at = bytes + from; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\r', size_t(end - at)));
        if (!at || at + 1 == end)
            break;
        if (at[1] == '\n')
            return {at - bytes, at - bytes + LineEnd.size()};
    }
    return {size, size};
}

// A value never holds a line break: one would put every later record out of step when the file
// is read again.
QByteArray withoutLineBreaks(QByteArrayView value)
{
    QByteArray clean = value.toByteArray();
    clean.removeIf(isLineBreak);
    return clean;
}

} // namespace

WatchListRecords parseWatchList(QByteArrayView bytes, int maxRecords)
{
    WatchListRecords result;
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    const bool crLf = bytes.indexOf(LineEnd) >= 0;
    result.rows.reserve(size_t(std::min<qsizetype>(maxRecords, size / 8 + 1)));
    qsizetype pos = 0;
    while (pos < size) {
        if (int(result.rows.size()) >= maxRecords) {
            result.unloadedTail = bytes.sliced(pos).toByteArray();
            break;
        }
        WatchList::Cells& record = result.rows.emplace_back();
        for (int field = 0; field < FieldsPerRecord && pos < size; ++field) {
            const Line line = nextLine(data, pos, size, crLf);
            // In a CR LF file, a CR or LF of its own is a stray one inside a value (an address
            // pasted with its line end by an earlier version): it goes, and the record stays in
            // step.
            record.text[size_t(FieldColumns[field])] =
                withoutLineBreaks(QByteArrayView(data + pos, line.valueEnd - pos));
            pos = line.next;
        }
    }
    return result;
}

namespace {

// The bytes of `records` records whose cells `cellOf(record, column)` gives, then `tail`.
template <typename CellOf>
QByteArray serializeCells(int records, const CellOf& cellOf, QByteArrayView tail)
{
    // Whatever reached the list, a record is written as three lines.
    const auto lineBreaks = [](QByteArrayView value) {
        return qsizetype(std::count_if(value.begin(), value.end(), isLineBreak));
    };
    qsizetype size = tail.size();
    for (int record = 0; record < records; ++record)
        for (int col : FieldColumns)
            size += cellOf(record, col).size() - lineBreaks(cellOf(record, col)) + LineEnd.size();

    // Sized once and filled with plain copies: the list can be tens of thousands of records.
    QByteArray bytes(size, Qt::Uninitialized);
    char* out = bytes.data();
    const auto put = [&out](QByteArrayView piece) {
        if (!piece.isEmpty())
            std::memcpy(out, piece.data(), size_t(piece.size()));
        out += piece.size();
    };
    for (int record = 0; record < records; ++record) {
        for (int col : FieldColumns) {
            const QByteArray& value = cellOf(record, col);
            if (lineBreaks(value) == 0)
                put(value);
            else
                out = std::remove_copy_if(value.begin(), value.end(), out, isLineBreak);
            put(LineEnd);
        }
    }
    put(tail);
    return bytes;
}

} // namespace

QByteArray serializeWatchList(const WatchList& list, int totalurls, QByteArrayView tail)
{
    return serializeCells(
        std::max(totalurls - 1, 0),
        [&list](int record, int col) -> const QByteArray& { return list.cell(record + 1, col); },
        tail);
}

QByteArray serializeRecords(const WatchListRecords& records)
{
    return serializeCells(
        int(records.rows.size()),
        [&records](int record, int col) -> const QByteArray& {
            return records.rows[size_t(record)].text[size_t(col)];
        },
        records.unloadedTail);
}

QByteArray defaultRecordBytes(const QByteArray& lastVisited)
{
    QByteArray bytes(DefaultSiteAddress);
    for (const QByteArrayView field : {QByteArrayView(lastVisited), QByteArrayView("0")}) {
        bytes += LineEnd;
        bytes += field;
    }
    bytes += LineEnd;
    return bytes;
}

namespace {

std::optional<QByteArray> readWhole(const QString& path, QString& why)
{
    QFile file(path);
    if (QFileInfo(path).isDir()) {
        why = QStringLiteral("It is a folder, not a file.");
        return std::nullopt;
    }
    if (!QFileInfo(path).isFile()) {
        why = QStringLiteral("It is not a regular file.");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    // At the size the file has, and then whatever came since: readAll() alone would leave room
    // to grow, megabytes for a full list, which the program keeps.
    QByteArray bytes(file.size(), Qt::Uninitialized);
    const qint64 read = file.read(bytes.data(), bytes.size());
    if (read >= 0) {
        bytes.truncate(read);
        bytes += file.readAll();
    }
    if (read < 0 || file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

} // namespace

QString watchListPath(const QString& dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("websites.ini"));
}

WatchListFile::WatchListFile(QString path) : m_path(std::move(path)) {}

SaveOutcome WatchListFile::replaceWhole(const QString& path, QByteArrayView bytes, QString& why)
{
    switch (writeWholeFile(path, bytes, &why, true)) {
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

bool WatchListFile::writeAll(QIODevice& device, QByteArrayView bytes)
{
    return writeAllBytes(device, bytes);
}

LoadOutcome WatchListFile::readRecords(WatchListRecords& records)
{
    LoadOutcome outcome = LoadOutcome::Read;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink()) {
        const QByteArray defaults = defaultRecordBytes(nowAsGeneralDateTimeText());
        if (replaceWhole(m_path, defaults, m_errorString) != SaveOutcome::Saved) {
            // Nowhere to keep the list yet; the user still starts from the usual first site. A
            // list that another program puts there later is taken.
            records = parseWatchList(defaults);
            knowOnDisk("");
            return LoadOutcome::DefaultNotWritten;
        }
        outcome = LoadOutcome::CreatedDefault;
    }

    std::optional<QByteArray> bytes = readWhole(m_path, m_errorString);
    if (!bytes) {
        m_keepUnreadableFile = true;
        records = {};
        return LoadOutcome::Unreadable;
    }
    records = parseWatchList(*bytes);
    knowOnDisk(std::move(*bytes), true);
    return outcome;
}

void WatchListFile::fillRows(WatchList& list, WatchListRecords records)
{
    m_unloadedTail = std::move(records.unloadedTail);
    list.replaceSiteRows(std::move(records.rows));
    list.setCurrentCell(list.Rows() - 1, WatchList::LengthColumn);
    m_keptBytes = serializeWatchList(list, list.Rows(), m_unloadedTail);
    shareKeptBytes();
}

void WatchListFile::knowOnDisk(QByteArray bytes, bool read)
{
    m_knownHalfWritten = read && (bytes.isEmpty() || bytes.contains('\0'));
    // Never null once known, so that an empty file is told from none.
    m_onDisk = bytes.isNull() ? QByteArray("") : std::move(bytes);
    shareKeptBytes();
}

void WatchListFile::shareKeptBytes()
{
    // A full list is megabytes, and what the list was when last kept is most often the file's
    // very bytes: one copy serves both.
    if (m_keptBytes == m_onDisk)
        m_keptBytes = m_onDisk;
}

namespace {

// How long ago the file last changed, in milliseconds by this computer's clock: its status
// change time, which no program can set back.
qint64 msSinceChange(const struct stat& st)
{
    const qint64 changed = qint64(st.st_ctim.tv_sec) * 1000 + st.st_ctim.tv_nsec / 1000000;
    return QDateTime::currentMSecsSinceEpoch() - changed;
}

bool changedLately(const struct stat& st, int settleMs)
{
    const qint64 age = msSinceChange(st);
    return age >= 0 && age < settleMs;
}

} // namespace

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
    QString why;
    bytes = readWhole(m_path, why);
    if (!bytes)
        return OnDisk::Unreadable;
    if (*bytes == m_onDisk)
        bytes = m_onDisk; // the copy just read goes at once
    // A file never read is nobody's edit to keep: it is written as it always was. An empty or
    // binary one read a moment after another program wrote it (at start-up) is most likely
    // that program's list still to come: not written over until it has settled.
    if (m_onDisk.isNull() || *bytes == m_onDisk)
        return m_knownHalfWritten && changedLately(st, m_settleMs) ? OnDisk::Unsettled
                                                                   : OnDisk::AsKnown;
    if (bytes->isEmpty() || bytes->contains('\0') || changedLately(st, m_settleMs))
        return OnDisk::Unsettled;
    return OnDisk::Changed;
}

int WatchListFile::msUntilSettled() const
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return m_settleMs;
    const qint64 left = m_settleMs - msSinceChange(st);
    // A file that stays empty or binary is looked at again now and then, not all the time.
    return left > 0 && left <= m_settleMs ? int(left) + 1 : std::max(m_settleMs, 1);
}

bool WatchListFile::readOutsideEdit(WatchListRecords& known, WatchListRecords& records)
{
    // The bytes judged changed and settled are the ones taken: the file is read once.
    std::optional<QByteArray> bytes;
    if (m_keepUnreadableFile || m_onDisk.isNull() || onDisk(bytes) != OnDisk::Changed)
        return false;
    // An empty file known (met at start-up, or none could be made) stood for what the list
    // then showed: those rows are what the other program's list replaces, not rows to keep.
    known = parseWatchList(m_onDisk.isEmpty() ? m_keptBytes : m_onDisk);
    records = parseWatchList(*bytes);
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
