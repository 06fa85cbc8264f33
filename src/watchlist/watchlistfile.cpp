// SPDX-License-Identifier: MIT
// Reading and writing websites.ini.
#include "watchlistfile.h"

#include "datadirectory.h"
#include "datetimetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <optional>

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

QByteArray serializeWatchList(const WatchList& list, int totalurls, QByteArrayView tail)
{
    // Whatever reached the list, a record is written as three lines.
    const auto lineBreaks = [](QByteArrayView value) {
        return value.count('\r') + value.count('\n');
    };
    qsizetype size = tail.size();
    for (int row = 1; row < totalurls; ++row)
        for (int col : FieldColumns)
            size += list.cell(row, col).size() - lineBreaks(list.cell(row, col)) + LineEnd.size();

    // Sized once and filled with plain copies: the list can be tens of thousands of records.
    QByteArray bytes(size, Qt::Uninitialized);
    char* out = bytes.data();
    const auto put = [&out](QByteArrayView piece) {
        if (!piece.isEmpty())
            std::memcpy(out, piece.data(), size_t(piece.size()));
        out += piece.size();
    };
    for (int row = 1; row < totalurls; ++row) {
        for (int col : FieldColumns) {
            const QByteArray& value = list.cell(row, col);
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

// Puts `bytes` in place of the file as a whole, or leaves the file as it was. `why` gets the
// reason of a failure.
SaveOutcome replaceWhole(const QString& path, QByteArrayView bytes, QString& why)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        why = file.errorString();
        return SaveOutcome::OpenFailed;
    }
    // Qt 6.4's commit() ignores the result of the flush it starts with, so bytes still in the
    // device's buffer that the disk then refuses (full, over quota) would not stop a cut-off
    // file from replacing the list. Flushing here makes that refusal a failed write.
    if (!WatchListFile::writeAll(file, bytes) || !file.flush()) {
        why = file.errorString();
        file.cancelWriting();
        return SaveOutcome::WriteFailed;
    }
    if (!file.commit()) {
        why = file.errorString();
        return SaveOutcome::CommitFailed;
    }
    return SaveOutcome::Saved;
}

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
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
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

bool WatchListFile::writeAll(QIODevice& device, QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const qint64 n = device.write(bytes.data() + written, bytes.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

LoadOutcome WatchListFile::readRecords(WatchListRecords& records)
{
    LoadOutcome outcome = LoadOutcome::Read;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink()) {
        const QByteArray defaults = defaultRecordBytes(nowAsGeneralDateTimeText());
        if (replaceWhole(m_path, defaults, m_errorString) != SaveOutcome::Saved) {
            // Nowhere to keep the list yet; the user still starts from the usual first site.
            records = parseWatchList(defaults);
            return LoadOutcome::DefaultNotWritten;
        }
        outcome = LoadOutcome::CreatedDefault;
    }

    const std::optional<QByteArray> bytes = readWhole(m_path, m_errorString);
    if (!bytes) {
        m_keepUnreadableFile = true;
        records = {};
        return LoadOutcome::Unreadable;
    }
    records = parseWatchList(*bytes);
    return outcome;
}

void WatchListFile::fillRows(WatchList& list, WatchListRecords records)
{
    m_unloadedTail = std::move(records.unloadedTail);
    list.replaceSiteRows(std::move(records.rows));
    list.setCurrentCell(list.Rows() - 1, WatchList::LengthColumn);
    m_keptBytes = serializeWatchList(list, list.Rows(), m_unloadedTail);
}

bool WatchListFile::fileHolds(const WatchList& list) const
{
    QFile file(m_path);
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray onDisk = file.readAll();
    return file.error() == QFileDevice::NoError &&
           onDisk == serializeWatchList(list, list.Rows(), m_unloadedTail);
}

bool WatchListFile::hasUnsavedChanges(const WatchList& list) const
{
    return serializeWatchList(list, list.Rows(), m_unloadedTail) != m_keptBytes;
}

LoadOutcome WatchListFile::LoadResultsFromFile(WatchList& list)
{
    WatchListRecords records;
    const LoadOutcome outcome = readRecords(records);
    fillRows(list, std::move(records));
    return outcome;
}

SaveOutcome WatchListFile::SaveResultsToFile(WatchList& list, qint16 totalurls)
{
    if (totalurls < 1 || totalurls > list.Rows()) {
        m_errorString = QStringLiteral("The list's row count is out of range.");
        return SaveOutcome::BadRowCount;
    }
    if (m_keepUnreadableFile) {
        m_errorString = QStringLiteral("It could not be read when Korvane started, so Korvane "
                                       "does not overwrite it.");
        return SaveOutcome::KeptUnreadableFile;
    }
    if (isReadOnlyFile(m_path)) {
        m_errorString = QStringLiteral("The file is read-only.");
        return SaveOutcome::ReadOnlyFile;
    }

    QByteArray bytes = serializeWatchList(list, totalurls, m_unloadedTail);

    const SaveOutcome outcome = replaceWhole(m_path, bytes, m_errorString);
    if (outcome == SaveOutcome::Saved && totalurls == list.Rows())
        m_keptBytes = std::move(bytes);
    return outcome;
}
