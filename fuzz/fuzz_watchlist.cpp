// SPDX-License-Identifier: MIT
// libFuzzer target: websites.ini of any bytes, with any line ends. Loading never crashes; what is
// loaded saves and loads back to the same table; and a file as Korvane writes it (whole CR LF
// lines, three to a record, no other CR or LF) saves back byte for byte.
#include "watchlist.h"
#include "watchlistfile.h"

#include <QByteArray>

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
    return 0;
}
