// SPDX-License-Identifier: MIT
// Holds a test server's responses until the test lets them through, so that a test can act
// while the program waits for a page. A time limit lets them through anyway: a test that fails
// never hangs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class ResponseGate
{
public:
    // Called by a server handler: waits until released or until `limit` has passed. True when
    // released.
    bool wait(std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        const bool released = m_released.wait_for(lock, limit, [this] { return m_open; });
        --m_waiting;
        return released;
    }

    // True while a handler waits at the gate.
    bool isHolding() const
    {
        std::lock_guard lock(m_mutex);
        return m_waiting > 0;
    }

    void release()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_released.notify_all();
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    int m_waiting = 0;
    bool m_open = false;
};
