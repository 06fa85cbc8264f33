// SPDX-License-Identifier: MIT
// The list commands.
#include "listcommands.h"

#include "helppage.h"
#include "helpwindow.h"
#include "runsession.h"
#include "sitedialogs.h"
#include "urlopener.h"
#include "watchlist.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>

ListCommands::ListCommands(WatchList& list, RunSession& session, std::unique_ptr<UrlOpener> opener,
                           QWidget* window)
    : m_list(list), m_session(session), m_opener(std::move(opener)), m_window(window)
{
    connect(m_opener.get(), &UrlOpener::couldNotOpen, this, &ListCommands::openerFailed);
}

ListCommands::~ListCommands() = default;

QPersistentModelIndex ListCommands::siteRowAt(int row) const
{
    return QPersistentModelIndex(m_list.index(WatchList::modelRowFromTableRow(row), 0));
}

int ListCommands::makeCurrent(const QPersistentModelIndex& chosen)
{
    const int row = WatchList::tableRowFromModelRow(chosen.row());
    m_list.setCurrentCell(row, WatchList::UrlColumn);
    return row;
}

void ListCommands::addCommand()
{
    m_session.whenIdle([this] {
        // Asked for before an end that came during a check run: there is nobody to show it to.
        if (m_session.ending())
            return;
        if (!m_add) {
            m_add = std::make_unique<AddSiteDialog>(m_list, m_session, m_window);
            connect(m_add.get(), &SiteDialog::listChanged, &m_session, &RunSession::saveChange);
        }
        m_add->addressField()->clear();
        m_add->showModeless();
    });
}

void ListCommands::editCommand()
{
    // The rows the user chose when asking, wherever earlier commands that waited for a check
    // run have moved them by the time this one is carried out.
    const QPersistentModelIndex chosen = siteRowAt(m_list.Row());
    m_session.whenIdle([this, chosen] {
        if (m_session.ending() || !chosen.isValid())
            return;
        const int row = makeCurrent(chosen);
        if (!m_update) {
            m_update = std::make_unique<EditSiteDialog>(m_list, m_session, m_window);
            connect(m_update.get(), &SiteDialog::listChanged, &m_session, &RunSession::saveChange);
        }
        m_update->editRow(row);
        m_update->showModeless();
    });
}

void ListCommands::removeCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.RowSel());
    m_session.whenIdle([this, chosen] {
        if (!chosen.isValid())
            return;
        if (m_list.Rows() < 3) {
            if (m_session.ending())
                return;
            QMessageBox box(QMessageBox::Information, QStringLiteral("Korvane Information"),
                            QStringLiteral("You must have at least on website. You can edit this "
                                           "site to change it"),
                            QMessageBox::Ok, m_window);
            box.exec();
            return;
        }
        m_list.RemoveItem(WatchList::tableRowFromModelRow(chosen.row()));
        m_session.saveChange();
    });
}

void ListCommands::openSiteCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.Row());
    m_session.whenIdle([this, chosen] {
        if (!chosen.isValid())
            return;
        makeCurrent(chosen);
        m_opener->open(WatchList::siteAddress(m_list.Text()));
    });
}

void ListCommands::onlineHelpCommand()
{
    m_session.whenIdle([this] {
        if (m_session.ending())
            return;
        m_helpPage = helpPageAddress(QCoreApplication::applicationDirPath());
        if (m_helpPage.isEmpty())
            showHelpWindow({});
        else
            m_opener->open(m_helpPage);
    });
}

void ListCommands::openerFailed(const QByteArray& address)
{
    if (m_session.ending())
        return;
    Q_EMIT couldNotOpen(address);
    if (address == m_helpPage)
        showHelpWindow(address);
}

void ListCommands::showHelpWindow(const QByteArray& page)
{
    if (!m_help)
        m_help = std::make_unique<HelpWindow>(m_window);
    m_help->showPage(QUrl::fromEncoded(page));
}

void ListCommands::closeDialogs()
{
    if (m_add)
        m_add->closeForEnd();
    if (m_update)
        m_update->closeForEnd();
    if (m_help)
        m_help->close();
}

void ListCommands::goLookCommand()
{
    m_session.goLook();
}
