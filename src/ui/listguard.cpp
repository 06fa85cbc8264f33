// SPDX-License-Identifier: MIT
// The queue of changes that wait for a check run's end.
#include "listguard.h"

void ListGuard::whenFree(std::function<void()> change)
{
    if (m_shut)
        return;
    if (m_held) {
        m_waiting.push_back(std::move(change));
        return;
    }
    change();
}

void ListGuard::release()
{
    m_held = false;
    while (!m_held && !m_shut && !m_waiting.empty()) {
        const std::function<void()> change = std::move(m_waiting.front());
        m_waiting.pop_front();
        change();
    }
}

void ListGuard::shutForGood()
{
    m_shut = true;
    m_waiting.clear();
}
