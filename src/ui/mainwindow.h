// SPDX-License-Identifier: MIT
// The main window: the watch list grid over the background picture with its drawn buttons, the
// status line, the menus, and the commands behind them.
#pragma once

#include "checkrun.h"
#include "listguard.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QTimer>

#include <memory>

class AddSiteDialog;
class BackgroundPicture;
class ClickArea;
class EditSiteDialog;
class QLabel;
class SiteGrid;
class UrlOpener;

inline const QString ReadyStatusText = QStringLiteral(" Status : Ready...");
inline const QString ReadAgainStatusText =
    QStringLiteral(" Status:  List read again from websites.ini");

class MainWindow final : public QMainWindow, private CheckRunHost
{
    Q_OBJECT
public:
    // Keeps websites.ini in `dataDirectory`, opens addresses through `opener` and checks pages
    // with `checkTools`. Loads the watch list before the window is first shown.
    MainWindow(const QString& dataDirectory, std::unique_ptr<UrlOpener> opener,
               CheckTools checkTools, QWidget* parent = nullptr);
    ~MainWindow() override;

    WatchList& watchList() { return m_list; }
    SiteGrid* grid() const { return m_grid; }
    QLabel* statusLine() const { return m_status; }
    AddSiteDialog* addDialog() const { return m_add.get(); }
    EditSiteDialog* editDialog() const { return m_update.get(); }
    LoadOutcome loadOutcome() const { return m_loadOutcome; }
    // True while a check run goes over the list.
    bool isChecking() const { return m_run && m_run->isRunning(); }

    // The list commands, as the menus and the drawn buttons run them. Asked for during a check
    // run, a command waits for the run's end and is then carried out, in order, on the rows
    // that were chosen when it was asked for; Go Look! is dropped. Add, edit and remove save
    // the list at once.
    void addCommand();
    void editCommand();
    void removeCommand();
    void goLookCommand();
    void openSiteCommand();
    void onlineHelpCommand();
    void exitCommand();

    // A request to end from outside the window (a signal): the list is saved once (unless the
    // file already holds it), without asking anything, and the program ends with status 0. A
    // check run under way stops at the page it is fetching; what it found before is kept. A
    // close from the window during a run stops it the same way.
    void endOnRequest();

    // How long writes of another program to the list must have settled before the list is read
    // again; tests, which write at once, make it short.
    void setOutsideEditSettleTime(int ms) { m_outsideEdit.setInterval(ms); }

Q_SIGNALS:
    // Shut-down is over: the list is saved (or the user chose to close without saving) and the
    // dialogs are closed. Whoever started the program ends it now.
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Who asked for the end.
    enum class EndCause
    {
        Window, // the close button, the window manager, or anything else that closes the window
        Exit,   // Options -> Exit Korvane
        Signal, // a logout, kill or Ctrl+C
    };
    // How far the window is on its way to the end.
    enum class Life
    {
        Open,
        Stopping,             // an end came during a run, which stops at its current page
        Closing,              // the user's shut-down is under way (its question may be open)
        ClosingWithoutSaving, // the user chose to close although the list could not be saved
        Ended,                // the list is saved and finished() emitted
    };

    void buildMenus();
    void buildFace();
    void checkAllSites();
    void checkRunEnded();
    void saveChange();
    QPersistentModelIndex siteRowAt(int row) const;
    // The one way to the end, from wherever it is asked for. True when the window may close now.
    bool requestEnd(EndCause cause);
    // The user's shut-down: saves, and asks what to do when the list holds changes that cannot
    // be saved. False when the user chose to keep the window open.
    bool saveBeforeClosing();
    void endWithoutAsking();
    // The save of an end that asks nobody (a signal, a logout): a list that cannot be written
    // where it belongs goes to a recovery file, and standard error says where.
    void saveWithoutAsking();
    void showSaveOutcome(SaveOutcome outcome);
    void watchTheFile();
    void takeOutsideEditNow();
    void endNow();
    void closeDialogs();
    void reportUnreadableList();

    void setStatusText(const QString& text) override;
    void setBusyPointer(bool busy) override;
    void repaintNow() override;
    void checkingRow(int row) override;

    WatchList m_list;
    WatchListFile m_file;
    std::unique_ptr<UrlOpener> m_opener;
    CheckTools m_checkTools;
    // The last run, kept until the next: it may still be emitting its end. Goes before the
    // tools it fetches with.
    std::unique_ptr<CheckRun> m_run;
    LoadOutcome m_loadOutcome;

    ListGuard m_guard;
    Life m_life = Life::Open;
    EndCause m_stopCause = EndCause::Window;
    // The status line to show again once a save succeeds after one that failed.
    QString m_quietStatus = ReadyStatusText;
    // Another program may edit the list while Korvane is open; its edit is taken, never
    // overwritten. Several writes in a row (an editor saving) are taken as one.
    QFileSystemWatcher m_watcher;
    QTimer m_outsideEdit;

    BackgroundPicture* m_picture = nullptr;
    SiteGrid* m_grid = nullptr;
    QLabel* m_status = nullptr;
    std::unique_ptr<AddSiteDialog> m_add;
    std::unique_ptr<EditSiteDialog> m_update;
};
