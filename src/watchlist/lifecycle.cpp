// SPDX-License-Identifier: MIT
// Start-up and shut-down of the watch list.
#include "lifecycle.h"

#include "listmerge.h"
#include "watchlist.h"
#include "wholefile.h"

#include <QDir>

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

QString writeRecoveryFile(const WatchList& list, const WatchListFile& file,
                          const QStringList& directories, const QDateTime& when)
{
    const QString stem = QStringLiteral("websites-unsaved-%1")
                             .arg(when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    const QByteArray bytes = serializeWatchList(list, list.Rows(), file.unloadedTail());
    for (const QString& directory : directories) {
        if (directory.isEmpty() || !QDir().mkpath(directory))
            continue;
        // Never over another recovery file: two copies of Korvane ended by one logout keep
        // both lists.
        const QString kept = writeNewFile(directory, stem, QStringLiteral(".ini"), bytes);
        if (!kept.isEmpty())
            return kept;
    }
    return {};
}

SaveOutcome saveWatchListAtShutDown(WatchList& list, WatchListFile& file)
{
    // One read of the file decides, and the save is its first try.
    const SaveOutcome outcome = file.saveUnlessHeld(list);
    return outcome == SaveOutcome::ChangedOutside ? saveWatchList(list, file) : outcome;
}
