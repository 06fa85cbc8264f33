// SPDX-License-Identifier: MIT
// The end of the program's life, asked for by the user, a signal or the session.
#include "endoflife.h"

#include "runsession.h"

EndOfLife::EndOfLife(WatchList& list, WatchListFile& file, RunSession& session,
                     RecoveryFile& recovery, Host& host)
    : m_list(list), m_file(file), m_session(session), m_recovery(recovery), m_host(host)
{
    connect(&m_session, &RunSession::stateChanged, this, [this](RunSession::State state) {
        if (state == RunSession::State::CarryingOut)
            runEnded();
    });
    connect(&m_session, &RunSession::idle, this, &EndOfLife::waitingCarriedOut);
}

void EndOfLife::setLife(Life life)
{
    m_life = life;
    if (life == Life::Open)
        m_session.endCancelled();
    else if (life != Life::Ended)
        m_session.endBegins();
    else
        m_session.close();
}

bool EndOfLife::request(Cause cause)
{
    switch (m_life) {
    case Life::Ended:
        return true;
    case Life::Stopping:
        // The run's end ends the program; a signal meanwhile makes it an end without questions.
        if (cause == Cause::Signal)
            m_stopCause = cause;
        return false;
    case Life::Closing:
    case Life::ClosingWithoutSaving:
        if (cause == Cause::Window) {
            // Exit Korvane closes the window once it has saved: the close saves once more,
            // without asking again.
            if (m_life == Life::Closing)
                saveWatchListAtShutDown(m_list, m_file);
            endNow();
            return true;
        }
        break;
    case Life::Open:
        break;
    }

    if (m_session.runUnderWay()) {
        // Nobody waits for a run over a slow web to end, neither a logout nor the user who
        // closes the window: the run stops at the page it is fetching and keeps what it found,
        // the commands that waited for it change the list as asked, then the end follows.
        if (m_life == Life::Open) {
            m_stopCause = cause;
            setLife(Life::Stopping);
        }
        return false;
    }
    if (cause == Cause::Signal) {
        endWithoutAsking();
        return m_life == Life::Ended;
    }
    if (m_life != Life::Open)
        return false;

    setLife(Life::Closing);
    if (!saveBeforeClosing()) {
        setLife(Life::Open);
        return false;
    }
    // An end signal that came while the question was open has ended everything already.
    if (m_life == Life::Ended)
        return true;
    if (cause == Cause::Exit) {
        // Closing the window comes back here, saves once more and ends.
        m_host.closeDialogs();
        m_host.closeWindow();
        return true;
    }
    endNow();
    return true;
}

void EndOfLife::runEnded()
{
    // A press that waited for the run and is refused finds nobody to tell.
    if (m_life == Life::Stopping)
        m_host.closeDialogs();
}

void EndOfLife::waitingCarriedOut()
{
    if (m_life != Life::Stopping)
        return;
    m_life = Life::Open;
    request(m_stopCause);
}

bool EndOfLife::saveBeforeClosing()
{
    QString kept;
    for (;;) {
        const SaveOutcome outcome = saveWatchListAtShutDown(m_list, m_file);
        if (outcome == SaveOutcome::Saved)
            return true;
        // A list that is as it was loaded or last saved loses nothing: a read-only list that
        // was only looked at closes without a word. Not so when the file is no longer that
        // list: then the window holds its only copy.
        if (!m_file.hasUnsavedChanges(m_list) && !fileIsNotTheList(outcome))
            return true;
        // The file is left as it is, and the list is kept beside it before anyone is asked, so
        // that the question can say where, and a logout that cuts it short loses nothing.
        if (fileIsNotTheList(outcome) && kept.isEmpty())
            kept = m_recovery.keep(m_list, m_file);
        const Answer answer = m_host.askAfterFailedSave(kept);
        // An end signal that came while the question was open has saved what it could.
        if (m_life == Life::Ended)
            return true;
        if (answer == Answer::CloseWithoutSaving) {
            setLife(Life::ClosingWithoutSaving);
            return true;
        }
        if (answer != Answer::TryAgain)
            return false;
    }
}

void EndOfLife::endWithoutAsking()
{
    // Nobody can be asked: one try, and the program ends whatever came of it. A file that
    // already holds the list is left as it is.
    saveWithoutAsking();
    endNow();
}

void EndOfLife::saveWithoutAsking()
{
    const SaveOutcome outcome = saveWatchListAtShutDown(m_list, m_file);
    if (outcome == SaveOutcome::Saved ||
        (!m_file.hasUnsavedChanges(m_list) && !fileIsNotTheList(outcome)))
        return;
    m_host.tellUnsaved(m_recovery.keep(m_list, m_file));
}

void EndOfLife::endNow()
{
    if (m_life == Life::Ended)
        return;
    setLife(Life::Ended);
    m_host.closeDialogs();
    m_host.ended();
}
