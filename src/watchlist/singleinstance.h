// SPDX-License-Identifier: MIT
// One Korvane per watch list: the first start for a list keeps it, a later one hands over.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // Guards the list kept in `dataDirectory`. The lock file and the socket that later starts
    // call are named after that directory and live in the user's runtime directory, never
    // beside the list.
    explicit SingleInstance(const QString& dataDirectory, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this start now has the list to itself. False when another Korvane already has
    // it: that one has been asked to come to the front, and this start should end without
    // touching the list. A lock left by a Korvane that was killed is taken over at once.
    bool claim();

Q_SIGNALS:
    // A later start for the same list asked this one to bring its window to the front.
    void anotherStartAsked();

private:
    bool askTheOtherToRaise() const;
    void listen();

    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
};
