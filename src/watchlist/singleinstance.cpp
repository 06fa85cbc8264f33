// SPDX-License-Identifier: MIT
// The lock that makes one start the owner of a list, and the local socket that later starts
// use to ask the owner to come forward.
#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray RaiseRequest = "raise\n";

// How long a later start keeps calling an owner that holds the lock but does not answer yet:
// the owner may have taken the lock a moment ago and not be listening yet.
constexpr int HandOverMs = 3000;
constexpr int CallMs = 500;
constexpr int RetryMs = 50;

// The same list gets the same name from every start, whatever path led to its directory.
QString nameFor(const QString& dataDirectory)
{
    QString path = QFileInfo(dataDirectory).canonicalFilePath();
    if (path.isEmpty())
        path = QDir(dataDirectory).absolutePath();
    const QByteArray hash =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
        .filePath(QStringLiteral("korvane-") + QString::fromLatin1(hash));
}

} // namespace

SingleInstance::SingleInstance(const QString& dataDirectory, QObject* parent)
    : QObject(parent), m_socketPath(nameFor(dataDirectory) + QStringLiteral(".socket")),
      m_lock(nameFor(dataDirectory) + QStringLiteral(".lock"))
{
    // Age means nothing here: an owner keeps its list open for days. A lock is stale only when
    // the process that took it is gone.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    const QDeadlineTimer deadline(HandOverMs);
    for (;;) {
        if (m_lock.tryLock(0)) {
            listen();
            return true;
        }
        // Without a usable runtime directory there is nothing to guard with; the list still
        // opens, as it did before there was a guard.
        if (m_lock.error() != QLockFile::LockFailedError)
            return true;
        if (askTheOtherToRaise())
            return false;
        if (deadline.hasExpired())
            break;
        QThread::msleep(RetryMs);
    }
    // Nobody answers for the lock: its process died and its number now belongs to another
    // Korvane. removeStaleLockFile() only removes a lock that no living process holds.
    if (m_lock.removeStaleLockFile() && m_lock.tryLock(0)) {
        listen();
        return true;
    }
    return false;
}

bool SingleInstance::askTheOtherToRaise() const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(CallMs))
        return false;
    // An owner that answers the call is alive; what becomes of the request is up to it.
    socket.write(RaiseRequest);
    socket.waitForBytesWritten(CallMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(CallMs);
    return true;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a killed owner: only the lock's holder may clear it.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* caller = m_server->nextPendingConnection()) {
            connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
            const auto read = [this, caller] {
                if (!caller->canReadLine())
                    return;
                if (caller->readLine(RaiseRequest.size() + 1) == RaiseRequest)
                    Q_EMIT anotherStartAsked();
                caller->disconnectFromServer();
            };
            connect(caller, &QLocalSocket::readyRead, this, read);
            read();
        }
    });
}
