// SPDX-License-Identifier: MIT
// The list commands, as the menus and the drawn buttons run them: each one goes through the run
// session, which carries it out at once or once the check run under way has ended.
#pragma once

#include <QObject>
#include <QPersistentModelIndex>

#include <memory>

class AddSiteDialog;
class EditSiteDialog;
class HelpWindow;
class QWidget;
class RunSession;
class UrlOpener;
class WatchList;

class ListCommands final : public QObject
{
    Q_OBJECT
public:
    // `window` is where dialogs and messages appear. Commands show nothing new once an end is
    // under way.
    ListCommands(WatchList& list, RunSession& session, std::unique_ptr<UrlOpener> opener,
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

    void closeDialogs();

    AddSiteDialog* addDialog() const { return m_add.get(); }
    EditSiteDialog* editDialog() const { return m_update.get(); }

Q_SIGNALS:
    // No web browser opened `address`.
    void couldNotOpen(const QByteArray& address);

private:
    QPersistentModelIndex siteRowAt(int row) const;
    // The address cell of the row chosen becomes the current cell; returns its table row.
    int makeCurrent(const QPersistentModelIndex& chosen);
    void openerFailed(const QByteArray& address);
    void showHelpWindow(const QByteArray& page);

    WatchList& m_list;
    RunSession& m_session;
    std::unique_ptr<UrlOpener> m_opener;
    QWidget* m_window;
    std::unique_ptr<AddSiteDialog> m_add;
    std::unique_ptr<EditSiteDialog> m_update;
    // The help page as the browser was last given it, and the window that shows it without one.
    QByteArray m_helpPage;
    std::unique_ptr<HelpWindow> m_help;
};
