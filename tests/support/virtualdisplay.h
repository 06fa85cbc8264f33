// SPDX-License-Identifier: MIT
// A private virtual X server (Xvfb) for tests that run the real program, xdotool to look at its
// windows, and processes that cannot outlive the test that started them.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRect>
#include <QStringList>
#include <QTest>

#include <optional>

// A helper that failed has already recorded why; the test function stops there.
#define STOP_ON_FAILURE(call)                                                                      \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

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
    // What to install when Xvfb or xdotool is missing; empty when both are there.
    static QString missingTools();

    // Starts Xvfb on a display nobody else uses; false when it cannot be started.
    bool start(const QString& screen = QStringLiteral("800x600x24"));
    void stop() { m_server.stop(); }

    // The environment with this display in it, for a program or a tool.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // The environment a desktop gives a program on this display, with `home` and `runtime` as
    // its home and runtime folders (no runtime folder when empty): none of the developer's XDG
    // folders, proxies, scaling or session bus, and one device pixel to the pixel.
    QProcessEnvironment programEnvironment(const QString& home, const QString& runtime) const;

    // xdotool's standard output, or nullopt when it failed (no window found included).
    std::optional<QByteArray> xdotool(const QStringList& args) const;

    // The visible windows of process `pid`; with `title`, only those whose title matches it.
    QByteArrayList visibleWindows(qint64 pid, const QString& title = {}) const;
    // The windows of `program` whose title matches `title`, once one is shown; empty when the
    // program ends first or none is shown within `timeoutMs`.
    QByteArrayList waitForWindows(const QProcess& program, const QString& title,
                                  int timeoutMs) const;
    // Where `window` is on the screen, frame excluded; nullopt when xdotool cannot tell.
    std::optional<QRect> geometry(const QByteArray& window) const;

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
