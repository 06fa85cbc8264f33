// SPDX-License-Identifier: MIT
// What the program does with the watch list when it starts and when it ends: the first read,
// the save of every end, and the recovery file where that save cannot go.
#pragma once

#include "watchlistfile.h"

#include <QDateTime>
#include <QStringList>

#include <functional>

class WatchList;

// Start-up: reads the file (creating it with the default record when missing), sets the
// header row, column 2's alignment and the column widths, then fills the site rows. Each step
// runs even when an earlier one failed; the outcome of reading is returned for the caller to
// know, not to report.
LoadOutcome startUpWatchList(WatchList& list, WatchListFile& file);

// Where a list that could not be saved at an end that asks nobody is kept instead: a file in
// `directory` named after the moment, written as `file` would be (records past the list's
// capacity included), never over a file that is there already. The first of the directories
// that takes it wins; returns the file's path, empty when none did.
QString writeRecoveryFile(const WatchList& list, const WatchListFile& file,
                          const QStringList& directories, const QDateTime& when);

// The list of this run of the program kept where websites.ini cannot take it: one file, made
// the first time (never over a file already there, see writeRecoveryFile) and written anew
// at every later change, so that a list that stays unsaveable for a while leaves one file, not
// one a change.
class RecoveryFile
{
public:
    // The current time by default.
    using Clock = std::function<QDateTime()>;
    explicit RecoveryFile(QStringList places, Clock now = {});

    // Keeps `list` as `file` would write it; returns where, empty when no place took it.
    QString keep(const WatchList& list, const WatchListFile& file);
    // Where the list was kept last; empty before.
    const QString& path() const { return m_path; }

private:
    QStringList m_places;
    Clock m_now;
    QString m_path;
};

// Where recovery files go, the first that takes one: the per-user data folder, else the home
// or temporary folder.
QStringList recoveryPlaces();

// The newest recovery file in `places` that is newer than the list at `listPath` (a list that
// could not be saved at an end, which the user may want back); empty when there is none.
QString recoveryFileNewerThan(const QString& listPath, const QStringList& places);

// The save of every end: the whole list, unless the file on disk already holds exactly those
// bytes, or holds what Korvane last read or wrote and the list has not changed since (then
// Saved, and nothing is written). A list that was deleted meanwhile is written again; a file
// that is not the list (being written, a folder, a foreign link) is left alone.
SaveOutcome saveWatchListAtShutDown(WatchList& list, WatchListFile& file);
