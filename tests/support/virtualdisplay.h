// SPDX-License-Identifier: MIT
// A private virtual X server (Xvfb) for tests that run the real program, xdotool to look at its
// windows, and processes that cannot outlive the test that started them.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <optional>

// A process of the test's that cannot outlive it: stopped when its owner goes, and killed by the
// kernel should the test process die first (a crash, or CTest's timeout).
class OwnedProcess
{
public:
    OwnedProcess();
    ~OwnedProcess() { stop(); }
    OwnedProcess(const OwnedProcess&) = delete;
    OwnedProcess& operator=(const OwnedProcess&) = delete;

    QProcess& process() { return m_process; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // Asks first, so that an X server removes its socket and lock file; then insists.
    void stop();

private:
    QProcess m_process;
};

class VirtualDisplay
{
public:
    // Starts Xvfb on a display nobody else uses; false when it cannot be started.
    bool start(const QString& screen = QStringLiteral("800x600x24"));
    void stop() { m_server.stop(); }

    // The environment with this display in it, for a program or a tool.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // xdotool's standard output, or nullopt when it failed (no window found included).
    std::optional<QByteArray> xdotool(const QStringList& args) const;

private:
    OwnedProcess m_server;
    QString m_display;
};

// Waits until `done` holds, letting process notifications in meanwhile.
template <typename Condition> bool waitUntil(Condition done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}
