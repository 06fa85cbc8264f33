// SPDX-License-Identifier: MIT
// The check run: fetch every site in turn, mark whether its page text changed length since the
// last check, and save the list.
#pragma once

#include "downloadhtml.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class WatchList;
class WatchListFile;

inline const QString RunningStatusText = QStringLiteral(" Status:  Running...");
inline const QString DoneStatusText = QStringLiteral(" Status:  Done");
// Followed by why, in a few words: shown for as long as the list on disk lags behind the grid.
inline const QString NotSavedStatusText = QStringLiteral("Status: Not saved: ");

// What the check run needs of the window that shows it.
class CheckRunHost
{
public:
    virtual ~CheckRunHost() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // Paints the window now, before the first page is fetched.
    virtual void repaintNow() = 0;
    // The run is about to fetch the page of `row`: a window shows the rows checked so far.
    virtual void checkingRow(int row) { Q_UNUSED(row); }
    // True once the run is to end before its last row (the program is asked to end): the row
    // being fetched and those after it keep what they had, and the run saves what it found.
    virtual bool stopRequested() const { return false; }
};

class CheckRun
{
public:
    using Clock = std::function<QByteArray()>;

    // `now` gives the "last visited" text; by default the current local date and time.
    CheckRun(WatchList& list, WatchListFile& file, PageFetcher& fetcher, CheckRunHost& host,
             Clock now = {});

    // The whole run: status line and busy pointer, the pass over the rows, the save.
    void VisitALL();
    // The pass over rows 1 to totalurls - 1: clear every "Updated" cell, then check each row.
    void VisitURLlist(qint16 totalurls);

private:
    void checkRow(int row);

    WatchList& m_list;
    WatchListFile& m_file;
    PageFetcher& m_fetcher;
    CheckRunHost& m_host;
    Clock m_now;
};

// What check runs fetch pages with and stamp their visits with: made where the program starts,
// and replaced by tests.
struct CheckTools
{
    std::unique_ptr<DownloadService> downloads;
    // Fetches through `downloads`, into the temporary download file.
    std::unique_ptr<PageFetcher> fetcher;
    // Empty: the current local date and time.
    CheckRun::Clock now;
};
