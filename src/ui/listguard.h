// SPDX-License-Identifier: MIT
// Holds back whatever would change the watch list while a check run walks it, and carries it
// out, in the order it came, once the run has ended. (A second run is not held back: it is
// dropped.)
#pragma once

#include <deque>
#include <functional>

class ListGuard
{
public:
    // True while a check run walks the list.
    bool isHeld() const { return m_held; }

    // Carries `change` out now, or once the run under way has ended. Nothing is carried out
    // any more once the program is ending.
    void whenFree(std::function<void()> change);

    // A run begins: changes wait from here on.
    void hold() { m_held = true; }

    // The run has ended: what waited is carried out in order.
    void release();

    // The program is ending: what waits, and whatever comes later, is dropped, since no save
    // would keep it.
    void shutForGood();

private:
    bool m_held = false;
    bool m_shut = false;
    std::deque<std::function<void()>> m_waiting;
};
