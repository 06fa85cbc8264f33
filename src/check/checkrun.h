// The check run: fetch every site in turn, mark whether its page text changed length since the
// last check, and save the list.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class PageFetcher;
class WatchList;
class WatchListFile;

inline const QString RunningStatusText = QStringLiteral(" Status:  Running...");
inline const QString DoneStatusText = QStringLiteral(" Status:  Done");

// What the check run needs of the window that shows it.
class CheckRunHost
{
public:
    virtual ~CheckRunHost() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // Paints the window now: the run holds the thread until it ends.
    virtual void repaintNow() = 0;
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
