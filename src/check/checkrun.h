// SPDX-License-Identifier: MIT
// The check run: fetch every site in turn, mark whether its page text changed length since the
// last check, and save the list.
#pragma once

#include "downloadhtml.h"
#include "sitefindings.h"
#include "watchlistfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class WatchList;
class WatchListFile;

// Where a run is, for the status line.
enum class RunStatus
{
    Running, // fetching pages, again after a wait too
    Done,    // over every row, and saved, or its save waits for another program's file
};

// How far a run has come, and how many of the rows checked so far got each mark that asks the
// user to look.
struct CheckProgress
{
    int sites = 0; // the site rows the run goes over
    int checked = 0;
    int changed = 0;  // "Yes"
    int notFound = 0; // "Not Found"
    int errors = 0;   // "Error"
};

// What a row's check found, for the words on its mark: why the page gave no text, or the
// stored length before the check and the page text's length now, and what the text itself did.
struct CheckNote
{
    FetchFailure failure;
    double stored = 0;
    double length = 0;
    TextFinding text;
};
Q_DECLARE_METATYPE(CheckNote)

// What the check run needs of the window that shows it.
class CheckRunHost
{
public:
    virtual ~CheckRunHost() = default;
    virtual void showRunStatus(RunStatus status) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // Paints the window at once, as the run starts: the status line and the busy pointer show
    // without waiting for the event loop, which then fetches the pages.
    virtual void repaintNow() = 0;
    // The run is about to fetch the page of `row`: a window shows where the run is.
    virtual void checkingRow(int row) { Q_UNUSED(row); }
    // The run has saved what it found, or could not (`failure` says why): the run is done, and
    // the status line says so, or says that the save failed or waits.
    virtual void runSaved(SaveOutcome outcome, const FileFailure& failure) = 0;
    // The run waits `wait.left` for the site `wait.host`, which asked to be asked again later;
    // the run then shows RunStatus::Running again when it asks.
    virtual void waitingForSite(const SiteWait& wait) { Q_UNUSED(wait); }
};

// A run goes on from the event loop, one page after another, and says how it goes with
// signals; whoever started it keeps it until it has said finished() or stopped(). Its end is
// said from the event loop too, after the run has saved and returned, so that whatever follows
// it (commands that waited, the program's end, a new run) never runs on the run's own stack.
class CheckRun final : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QByteArray()>;

    // `now` gives the "last visited" text; by default the current local date and time.
    CheckRun(WatchList& list, WatchListFile& file, PageFetcher& fetcher, CheckRunHost& host,
             Clock now = {}, QObject* parent = nullptr);
    ~CheckRun() override;

    // What each check finds of the page text beyond its length is told to `findings`, and
    // what they knew goes into the row's note. Without, a run knows lengths only.
    void keepFindingsIn(SiteFindings& findings) { m_findings = &findings; }

    // Starts the whole run: status line and busy pointer, the pass over the rows, the save.
    void VisitALL();

    // The run ends before its last row (the program is asked to end): the row being fetched
    // and those after it keep what they had, and the run saves what it found, then says
    // stopped(). Nothing waits for the page under way.
    void stop();

    // The run's save found another program writing the list: it is still to be done, once the
    // file has settled.
    bool saveWaits() const { return saveWaitsForTheFile(m_saved); }
    // How the run's save went; Saved for a run that saves nothing.
    SaveOutcome saveOutcome() const { return m_saved; }
    const CheckProgress& progress() const { return m_progress; }

Q_SIGNALS:
    // `row` holds what its page says now.
    void rowChecked(int row);
    // The run went over every row and saved the list.
    void finished();
    // The run ended early, at stop(); what it found is saved as after finished().
    void stopped();

private:
    // `saves`: the run saves the list at its end, and shows so.
    // The pass over rows 1 to totalurls - 1: clears every "Updated" cell, then checks each row.
    void VisitURLlist(qint16 totalurls);
    void checkNextRow();
    void pageFetched(int row, const QByteArray& address, double stored,
                     std::optional<QByteArray> text);
    void endPass();
    void sayEnded();

    WatchList& m_list;
    WatchListFile& m_file;
    PageFetcher& m_fetcher;
    CheckRunHost& m_host;
    Clock m_now;
    SiteFindings* m_findings = nullptr;
    bool m_running = false;
    bool m_stopping = false;
    bool m_ending = false; // saved, and about to say so
    SaveOutcome m_saved = SaveOutcome::Saved;
    int m_row = 0;
    int m_rows = 0;
    CheckProgress m_progress;
    // The page under way: it goes with the run, so no page comes back to a run that is gone.
    DownloadHandle m_fetch;
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
