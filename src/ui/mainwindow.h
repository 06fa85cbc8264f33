// SPDX-License-Identifier: MIT
// The main window: the watch list grid over the background picture with its drawn buttons, the
// status line, the menus, and the commands behind them.
#pragma once

#include "checkrun.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>
#include <vector>

class AddSiteDialog;
class BackgroundPicture;
class ClickArea;
class EditSiteDialog;
class QLabel;
class SiteGrid;
class UrlOpener;

inline const QString ReadyStatusText = QStringLiteral(" Status : Ready...");
// Where the help pages live, without the scheme that is put in front of every address.
inline constexpr char HelpPageAddress[] = "www.korvane.com/help.asp";

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
    bool isChecking() const { return m_checking; }

    // The list commands, as the menus and the drawn buttons run them. Asked for during a check
    // run, a command waits for the run's end.
    void addCommand();
    void editCommand();
    void removeCommand();
    void goLookCommand();
    void openSiteCommand();
    void onlineHelpCommand();
    void exitCommand();

    // A request to end from outside the window (a signal): the list is saved once, without
    // asking anything, and the program ends with status 0. During a check run it waits for the
    // run's end.
    void endOnRequest();

Q_SIGNALS:
    // Shut-down is over: the list is saved (or the user chose to close without saving) and the
    // dialogs are closed. Whoever started the program ends it now.
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildFace();
    // False when the user chose to keep the window open.
    bool shutDown();
    bool saveBeforeClosing();
    void closeDialogs();
    void reportUnreadableList();
    bool deferDuringCheck(void (MainWindow::*command)());
    void afterCheck();
    void finish();
    void keepAnswering();

    void setStatusText(const QString& text) override;
    void setBusyPointer(bool busy) override;
    void repaintNow() override;
    void checkingRow(int row) override;

    WatchList m_list;
    WatchListFile m_file;
    std::unique_ptr<UrlOpener> m_opener;
    CheckTools m_checkTools;
    LoadOutcome m_loadOutcome;

    bool m_checking = false;
    bool m_closeAfterCheck = false;
    bool m_endAfterCheck = false;
    bool m_ending = false;
    bool m_closingWithoutSaving = false;
    bool m_finished = false;
    std::vector<void (MainWindow::*)()> m_afterCheck;
    QElapsedTimer m_lastAnswered;

    BackgroundPicture* m_picture = nullptr;
    SiteGrid* m_grid = nullptr;
    QLabel* m_status = nullptr;
    std::unique_ptr<AddSiteDialog> m_add;
    std::unique_ptr<EditSiteDialog> m_update;
};
