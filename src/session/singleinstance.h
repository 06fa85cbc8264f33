// SPDX-License-Identifier: MIT
// One Korvane per watch list: the first start for a list keeps it, a later one hands over.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>

#include <sys/types.h>

class QLocalServer;
class QLocalSocket;
class QLockFile;

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // Guards the list kept in `dataDirectory`. The lock file and the socket that later starts
    // call live in the user's runtime directory, named after that directory. Without a usable
    // runtime directory they go beside the list, as `.korvane.lock` and `.korvane.socket`:
    // never in the working directory, which differs from one start to the next.
    explicit SingleInstance(const QString& dataDirectory, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this start now has the list to itself. False when another Korvane already has
    // it: that one has been asked to come to the front, and this start should end without
    // touching the list. A lock left by a Korvane that was killed is taken over at once.
    bool claim();

    // True when this start holds the list's lock, so no other Korvane can be using the list.
    // False after a claim() that found nowhere to keep a lock and let the list open unguarded.
    bool holdsLock() const;

Q_SIGNALS:
    // A later start for the same list asked this one to bring its window to the front.
    void anotherStartAsked();

private:
    enum class Claim
    {
        Owner,
        TakenByAnother,
        PlaceUnusable,
    };

    Claim claimAt(const QString& place);
    bool askTheOtherToRaise() const;
    void listen();
    void keepListening();
    void acceptCallers();
    void hear(QLocalSocket* caller);

    QString m_dataDirectory;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    // Which file the server listens at, to notice when it is removed or replaced.
    ino_t m_socketInode = 0;
    bool m_listenFailed = false;
    std::deque<QPointer<QLocalSocket>> m_callers;
};
