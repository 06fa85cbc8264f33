// SPDX-License-Identifier: MIT
// One Korvane per watch list: the first start for a list keeps it, a later one hands over.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

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
    // What came of a start's claim on its list.
    enum class Claim
    {
        Owner,       // this start has the list to itself
        Raised,      // another Korvane has it, and was asked to come to the front
        AlreadyOpen, // another Korvane has it, and this start cannot reach it (another
                     // session, another runtime folder): the user should be told
    };

    // Guards the list kept in `dataDirectory`. The lock is beside the list, as `.korvane.lock`,
    // so that every start on the list meets it, whatever its environment; only where the
    // list's folder cannot hold a lock does one in the user's runtime directory guard alone.
    // The socket that later starts call lives in the runtime directory, named after the list's
    // directory, or beside the list (`.korvane.socket`) without a usable runtime directory:
    // never in the working directory, which differs from one start to the next.
    explicit SingleInstance(const QString& dataDirectory, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Owner when this start now has the list to itself; otherwise it should end without
    // touching the list. A lock left by a Korvane that was killed is taken over at once.
    Claim claim();

Q_SIGNALS:
    // A later start for the same list asked this one to bring its window to the front.
    void anotherStartAsked();

private:
    enum class LockAt
    {
        Taken,
        HeldByAnother,
        PlaceUnusable,
    };

    LockAt lockAt(const QString& lockPath);
    bool askTheOtherToRaise() const;
    static bool askToRaiseAt(const QString& socketPath);
    void listen();
    void keepListening();
    void acceptCallers();
    void hear(QLocalSocket* caller);

    QString m_dataDirectory;
    QString m_socketPath;
    QStringList m_callPaths;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    // Which file the server listens at, to notice when it is removed or replaced.
    ino_t m_socketInode = 0;
    bool m_listenFailed = false;
    bool m_raised = false;
    std::deque<QPointer<QLocalSocket>> m_callers;
};
