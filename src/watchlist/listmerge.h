// SPDX-License-Identifier: MIT
// Bringing an edit that another program made to websites.ini together with the list on screen:
// a user who adds fifty addresses in an editor while Korvane is open keeps them, and Korvane's
// own changes since the file was last read or written are kept too.
#pragma once

#include "watchlist.h"
#include "watchlistfile.h"

#include <vector>

struct MergedList
{
    std::vector<WatchList::Cells> rows;
    // For each row, the table row of the list it carries on, or 0 for a row that only the
    // file has (see WatchList::takeRows).
    std::vector<int> from;
};

// `base`: the records as Korvane last read or wrote them; `ours`: the list now; `theirs`: the
// records in the file now. Rows are told apart by their address (the second row with an
// address matches the second row with it, and so on). The result is the file's list, in the
// file's order, with what the list did since `base`:
// - a row the list removed is left out, and a row the list added (or whose address it edited)
//   follows the row it follows in the list;
// - a last visited time or stored length the list changed (a check) replaces the file's; the
//   file's stands where the list left it as it was;
// - every row the list still has keeps its mark, bold type and note.
MergedList mergeOutsideEdit(const WatchListRecords& base, const WatchList& ours,
                            const WatchListRecords& theirs);
