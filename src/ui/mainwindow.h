// The main window: the watch list grid over the background picture with its drawn buttons, the
// status line, the menus, and the commands behind them.
#pragma once

#include "checkrun.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QMainWindow>

#include <memory>

class AddSiteDialog;
class BackgroundPicture;
class ClickArea;
class CurlDownloadService;
class EditSiteDialog;
class PageFetcher;
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
    // Keeps websites.ini and the temporary download file in `dataDirectory`, and opens
    // addresses through `opener`. Loads the watch list before the window is first shown.
    MainWindow(const QString& dataDirectory, std::unique_ptr<UrlOpener> opener,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    WatchList& watchList() { return m_list; }
    SiteGrid* grid() const { return m_grid; }
    QLabel* statusLine() const { return m_status; }
    AddSiteDialog* addDialog() const { return m_add.get(); }
    EditSiteDialog* editDialog() const { return m_update.get(); }
    LoadOutcome loadOutcome() const { return m_loadOutcome; }

    // The list commands, as the menus and the drawn buttons run them.
    void addCommand();
    void editCommand();
    void removeCommand();
    void goLookCommand();
    void openSiteCommand();
    void onlineHelpCommand();
    void exitCommand();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildFace();
    void shutDown();

    void setStatusText(const QString& text) override;
    void setBusyPointer(bool busy) override;
    void repaintNow() override;

    WatchList m_list;
    WatchListFile m_file;
    QString m_dataDirectory;
    std::unique_ptr<UrlOpener> m_opener;
    std::unique_ptr<CurlDownloadService> m_downloads;
    std::unique_ptr<PageFetcher> m_fetcher;
    LoadOutcome m_loadOutcome;

    BackgroundPicture* m_picture = nullptr;
    SiteGrid* m_grid = nullptr;
    QLabel* m_status = nullptr;
    std::unique_ptr<AddSiteDialog> m_add;
    std::unique_ptr<EditSiteDialog> m_update;
};
