// SPDX-License-Identifier: MIT
// The main window: the watch list grid over the background picture with its drawn buttons, the
// status line and the menus. The commands behind them and the way to the end have classes of
// their own.
#pragma once

#include "checkrun.h"
#include "endoflife.h"
#include "listcommands.h"
#include "options.h"
#include "runsession.h"
#include "statewords.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QMainWindow>

#include <memory>

class AddSiteDialog;
class BackgroundPicture;
class ClickArea;
class EditSiteDialog;
class QLabel;
class SiteGrid;
class UrlOpener;

class MainWindow final : public QMainWindow, private CheckRunHost, private EndOfLife::Host
{
    Q_OBJECT
public:
    // Keeps websites.ini in `dataDirectory`, opens addresses through `opener` and checks pages
    // with `checkTools`. Loads the watch list before the window is first shown.
    // Its times (how long the file must settle, how often a failed save is tried again) come
    // from `options`.
    MainWindow(const QString& dataDirectory, std::unique_ptr<UrlOpener> opener,
               CheckTools checkTools, const Options& options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    WatchList& watchList() { return m_list; }
    SiteGrid* grid() const { return m_grid; }
    QLabel* statusLine() const { return m_status; }
    AddSiteDialog* addDialog() const { return m_commands->addDialog(); }
    EditSiteDialog* editDialog() const { return m_commands->editDialog(); }
    LoadOutcome loadOutcome() const { return m_loadOutcome; }
    // True from Go Look! until the run has ended and the commands that waited for it are
    // carried out.
    bool runUnderWay() const { return m_session.runUnderWay(); }

    // A request to end from outside the window (a signal): the list is saved once (unless the
    // file already holds it), without asking anything, and the program ends with status 0. A
    // check run under way stops at the page it is fetching; what it found before is kept. A
    // close from the window during a run stops it the same way.
    void endOnRequest();

    // Out of the task bar, in front of the other windows and given the keyboard: the user asked
    // for Korvane from elsewhere.
    void bringForward();

Q_SIGNALS:
    // A check run has started; it says how it goes with its own signals until it ends.
    void checkRunStarted(const CheckRun& run);
    // Shut-down is over: the list is saved (or the user chose to close without saving) and the
    // dialogs are closed. Whoever started the program ends it now.
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildFace();
    void showSaveOutcome(SaveOutcome outcome);
    void showReadAgain();
    void showFileSettled();
    void showNotAList();
    void reportUnreadableList();
    void pointOutRecoveryFile();
    // Shows `text`, unless a save failed: the status line then says so until one succeeds,
    // and `text` follows after it.
    void say(const QString& text);
    // `writing`: the text says that another program writes the list.
    void showStatus(const QString& text, bool writing = false);

    // What a check run shows.
    void showRunStatus(RunStatus status) override;
    void setBusyPointer(bool busy) override;
    void repaintNow() override;
    void checkingRow(int row) override;
    void runSaved(SaveOutcome outcome, const FileFailure& failure) override;
    void waitingForSite(const SiteWait& wait) override;

    // What the end needs of the window.
    EndOfLife::Answer askAfterFailedSave(const QString& kept) override;
    void closeDialogs() override { m_commands->closeDialogs(); }
    void closeWindow() override { close(); }
    void ended() override;
    void tellUnsaved(const QString& text) override;

    WatchList m_list;
    WatchListFile m_file;
    LoadOutcome m_loadOutcome;
    RecoveryFile m_recovery;
    RunSession m_session;
    EndOfLife m_end;
    // Before the widgets it works on go: its dialogs and run go with it.
    std::unique_ptr<ListCommands> m_commands;
    // The status line to show again once a save waited for another program.
    QString m_quietStatus = ReadyStatusText;
    // The list on disk lags behind the window: a save failed, and no later one succeeded.
    bool m_notSaved = false;
    // The status line says that another program writes the list.
    bool m_saysWriting = false;
    // A recovery file newer than the list, found at the start.
    QString m_recoveryAtStart;

    BackgroundPicture* m_picture = nullptr;
    SiteGrid* m_grid = nullptr;
    QLabel* m_status = nullptr;
};
