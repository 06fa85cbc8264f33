// SPDX-License-Identifier: MIT
// Holds back whatever would change the watch list while a check run walks it, and carries it
// out, in the order it came, once the run has ended. (A second run is not held back: it is
// dropped.)
#pragma once

#include <QObject>

#include <deque>
#include <functional>

class ListGuard final : public QObject
{
    Q_OBJECT
public:
    // True while a check run walks the list.
    bool isHeld() const { return m_held; }
    // True while a run walks the list or what waited for it is still to be carried out.
    bool isBusy() const { return m_held || m_releasing; }

    // Carries `change` out now, or once the run under way has ended and every change that
    // waited before it is carried out. Nothing is carried out any more once the program is
    // ending.
    void whenFree(std::function<void()> change);

    // A run begins: changes wait from here on.
    void hold();

    // The run has ended: what waited is carried out in order, one change per turn of the
    // event loop, then caughtUp() says so.
    void release();

    // The program is ending: what waits, and whatever comes later, is dropped, since no save
    // would keep it.
    void shutForGood();

Q_SIGNALS:
    void caughtUp();

private:
    void carryOutNextSoon();
    void carryOutNext();

    bool m_held = false;
    bool m_releasing = false;
    bool m_shut = false;
    bool m_posted = false;
    std::deque<std::function<void()>> m_waiting;
};
