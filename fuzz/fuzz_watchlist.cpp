// SPDX-License-Identifier: MIT
// libFuzzer target: websites.ini of any bytes, with any line ends. Loading never crashes; what is
// loaded saves and loads back to the same table; and a file as Korvane writes it (whole CR LF
// lines, three to a record, no other CR or LF) saves back byte for byte; and the list compares
// equal to exactly the bytes it is written as.
#include "watchlist.h"
#include "watchlistfile.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what, std::size_t size)
{
    std::fprintf(stderr, "watch list file of %zu bytes: %s\n", size, what);
    std::abort();
}

QByteArrayList table(const WatchList& list)
{
    QByteArrayList cells;
    for (int row = 0; row < list.Rows(); ++row)
        for (int col = 0; col < WatchList::ColumnCount; ++col)
            cells << list.cell(row, col);
    return cells;
}

bool isAsWritten(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return true;
    if (!bytes.endsWith("\r\n"))
        return false;
    // Every CR LF ends a line, and no CR or LF stands alone.
    const qsizetype lines = bytes.count(QByteArrayView("\r\n"));
    return lines % 3 == 0 && bytes.count('\r') == lines && bytes.count('\n') == lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // A small capacity, so that short inputs also reach the records the list cannot hold.
    constexpr int Capacity = 50;

    WatchListRecords records = parseWatchList(bytes, Capacity);
    const QByteArray tail = records.unloadedTail;
    WatchList list;
    list.replaceSiteRows(std::move(records.rows));
    const QByteArray saved = serializeWatchList(list, list.Rows(), tail);

    WatchListRecords again = parseWatchList(saved, Capacity);
    WatchList reloaded;
    if (again.unloadedTail != tail)
        fail("the records past the capacity changed", size);
    reloaded.replaceSiteRows(std::move(again.rows));
    if (table(reloaded) != table(list))
        fail("load, save and load again gave another table", size);
    if (serializeWatchList(reloaded, reloaded.Rows(), tail) != saved)
        fail("a second save differs from the first", size);

    if (isAsWritten(bytes) && !bytes.isEmpty() && saved != bytes)
        fail("a file of whole records did not save back byte for byte", size);

    // The end's save tells whether the file already holds the list without writing the list
    // out: it must agree with writing it, or a changed list would go unsaved. A cell that holds
    // line breaks (which writing leaves out) is compared too.
    if (serializesAs(list, list.Rows(), tail, bytes) != (saved == bytes))
        fail("comparing the list with the file disagrees with writing it", size);
    list.setCell(1, WatchList::UrlColumn, bytes.first(std::min<qsizetype>(size, 16)).toByteArray());
    const QByteArray withBreaks = serializeWatchList(list, list.Rows(), tail);
    if (!serializesAs(list, list.Rows(), tail, withBreaks) ||
        serializesAs(list, list.Rows(), tail, withBreaks + 'x') ||
        serializesAs(list, list.Rows(), tail, withBreaks.chopped(1)))
        fail("the list compared with its own bytes, one more or one fewer, came out wrong", size);
    return 0;
}
