// SPDX-License-Identifier: MIT
// The two watch lists the crash-safety writer saves in turn, and the progress record it keeps
// in shared memory so that the test knows what was on disk, or on its way there, at the kill.
#pragma once

#include "watchlist.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <vector>

namespace savelists {

inline constexpr int Sites = 10'000;

struct Record
{
    QByteArray address;
    QByteArray visited;
    QByteArray length;
};

// List 0 and list 1 differ in every record and in total size, so that neither can pass for
// the other, nor for a cut-off copy of either.
inline std::vector<Record> records(int which)
{
    std::vector<Record> result;
    result.reserve(Sites);
    for (int i = 0; i < Sites; ++i) {
        const QByteArray n = QByteArray::number(i);
        if (which == 0) {
            result.push_back({"www.alpha-site" + n + ".example/news/index.html?page=" + n,
                              "07/12/2026 10:" + QByteArray::number(10 + i % 50) + ":00",
                              QByteArray::number(i * 37 % 100'000)});
        } else {
            result.push_back({"beta" + n + ".example.org/" + n,
                              "08/12/2026 9:15:" + QByteArray::number(10 + i % 50),
                              QByteArray::number(i + 1)});
        }
    }
    return result;
}

// The file's bytes, written out here by hand rather than by the code under test.
inline QByteArray fileBytes(int which)
{
    QByteArray bytes;
    for (const Record& r : records(which))
        bytes += r.address + "\r\n" + r.visited + "\r\n" + r.length + "\r\n";
    return bytes;
}

inline void fill(WatchList& list, int which)
{
    std::vector<WatchList::Cells> rows;
    for (const Record& r : records(which)) {
        WatchList::Cells cells;
        cells.text[WatchList::UrlColumn] = r.address;
        cells.text[WatchList::LastVisitedColumn] = r.visited;
        cells.text[WatchList::LengthColumn] = r.length;
        rows.push_back(std::move(cells));
    }
    list.replaceSiteRows(std::move(rows));
}

// Lives in a file both processes map. The writer bumps `started`, saves, records the list it
// saved and then bumps `finished`, so `started != finished` after a kill means a save was under
// way, and that save was of list (started - 1) % 2.
struct Progress
{
    std::atomic<std::uint64_t> started;
    std::atomic<std::uint64_t> finished;
    std::atomic<int> lastSaved; // -1 before the first save
    std::atomic<int> failedSaves;
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

} // namespace savelists
