// SPDX-License-Identifier: MIT
// The signals with which a desktop or a terminal asks a program to end (a logout, `kill`,
// Ctrl+C), turned into a Qt signal that the event loop delivers, so that Korvane ends the way it
// does when its window closes instead of dying with unsaved changes.
#pragma once

#include <QObject>

class QSocketNotifier;

class EndSignals final : public QObject
{
    Q_OBJECT
public:
    // Catches SIGTERM, SIGINT and SIGHUP from now on; only one object may do so at a time.
    // What arrives before the event loop runs is delivered once it does.
    explicit EndSignals(QObject* parent = nullptr);
    // Gives the three signals back their default actions.
    ~EndSignals() override;

    // False when the signals could not be caught (they keep their default actions).
    bool isCatching() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void endRequested(int signalNumber);

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
};
