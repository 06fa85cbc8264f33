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
    // Holds SIGTERM, SIGINT and SIGHUP back until an EndSignals object catches them. The first
    // thing main() does: before it, a logout in the first milliseconds would kill the program.
    static void holdBack();

    // Catches SIGTERM, SIGINT and SIGHUP, and lets through those that were held back. Only one
    // object may exist at a time. What arrives before the event loop runs is delivered once it
    // does.
    explicit EndSignals(QObject* parent = nullptr);
    // Stops delivering. The signals stay caught until the process exits: a second logout or
    // Ctrl+C while the program ends must not kill it.
    ~EndSignals() override;

    // False when the signals could not be caught (they keep their default actions).
    bool isCatching() const { return m_notifier != nullptr; }

    // True when an end signal came that the event loop has not delivered yet: one that came
    // during start-up, before there was anything to save.
    bool hasPendingRequest() const;

Q_SIGNALS:
    void endRequested(int signalNumber);

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
};
