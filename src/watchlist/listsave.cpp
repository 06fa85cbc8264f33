// SPDX-License-Identifier: MIT
// Saving the list over a file that another program may have edited meanwhile.
#include "listsave.h"

#include "listmerge.h"
#include "watchlist.h"

bool takeOutsideEdit(WatchList& list, WatchListFile& file)
{
    WatchListRecords base, theirs;
    if (!file.readOutsideEdit(base, theirs))
        return false;
    MergedList merged = mergeOutsideEdit(base, list, theirs);
    // The user's adds and the other program's together may pass what the list can hold: the
    // rows past it are kept in the file as records past the capacity are, and stay saveable.
    if (merged.rows.size() > size_t(WatchList::MaxSites)) {
        const auto past = merged.rows.begin() + WatchList::MaxSites;
        file.keepPastCapacity(std::vector<WatchList::Cells>(past, merged.rows.end()));
        merged.rows.erase(past, merged.rows.end());
        merged.from.resize(merged.rows.size());
    }
    list.takeRows(std::move(merged.rows), merged.from);
    return true;
}

SaveOutcome saveWatchList(WatchList& list, WatchListFile& file)
{
    // Another program may write again between the merge and the save: a few tries, then the
    // list waits for the next save.
    SaveOutcome outcome = SaveOutcome::ChangedOutside;
    for (int attempt = 0; attempt < 3 && outcome == SaveOutcome::ChangedOutside; ++attempt) {
        outcome = file.SaveResultsToFile(list, qint16(list.Rows()));
        if (outcome == SaveOutcome::ChangedOutside && !takeOutsideEdit(list, file))
            break;
    }
    return outcome;
}
