// SPDX-License-Identifier: MIT
// What the program does with the watch list when it starts and when it ends.
#pragma once

#include "watchlistfile.h"

class WatchList;

// Start-up: reads the file (creating it with the default record when missing), sets the
// header row, column 2's alignment and the column widths, then fills the site rows. Each step
// runs even when an earlier one failed; the outcome of reading is returned for the caller to
// know, not to report.
LoadOutcome startUpWatchList(WatchList& list, WatchListFile& file);

// Saves the whole list, counted as the 16-bit row count.
SaveOutcome saveWatchList(WatchList& list, WatchListFile& file);

// The save of every end: the whole list, unless the file on disk already holds exactly those
// bytes (then Saved, and nothing is written). A list that was deleted or replaced meanwhile is
// written again.
SaveOutcome saveWatchListAtShutDown(WatchList& list, WatchListFile& file);
