// SPDX-License-Identifier: MIT
// The list commands and the wait for a check run's end.
#include "listcommands.h"

#include "endoflife.h"
#include "helppage.h"
#include "helpwindow.h"
#include "listsave.h"
#include "sitedialogs.h"
#include "urlopener.h"
#include "watchlist.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>
#include <utility>

namespace {

// Several writes of one save by another program (an editor, a script appending) come as
// several signals: the list is read once they have settled.
constexpr int OutsideEditSettleMs = 100;
// A full disk gets room, a remounted share comes back: a save that failed is tried again this
// often, which costs a look at the file and nothing when it still cannot be written.
constexpr int SaveRetryMs = 5000;

// The outcomes after which a later save may succeed by itself.
bool worthTryingAgain(SaveOutcome outcome)
{
    switch (outcome) {
    case SaveOutcome::ReadOnlyFile:
    case SaveOutcome::OpenFailed:
    case SaveOutcome::WriteFailed:
    case SaveOutcome::CommitFailed:
    case SaveOutcome::ChangedOutside:
    case SaveOutcome::NotAFile:
    case SaveOutcome::NotAList:
        return true;
    case SaveOutcome::Saved:
    case SaveOutcome::KeptUnreadableFile:
    case SaveOutcome::BadRowCount:
    case SaveOutcome::FileUnsettled:
    case SaveOutcome::FileSettling:
        break;
    }
    return false;
}

} // namespace

ListCommands::ListCommands(WatchList& list, WatchListFile& file, const EndOfLife& end,
                           RecoveryFile& recovery, std::unique_ptr<UrlOpener> opener,
                           CheckTools checkTools, CheckRunHost& face, QWidget* window)
    : m_list(list), m_file(file), m_end(end), m_recovery(recovery), m_opener(std::move(opener)),
      m_checkTools(std::move(checkTools)), m_face(face), m_window(window)
{
    m_retry.setInterval(SaveRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ListCommands::retrySave);
    m_outsideEdit.setSingleShot(true);
    m_outsideEdit.setInterval(OutsideEditSettleMs);
    connect(&m_outsideEdit, &QTimer::timeout, this, &ListCommands::takeOutsideEditNow);
    const auto changed = [this] {
        m_file.glance();
        m_outsideEdit.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(&m_guard, &ListGuard::caughtUp, this, &ListCommands::waitingCarriedOut);
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &ListCommands::takeOutsideEditNow);
    connect(m_opener.get(), &UrlOpener::couldNotOpen, this, &ListCommands::openerFailed);
}

void ListCommands::setOutsideEditSettleTime(int ms)
{
    m_outsideEdit.setInterval(std::min(ms, OutsideEditSettleMs));
    m_file.setSettleTime(ms);
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
    m_guard.whenFree([this] {
        // Asked for before an end that came during a check run: there is nobody to show it to.
        if (!m_end.isOpen())
            return;
        if (!m_add) {
            m_add = std::make_unique<AddSiteDialog>(m_list, m_guard, m_window);
            connect(m_add.get(), &SiteDialog::listChanged, this, &ListCommands::saveChange);
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
    m_guard.whenFree([this, chosen] {
        if (!m_end.isOpen() || !chosen.isValid())
            return;
        const int row = makeCurrent(chosen);
        if (!m_update) {
            m_update = std::make_unique<EditSiteDialog>(m_list, m_guard, m_window);
            connect(m_update.get(), &SiteDialog::listChanged, this, &ListCommands::saveChange);
        }
        m_update->editRow(row);
        m_update->showModeless();
    });
}

void ListCommands::removeCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.RowSel());
    m_guard.whenFree([this, chosen] {
        if (!chosen.isValid())
            return;
        if (m_list.Rows() < 3) {
            if (!m_end.isOpen())
                return;
            QMessageBox box(QMessageBox::Information, QStringLiteral("Korvane Information"),
                            QStringLiteral("You must have at least on website. You can edit this "
                                           "site to change it"),
                            QMessageBox::Ok, m_window);
            box.exec();
            return;
        }
        m_list.RemoveItem(WatchList::tableRowFromModelRow(chosen.row()));
        saveChange();
    });
}

void ListCommands::goLookCommand()
{
    // One run per request: a second Go Look! during a run would check every page again and
    // overwrite what the first run found before the user has seen it.
    if (m_guard.isHeld())
        return;
    // Asked for while the commands that waited for the last run are carried out, it comes after
    // them, as the user asked.
    m_guard.whenFree([this] { startRun(); });
}

void ListCommands::startRun()
{
    if (m_guard.isHeld() || !m_checkTools.fetcher || !m_end.isOpen())
        return;
    m_guard.hold();
    m_run =
        std::make_unique<CheckRun>(m_list, m_file, *m_checkTools.fetcher, m_face, m_checkTools.now);
    connect(m_run.get(), &CheckRun::finished, this, &ListCommands::afterRun);
    connect(m_run.get(), &CheckRun::stopped, this, &ListCommands::afterRun);
    m_run->VisitALL();
    Q_EMIT runStarted(*m_run);
}

void ListCommands::afterRun()
{
    if (m_run->saveWaits())
        waitForTheFile();
    else
        m_saveWaits = false; // the run's save took what waited
    const SaveOutcome outcome = m_run->saveOutcome();
    noteSaveOutcome(outcome);
    Q_EMIT saved(outcome);
    Q_EMIT runEnded();
}

void ListCommands::stopRun()
{
    if (m_run)
        m_run->stop();
}

void ListCommands::openSiteCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.Row());
    m_guard.whenFree([this, chosen] {
        if (!chosen.isValid())
            return;
        makeCurrent(chosen);
        m_opener->open(WatchList::siteAddress(m_list.Text()));
    });
}

void ListCommands::onlineHelpCommand()
{
    m_guard.whenFree([this] {
        if (!m_end.isOpen())
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
    if (!m_end.isOpen())
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

void ListCommands::saveChange()
{
    // Kept on disk at once, so that a crash or a lost display loses nothing. A save that fails
    // leaves the list unsaved: the status line says so, and the close asks what to do.
    const SaveOutcome outcome = saveWatchList(m_list, m_file);
    if (saveWaitsForTheFile(outcome))
        waitForTheFile();
    noteSaveOutcome(outcome);
    Q_EMIT saved(outcome);
}

void ListCommands::noteSaveOutcome(SaveOutcome outcome)
{
    // A file that holds no list is never written over: the user's change is kept at once
    // beside it, and the status line says where.
    if (outcome == SaveOutcome::NotAList)
        m_recovery.keep(m_list, m_file);
    m_unsaved = worthTryingAgain(outcome);
    if (m_unsaved && !m_retry.isActive())
        m_retry.start();
    else if (!m_unsaved)
        m_retry.stop();
}

void ListCommands::retrySave()
{
    // A run saves at its end; an end saves its own way.
    if (!m_unsaved || m_guard.isBusy() || !m_end.isOpen())
        return;
    // Still no list there: the recovery file holds the list already.
    if (m_file.onDisk() == WatchListFile::OnDisk::NotAList)
        return;
    saveChange();
}

void ListCommands::waitForTheFile()
{
    m_saveWaits = true;
    m_fileUnsettled = true;
    m_settle.start(m_file.msUntilSettled());
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

void ListCommands::watchTheFile()
{
    // A file replaced by renaming another over it (as editors and Korvane itself save) drops
    // out of the watch: it is watched again, and its folder tells when it comes back.
    const QString path = m_file.path();
    if (QFileInfo::exists(path) && !m_watcher.files().contains(path))
        m_watcher.addPath(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!m_watcher.directories().contains(folder)) {
        m_watcher.addPath(folder);
        m_outsideEdit.start();
    }
}

void ListCommands::takeOutsideEditNow()
{
    watchTheFile();
    // A check run takes an outside edit at its end, before it saves; an end saves its own way.
    if (!m_end.isOpen() || m_guard.isHeld())
        return;
    // The commands that waited for the run go first, on the rows they were asked for.
    if (m_guard.isBusy()) {
        m_outsideEdit.start();
        return;
    }
    switch (m_file.onDisk()) {
    case WatchListFile::OnDisk::Unsettled:
        // Half a list, or none yet: taken once the other program has finished, never before.
        m_fileUnsettled = true;
        m_settle.start(m_file.msUntilSettled());
        Q_EMIT saved(SaveOutcome::FileUnsettled);
        return;
    case WatchListFile::OnDisk::Settling:
        // Nothing says that anyone writes it: looked at again, without a word, once it may
        // count as settled.
        m_settle.start(m_file.msUntilSettled());
        return;
    case WatchListFile::OnDisk::NotAFile:
        // Nothing is written there; the save says why, and the status line shows it.
        saveChange();
        return;
    case WatchListFile::OnDisk::NotAList:
        // Told once; a change of the user's goes to the recovery file, which the status line
        // names. Looked at again when it changes.
        if (std::exchange(m_fileUnsettled, false))
            Q_EMIT fileSettled();
        if (!std::exchange(m_toldNotAList, true))
            Q_EMIT fileIsNotAList();
        if (std::exchange(m_saveWaits, false))
            saveChange();
        return;
    default:
        break;
    }
    m_toldNotAList = false;
    if (std::exchange(m_fileUnsettled, false))
        Q_EMIT fileSettled();
    if (takeOutsideEdit(m_list, m_file))
        Q_EMIT readAgain();
    // A save that waited for the file, or failed, follows the other program's change.
    if (std::exchange(m_saveWaits, false) || m_unsaved)
        saveChange();
}
