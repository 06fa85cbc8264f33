// SPDX-License-Identifier: MIT
// A three-way merge of rows by their addresses.
#include "listmerge.h"

#include <QHash>

#include <utility>

namespace {

using Rows = std::vector<WatchList::Cells>;

// For each row of `from`, the index of the row of `to` with the same address and the same
// number of earlier rows with it; -1 where `to` has no such row.
std::vector<int> matchByAddress(const std::vector<QByteArray>& from,
                                const std::vector<QByteArray>& to)
{
    QHash<QByteArray, std::vector<int>> places;
    for (int i = 0; i < int(to.size()); ++i)
        places[to[size_t(i)]].push_back(i);
    QHash<QByteArray, size_t> seen;
    std::vector<int> match(from.size(), -1);
    for (size_t i = 0; i < from.size(); ++i) {
        const std::vector<int>& candidates = places.value(from[i]);
        const size_t k = seen[from[i]]++;
        if (k < candidates.size())
            match[i] = candidates[k];
    }
    return match;
}

std::vector<QByteArray> addresses(const Rows& rows)
{
    std::vector<QByteArray> list;
    list.reserve(rows.size());
    for (const WatchList::Cells& row : rows)
        list.push_back(row.text[WatchList::UrlColumn]);
    return list;
}

} // namespace

MergedList mergeOutsideEdit(const WatchListRecords& base, const WatchList& ours,
                            const WatchListRecords& theirs)
{
    Rows ourRows;
    for (int row = 1; row < ours.Rows(); ++row) {
        WatchList::Cells& cells = ourRows.emplace_back();
        for (int col = 0; col < WatchList::ColumnCount; ++col)
            cells.text[size_t(col)] = ours.cell(row, col);
    }
    const std::vector<int> oursInBase = matchByAddress(addresses(ourRows), addresses(base.rows));
    const std::vector<int> theirsInBase =
        matchByAddress(addresses(theirs.rows), addresses(base.rows));
    std::vector<int> baseInOurs(base.rows.size(), -1);
    for (size_t i = 0; i < oursInBase.size(); ++i)
        if (oursInBase[i] >= 0)
            baseInOurs[size_t(oursInBase[i])] = int(i);

    MergedList merged;
    // Where each of our rows went in the result.
    std::vector<int> placeOfOurs(ourRows.size(), -1);
    for (size_t t = 0; t < theirs.rows.size(); ++t) {
        WatchList::Cells row = theirs.rows[t];
        int carried = -1;
        if (const int b = theirsInBase[t]; b >= 0) {
            carried = baseInOurs[size_t(b)];
            if (carried < 0)
                continue; // removed from the list
            const WatchList::Cells& mine = ourRows[size_t(carried)];
            for (const int col : {WatchList::LastVisitedColumn, WatchList::LengthColumn})
                if (mine.text[size_t(col)] != base.rows[size_t(b)].text[size_t(col)])
                    row.text[size_t(col)] = mine.text[size_t(col)];
            row.text[WatchList::UpdatedColumn] = mine.text[WatchList::UpdatedColumn];
            placeOfOurs[size_t(carried)] = int(merged.rows.size());
        }
        merged.rows.push_back(std::move(row));
        merged.from.push_back(carried + 1);
    }
    // Rows the list has and the file never had: after the row they follow in the list.
    for (size_t i = 0; i < ourRows.size(); ++i) {
        if (oursInBase[i] >= 0)
            continue;
        int place = 0;
        if (i > 0)
            place = placeOfOurs[i - 1] >= 0 ? placeOfOurs[i - 1] + 1 : int(merged.rows.size());
        merged.rows.insert(merged.rows.begin() + place, ourRows[i]);
        merged.from.insert(merged.from.begin() + place, int(i) + 1);
        for (int& p : placeOfOurs)
            if (p >= place)
                ++p;
        placeOfOurs[i] = place;
    }
    return merged;
}
