// SPDX-License-Identifier: MIT
// The queue of changes that wait for a check run's end.
#include "listguard.h"

#include <utility>

void ListGuard::whenFree(std::function<void()> change)
{
    if (m_shut)
        return;
    if (isBusy()) {
        m_waiting.push_back(std::move(change));
        return;
    }
    change();
}

void ListGuard::hold()
{
    // A run that begins while earlier changes are still being carried out holds the rest.
    m_held = true;
    m_releasing = false;
}

void ListGuard::release()
{
    m_held = false;
    m_releasing = true;
    carryOutNextSoon();
}

void ListGuard::carryOutNextSoon()
{
    if (std::exchange(m_posted, true))
        return;
    QMetaObject::invokeMethod(this, &ListGuard::carryOutNext, Qt::QueuedConnection);
}

void ListGuard::carryOutNext()
{
    // Each change runs from the event loop on a stack of its own: one that asks the user
    // something, or starts a run, has nothing of the run's end or of other changes beneath it.
    m_posted = false;
    if (!m_releasing || m_held || m_shut)
        return;
    if (m_waiting.empty()) {
        m_releasing = false;
        Q_EMIT caughtUp();
        return;
    }
    const std::function<void()> change = std::move(m_waiting.front());
    m_waiting.pop_front();
    change();
    // Posted after the change, so that a message box it opened answers no other change from
    // within its own loop.
    if (m_releasing)
        carryOutNextSoon();
}

void ListGuard::shutForGood()
{
    m_shut = true;
    m_releasing = false;
    m_waiting.clear();
}
