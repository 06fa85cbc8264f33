// SPDX-License-Identifier: MIT
// The bytes of websites.ini: records split from them, and a list written as them.
#include "watchlistfile.h"

#include <algorithm>
#include <cstring>

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
// after a last line without a line end). CR LF, LF and a lone CR each end a line wherever they
// stand: a record appended with `echo` (LF) to a list Korvane wrote (CR LF) stays a record of
// its own. No value can hold a line break, so none is lost.
struct Line
{
    qsizetype valueEnd;
    qsizetype next;
};

Line nextLine(const char* bytes, qsizetype from, qsizetype size)
{
    const char* const end = bytes + size;
    const char* at = std::find_if(bytes + from, end, isLineBreak);
    if (at == end)
        return {size, size};
    const bool crLf = at[0] == '\r' && at + 1 < end && at[1] == '\n';
    return {at - bytes, at - bytes + (crLf ? 2 : 1)};
}

} // namespace

WatchListRecords parseWatchList(QByteArrayView bytes, int maxRecords)
{
    WatchListRecords result;
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    result.rows.reserve(size_t(std::min<qsizetype>(maxRecords, size / 8 + 1)));
    qsizetype pos = 0;
    while (pos < size) {
        if (int(result.rows.size()) >= maxRecords) {
            result.unloadedTail = bytes.sliced(pos).toByteArray();
            break;
        }
        WatchList::Cells& record = result.rows.emplace_back();
        for (int field = 0; field < FieldsPerRecord && pos < size; ++field) {
            const Line line = nextLine(data, pos, size);
            record.text[size_t(FieldColumns[field])] = QByteArray(data + pos, line.valueEnd - pos);
            pos = line.next;
        }
    }
    return result;
}

namespace {

// Hands `put` the bytes of `records` records whose cells `cellOf(record, column)` gives, then
// `tail`, piece by piece, until `put` says no. The one place the file's format is written:
// to size a save, to fill it, and to compare a list with a file.
template <typename CellOf, typename Put>
bool forEachPiece(int records, const CellOf& cellOf, QByteArrayView tail, const Put& put)
{
    for (int record = 0; record < records; ++record) {
        for (int col : FieldColumns) {
            // Whatever reached the list, a record is written as three lines.
            QByteArrayView value = cellOf(record, col);
            for (;;) {
                const char* const lineBreak = std::find_if(value.begin(), value.end(), isLineBreak);
                if (!put(QByteArrayView(value.begin(), lineBreak)))
                    return false;
                if (lineBreak == value.end())
                    break;
                value = QByteArrayView(lineBreak + 1, value.end());
            }
            if (!put(LineEnd))
                return false;
        }
    }
    return put(tail);
}

template <typename CellOf>
QByteArray serializeCells(int records, const CellOf& cellOf, QByteArrayView tail)
{
    // Sized once and filled with plain copies: the list can be tens of thousands of records.
    qsizetype size = 0;
    forEachPiece(records, cellOf, tail, [&size](QByteArrayView piece) {
        size += piece.size();
        return true;
    });
    QByteArray bytes(size, Qt::Uninitialized);
    char* out = bytes.data();
    forEachPiece(records, cellOf, tail, [&out](QByteArrayView piece) {
        if (!piece.isEmpty())
            std::memcpy(out, piece.data(), size_t(piece.size()));
        out += piece.size();
        return true;
    });
    return bytes;
}

// True when serializeCells() would give `expected`.
template <typename CellOf>
bool cellsSerializeAs(int records, const CellOf& cellOf, QByteArrayView tail,
                      QByteArrayView expected)
{
    qsizetype at = 0;
    const bool same = forEachPiece(records, cellOf, tail, [&](QByteArrayView piece) {
        if (expected.size() - at < piece.size() || expected.sliced(at, piece.size()) != piece)
            return false;
        at += piece.size();
        return true;
    });
    return same && at == expected.size();
}

} // namespace

bool serializesAs(const WatchList& list, int totalurls, QByteArrayView tail, QByteArrayView bytes)
{
    return cellsSerializeAs(
        std::max(totalurls - 1, 0),
        [&list](int record, int col) -> const QByteArray& { return list.cell(record + 1, col); },
        tail, bytes);
}

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
