// SPDX-License-Identifier: MIT
// The life of the check runs over one list: the run under way, the changes that wait for its
// end, and the saves and other programs' edits of websites.ini around them. One state says
// where it is, and one signal says when it is idle again.
#pragma once

#include "checkrun.h"
#include "options.h"
#include "watchlistfile.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class RecoveryFile;
class WatchList;

class RunSession final : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Idle,        // no run: a change is carried out at once
        Running,     // a run walks the list: changes wait, a second Go Look! is dropped
        Stopping,    // the program is ending: the run stops at the page it is fetching
        CarryingOut, // the run has ended and saved: what waited is carried out, one a turn
        Closed,      // the program has ended: nothing more is carried out
    };

    // `face` shows the runs; `recovery` keeps the list while websites.ini holds no list.
    RunSession(WatchList& list, WatchListFile& file, RecoveryFile& recovery, CheckTools tools,
               CheckRunHost& face, const Options& options);
    ~RunSession() override;

    State state() const { return m_state; }
    // From Go Look! until what waited for the run is carried out.
    bool runUnderWay() const
    {
        return m_state == State::Running || m_state == State::Stopping ||
               m_state == State::CarryingOut;
    }
    // A run walks the list: a change waits, and a second Go Look! is dropped.
    bool walksTheList() const { return m_state == State::Running || m_state == State::Stopping; }
    // An end is under way: changes that waited still change the list, but nothing shows the
    // user anything new, and other programs' edits wait for the end's own save.
    bool ending() const { return m_ending; }

    // Carries `change` out now, or once the run under way has ended and every change that
    // waited before it is carried out.
    void whenIdle(std::function<void()> change);
    // Starts a run, after what waits for the run before it; dropped while a run walks the list.
    void goLook();
    // The program is ending: a run stops at the page it is fetching, then what waited is
    // carried out and idle() follows. endCancelled(): the user chose to keep Korvane open.
    void endBegins();
    void endCancelled() { m_ending = false; }
    // The program has ended: what waits, and whatever comes later, is dropped.
    void close();

    // The list changed: saved at once, and saved() says how. A save that fails is tried again
    // now and then, and after other programs' edits, until one succeeds.
    void saveChange();
    // Watches websites.ini for another program's edits, which are taken once they have
    // settled; looks at it once soon, so that a file being written at the start is told.
    void watchTheFile();

    // What the runs found of the list's sites beyond their marks: kept from one run and one
    // start to the next, saved at the end of every run and at close().
    SiteFindings& findings() { return m_findings; }

Q_SIGNALS:
    void stateChanged(RunSession::State state);
    // Idle again after a run: what waited for it is carried out.
    void idle();
    // A run has started and says from now on how it goes; it lives until the next starts.
    void runStarted(const CheckRun& run);
    // A save of a change or of a run's end succeeded, failed, or waits.
    void saved(SaveOutcome outcome);
    // Another program's edit of the list was taken.
    void readAgain();
    // The file that another program was writing has settled (saved(FileUnsettled) said it
    // was being written).
    void fileSettled();
    // The file has settled into something that is no list: neither taken nor written over.
    void fileIsNotAList();

private:
    void setState(State state);
    void startRun();
    void afterRun();
    void carryOutNextSoon();
    void carryOutNext();
    void noteSaveOutcome(SaveOutcome outcome);
    void retrySave();
    // Another program is writing the list: it is looked at again once it may have finished.
    void waitForTheFile();
    void takeOutsideEditNow();

    WatchList& m_list;
    WatchListFile& m_file;
    RecoveryFile& m_recovery;
    CheckTools m_tools;
    CheckRunHost& m_face;
    SiteFindings m_findings;
    State m_state = State::Idle;
    bool m_ending = false;
    std::deque<std::function<void()>> m_waiting;
    bool m_posted = false;
    // The last run, kept until the next, which starts only after the last has said its end and
    // returned. Goes before the tools it fetches with.
    std::unique_ptr<CheckRun> m_run;
    // Another program may edit the list while Korvane is open; its edit is taken, never
    // overwritten. Several writes in a row (an editor saving) are taken as one.
    QFileSystemWatcher m_watcher;
    QTimer m_outsideEdit;
    QTimer m_settle;
    // A save (of a change or of a run) found the file being written, and follows once it has
    // settled.
    bool m_saveWaits = false;
    bool m_fileUnsettled = false;
    bool m_toldNotAList = false;
    // The list on disk lags behind the window after a save that failed.
    bool m_unsaved = false;
    QTimer m_retry;
};
