// SPDX-License-Identifier: MIT
// A check run's life: started, waited for, ended, and what waited carried out; the saves and
// other programs' edits of the list around it.
#include "runsession.h"

#include "listatstartandend.h"
#include "listsave.h"
#include "watchlist.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

// Several writes of one save by another program (an editor, a script appending) come as
// several signals: the list is read once they have settled.
constexpr std::chrono::milliseconds OutsideEditQuiet{100};

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

RunSession::RunSession(WatchList& list, WatchListFile& file, RecoveryFile& recovery,
                       CheckTools tools, CheckRunHost& face, const Options& options)
    : m_list(list), m_file(file), m_recovery(recovery), m_tools(std::move(tools)), m_face(face),
      m_findings(options.findingsDirectory, file.path(), options.now)
{
    m_retry.setInterval(options.saveRetryTime);
    connect(&m_retry, &QTimer::timeout, this, &RunSession::retrySave);
    m_outsideEdit.setSingleShot(true);
    m_outsideEdit.setInterval(std::min(options.settleTime, OutsideEditQuiet));
    connect(&m_outsideEdit, &QTimer::timeout, this, &RunSession::takeOutsideEditNow);
    const auto changed = [this] {
        m_file.glance();
        m_outsideEdit.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &RunSession::takeOutsideEditNow);
}

RunSession::~RunSession() = default;

void RunSession::setState(State state)
{
    if (std::exchange(m_state, state) != state)
        Q_EMIT stateChanged(state);
}

void RunSession::whenIdle(std::function<void()> change)
{
    if (m_state == State::Closed)
        return;
    if (runUnderWay()) {
        m_waiting.push_back(std::move(change));
        return;
    }
    change();
}

void RunSession::goLook()
{
    // One run per request: a second Go Look! during a run would check every page again and
    // overwrite what the first run found before the user has seen it. Asked for while what
    // waited for the last run is carried out, it comes after that, as the user asked.
    if (walksTheList())
        return;
    whenIdle([this] { startRun(); });
}

void RunSession::startRun()
{
    if (walksTheList() || m_state == State::Closed || !m_tools.fetcher || m_ending)
        return;
    setState(State::Running);
    m_run = std::make_unique<CheckRun>(m_list, m_file, *m_tools.fetcher, m_face, m_tools.now);
    connect(m_run.get(), &CheckRun::finished, this, &RunSession::afterRun);
    connect(m_run.get(), &CheckRun::stopped, this, &RunSession::afterRun);
    m_run->keepFindingsIn(m_findings);
    m_run->VisitALL();
    Q_EMIT runStarted(*m_run);
}

void RunSession::endBegins()
{
    m_ending = true;
    if (m_state != State::Running)
        return;
    // Nobody waits for a run over a slow web to end: it stops at the page it is fetching and
    // keeps what it found.
    setState(State::Stopping);
    m_run->stop();
}

void RunSession::afterRun()
{
    // Whatever came of the list's save: what the run found is kept apart from the list.
    m_findings.save(m_list);
    if (m_run->saveWaits())
        waitForTheFile();
    else
        m_saveWaits = false; // the run's save took what waited
    const SaveOutcome outcome = m_run->saveOutcome();
    noteSaveOutcome(outcome);
    Q_EMIT saved(outcome);
    if (m_state == State::Closed)
        return;
    setState(State::CarryingOut);
    carryOutNextSoon();
}

void RunSession::carryOutNextSoon()
{
    if (std::exchange(m_posted, true))
        return;
    QMetaObject::invokeMethod(this, &RunSession::carryOutNext, Qt::QueuedConnection);
}

void RunSession::carryOutNext()
{
    // Each change runs from the event loop on a stack of its own: one that asks the user
    // something, or starts a run, has nothing of the run's end or of other changes beneath it.
    m_posted = false;
    if (m_state != State::CarryingOut)
        return;
    if (m_waiting.empty()) {
        setState(State::Idle);
        Q_EMIT idle();
        return;
    }
    const std::function<void()> change = std::move(m_waiting.front());
    m_waiting.pop_front();
    change();
    // Posted after the change, so that a message box it opened answers no other change from
    // within its own loop.
    if (m_state == State::CarryingOut)
        carryOutNextSoon();
}

void RunSession::close()
{
    // What waits would change a list that no save keeps any more.
    if (walksTheList())
        m_run->stop();
    // The sites removed since the last run are forgotten.
    if (m_state != State::Closed)
        m_findings.save(m_list);
    setState(State::Closed);
    m_waiting.clear();
    m_retry.stop();
    m_settle.stop();
    m_outsideEdit.stop();
}

void RunSession::saveChange()
{
    // Kept on disk at once, so that a crash or a lost display loses nothing. A save that fails
    // leaves the list unsaved: the status line says so, and the close asks what to do.
    const SaveOutcome outcome = saveWatchList(m_list, m_file);
    if (saveWaitsForTheFile(outcome))
        waitForTheFile();
    noteSaveOutcome(outcome);
    Q_EMIT saved(outcome);
}

void RunSession::noteSaveOutcome(SaveOutcome outcome)
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

void RunSession::retrySave()
{
    // A run saves at its end; an end saves its own way.
    if (!m_unsaved || m_state != State::Idle || m_ending)
        return;
    // Still no list there: the recovery file holds the list already.
    if (m_file.onDisk() == WatchListFile::OnDisk::NotAList)
        return;
    saveChange();
}

void RunSession::waitForTheFile()
{
    m_saveWaits = true;
    m_fileUnsettled = true;
    m_settle.start(m_file.msUntilSettled());
}

void RunSession::watchTheFile()
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

void RunSession::takeOutsideEditNow()
{
    watchTheFile();
    // A check run takes an outside edit at its end, before it saves; an end saves its own way.
    if (m_ending || m_state == State::Closed || walksTheList())
        return;
    // The changes that waited for the run go first, on the rows they were asked for.
    if (m_state == State::CarryingOut) {
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
