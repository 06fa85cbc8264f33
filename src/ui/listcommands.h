// SPDX-License-Identifier: MIT
// The list commands, as the menus and the drawn buttons run them, and the queue in which those
// asked for during a check run wait for its end. Another program's edit of the list is taken
// here too, since it changes the list as a command does.
#pragma once

#include "checkrun.h"
#include "listguard.h"
#include "watchlistfile.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QPersistentModelIndex>
#include <QTimer>

#include <memory>

class AddSiteDialog;
class EditSiteDialog;
class EndOfLife;
class HelpWindow;
class QWidget;
class RecoveryFile;
class UrlOpener;
class WatchList;

class ListCommands final : public QObject
{
    Q_OBJECT
public:
    // `face` shows the runs; `window` is where dialogs and messages appear. Commands show
    // nothing new once `end` is under way.
    // `recovery` keeps the list while websites.ini holds something that is not one.
    ListCommands(WatchList& list, WatchListFile& file, const EndOfLife& end, RecoveryFile& recovery,
                 std::unique_ptr<UrlOpener> opener, CheckTools checkTools, CheckRunHost& face,
                 QWidget* window);
    ~ListCommands() override;

    // Asked for during a check run, a command waits for the run's end and is then carried out,
    // in order, on the rows that were chosen when it was asked for; Go Look! is dropped. Add,
    // edit and remove save the list at once.
    void addCommand();
    void editCommand();
    void removeCommand();
    void goLookCommand();
    // When no browser opens the address, couldNotOpen() says so; the help page then shows in a
    // window of Korvane's own.
    void openSiteCommand();
    void onlineHelpCommand();

    // True from the start of a check run until the commands that waited for it are carried out.
    bool runUnderWay() const { return m_guard.isBusy(); }
    // Stops the run at the page it is fetching; runEnded() follows.
    void stopRun();
    // What waited for the run's end is carried out in order, from the event loop;
    // waitingCarriedOut() follows.
    void carryOutWaiting() { m_guard.release(); }
    // The program is ending: nothing waits any more, and nothing more is carried out.
    void shutForGood() { m_guard.shutForGood(); }
    void closeDialogs();

    // Watches websites.ini for another program's edits (not a list that could not be read,
    // which is never taken or written), and looks at it once soon: a file that another program
    // is still writing as Korvane starts is told and taken once it is finished.
    void watchTheFile();
    // How long writes of another program to the list must have settled before the list is
    // read again, or written.
    void setOutsideEditSettleTime(int ms);
    // How often a save that failed is tried again.
    void setSaveRetryTime(int ms) { m_retry.setInterval(ms); }

    AddSiteDialog* addDialog() const { return m_add.get(); }
    EditSiteDialog* editDialog() const { return m_update.get(); }

Q_SIGNALS:
    // A change was saved, or could not be.
    void saved(SaveOutcome outcome);
    // Another program's edit of the list was taken.
    void readAgain();
    // The file that another program was writing has settled (saved(FileUnsettled) said it was
    // being written).
    void fileSettled();
    // The file has settled into something that is no list (a binary file): it is neither
    // taken nor written over, and changes go to the recovery file.
    void fileIsNotAList();
    // A check run has started and says from now on how it goes; it lives until the next starts.
    void runStarted(const CheckRun& run);
    // The check run has ended and saved what it found; the commands that waited still wait.
    void runEnded();
    // The commands that waited for the run's end are carried out.
    void waitingCarriedOut();
    // No web browser opened `address`.
    void couldNotOpen(const QByteArray& address);

private:
    QPersistentModelIndex siteRowAt(int row) const;
    // The address cell of the row chosen becomes the current cell; returns its table row.
    int makeCurrent(const QPersistentModelIndex& chosen);
    void saveChange();
    // A save that failed is tried again now and then, until one succeeds.
    void noteSaveOutcome(SaveOutcome outcome);
    void retrySave();
    void takeOutsideEditNow();
    // Another program is writing the list: it is looked at again once it may have finished.
    void waitForTheFile();
    void startRun();
    void afterRun();
    void openerFailed(const QByteArray& address);
    void showHelpWindow(const QByteArray& page);

    WatchList& m_list;
    WatchListFile& m_file;
    const EndOfLife& m_end;
    RecoveryFile& m_recovery;
    std::unique_ptr<UrlOpener> m_opener;
    CheckTools m_checkTools;
    CheckRunHost& m_face;
    QWidget* m_window;
    ListGuard m_guard;
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
    // The list on disk lags behind the window after a save that failed: tried again after
    // every outside change and on this timer, until a save succeeds.
    bool m_unsaved = false;
    QTimer m_retry;
    bool m_toldNotAList = false;
    std::unique_ptr<AddSiteDialog> m_add;
    std::unique_ptr<EditSiteDialog> m_update;
    // The help page as the browser was last given it, and the window that shows it without one.
    QByteArray m_helpPage;
    std::unique_ptr<HelpWindow> m_help;
};
