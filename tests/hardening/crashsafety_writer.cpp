// SPDX-License-Identifier: MIT
// Saves two watch lists in turn, as fast as it can, until it is killed: the process the
// crash-safety test kills in the middle of its work.
#include "savelists.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const int fd = ::open(argv[2], O_RDWR);
    if (fd < 0)
        return 3;
    void* shared =
        ::mmap(nullptr, sizeof(savelists::Progress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (shared == MAP_FAILED)
        return 4;
    auto* progress = static_cast<savelists::Progress*>(shared);

    WatchList lists[2];
    savelists::fill(lists[0], 0);
    savelists::fill(lists[1], 1);
    WatchListFile file(QFile::decodeName(argv[1]));

    for (int which = 0;; which = 1 - which) {
        progress->started.fetch_add(1);
        WatchList& list = lists[which];
        if (file.SaveResultsToFile(list, qint16(list.Rows())) != SaveOutcome::Saved)
            progress->failedSaves.fetch_add(1);
        progress->lastSaved.store(which);
        progress->finished.fetch_add(1);
    }
}
