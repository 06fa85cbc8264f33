// SPDX-License-Identifier: MIT
// The list saved to its file while the program runs, with another program's edit of the file
// taken in rather than written over.
#pragma once

#include "watchlistfile.h"

class WatchList;

// Saves the whole list, counted as the 16-bit row count. When another program changed the file
// since Korvane last read or wrote it, its list is taken first, with what the list changed
// since then applied to it (see mergeOutsideEdit), and that is saved: neither is lost.
SaveOutcome saveWatchList(WatchList& list, WatchListFile& file);

// Takes the file's list when another program changed it, keeping what the list changed since
// Korvane last read or wrote the file; writes nothing. True when the list was read again.
bool takeOutsideEdit(WatchList& list, WatchListFile& file);
