// SPDX-License-Identifier: MIT
// Start-up and shut-down of the watch list.
#include "lifecycle.h"

#include "watchlist.h"

namespace {

// Column widths in twips, the unit the grid's layout is designed in.
constexpr int WebsiteColumnTwips = 2800;
constexpr int UpdatedColumnTwips = 1200;

} // namespace

LoadOutcome startUpWatchList(WatchList& list, WatchListFile& file)
{
    WatchListRecords records;
    const LoadOutcome outcome = file.readRecords(records);

    list.setCell(0, WatchList::UrlColumn, "Website");
    list.setCell(0, WatchList::LastVisitedColumn, "Last visited");
    list.setCell(0, WatchList::UpdatedColumn, "Updated");

    list.setColAlignment(WatchList::UpdatedColumn, WatchList::AlignLeftCenter);

    list.setColWidth(WatchList::UrlColumn, WebsiteColumnTwips);
    // Hidden, not narrow: the last visited time is kept, checked and saved, but not shown.
    list.setColWidth(WatchList::LastVisitedColumn, 0);
    list.setColWidth(WatchList::UpdatedColumn, UpdatedColumnTwips);

    file.fillRows(list, std::move(records));
    return outcome;
}

SaveOutcome saveWatchList(WatchList& list, WatchListFile& file)
{
    const auto totalurls = qint16(list.Rows());
    return file.SaveResultsToFile(list, totalurls);
}

SaveOutcome saveWatchListAtShutDown(WatchList& list, WatchListFile& file)
{
    if (file.fileHolds(list))
        return SaveOutcome::Saved;
    return saveWatchList(list, file);
}
