// SPDX-License-Identifier: MIT
// The lock that makes one start the owner of a list, and the local socket that later starts
// use to ask the owner to come forward.
#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

// What keeps one window per list from working: no place for the lock, or no socket for later
// starts to call. Shown unless QT_LOGGING_RULES="korvane.session=false".
Q_LOGGING_CATEGORY(lcSession, "korvane.session", QtWarningMsg)

namespace {

const QByteArray RaiseRequest = "raise\n";

// How long a later start keeps calling an owner that holds the lock but does not answer yet:
// the owner may have taken the lock a moment ago and not be listening yet.
constexpr int HandOverMs = 1500;
constexpr int CallMs = 500;
constexpr int RetryMs = 50;

// A start of Korvane says what it wants at once. Callers that say nothing, or come many at a
// time, are not starts of Korvane; left open they would use up the files the program may hold.
constexpr int SilentCallerMs = 1000;
constexpr size_t MostCallers = 8;
// How often the owner makes sure that later starts can still reach it.
constexpr int ListenCheckMs = 1000;

// The place in the user's runtime directory named after the list's directory, to which
// ".lock" and ".socket" are added; empty without a usable runtime directory. The same list gets
// the same name from every start, whatever path led to its directory.
QString runtimePlace(const QString& dataDirectory)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    QString path = QFileInfo(dataDirectory).canonicalFilePath();
    if (path.isEmpty())
        path = QDir(dataDirectory).absolutePath();
    const QByteArray hash =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(runtime).filePath(QStringLiteral("korvane-") + QString::fromLatin1(hash));
}

// The place beside the list; empty for a directory that is not given whole.
QString besideTheList(const QString& dataDirectory)
{
    if (!QDir::isAbsolutePath(dataDirectory))
        return {};
    return QDir(dataDirectory).filePath(QStringLiteral(".korvane"));
}

struct stat statOf(const QString& path)
{
    struct stat st
    {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_mode = 0;
    return st;
}

// Anything that is not of the expected kind or that another user owns may have been put there
// to pass for a running Korvane: it is never trusted.
bool isOurs(const struct stat& st, mode_t kind)
{
    return (st.st_mode & S_IFMT) == kind && st.st_uid == ::geteuid();
}

void drop(QLocalSocket* caller)
{
    caller->abort();
    caller->deleteLater();
}

} // namespace

SingleInstance::SingleInstance(const QString& dataDirectory, QObject* parent)
    : QObject(parent), m_dataDirectory(dataDirectory)
{}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim()
{
    const QString beside = besideTheList(m_dataDirectory);
    const QString runtime = runtimePlace(m_dataDirectory);
    // Where this start listens if it becomes the owner; an owner may also listen at the other
    // place, when its runtime folder differed, so a later start calls both.
    for (const QString& place : {runtime, beside})
        if (!place.isEmpty())
            m_callPaths << place + QStringLiteral(".socket");
    m_socketPath = m_callPaths.value(0);
    QStringList lockPaths;
    if (!beside.isEmpty())
        lockPaths << beside + QStringLiteral(".lock");
    if (!runtime.isEmpty())
        lockPaths << runtime + QStringLiteral(".lock");

    for (const QString& lockPath : lockPaths) {
        switch (lockAt(lockPath)) {
        case LockAt::Taken:
            if (lockPath != lockPaths.front())
                qCWarning(lcSession,
                          "the folder of the list %s cannot hold its lock: only starts with the "
                          "same runtime folder are kept from opening it a second time",
                          qPrintable(m_dataDirectory));
            if (!m_socketPath.isEmpty())
                listen();
            return Claim::Owner;
        case LockAt::HeldByAnother:
            return m_raised ? Claim::Raised : Claim::AlreadyOpen;
        case LockAt::PlaceUnusable:
            break;
        }
    }
    // Nowhere to keep a lock: the list still opens, as it did before there was a guard.
    qCWarning(lcSession,
              "no place for the lock of the list in %s: a second start will open a "
              "second window",
              qPrintable(m_dataDirectory));
    return Claim::Owner;
}

SingleInstance::LockAt SingleInstance::lockAt(const QString& lockPath)
{
    const struct stat lockStat = statOf(lockPath);
    if (lockStat.st_mode != 0 && !isOurs(lockStat, S_IFREG)) {
        qCWarning(lcSession, "%s is not this user's lock: not trusted", qPrintable(lockPath));
        return LockAt::PlaceUnusable;
    }
    auto lock = std::make_unique<QLockFile>(lockPath);
    // Age means nothing here: an owner keeps its list open for days. A lock is stale only when
    // the process that took it is gone.
    lock->setStaleLockTime(0);

    // An owner that took its lock a moment ago may not be listening yet: it gets a little
    // time, counted from when it took the lock.
    const qint64 lockAge = QFileInfo(lockPath).lastModified().msecsTo(QDateTime::currentDateTime());
    const QDeadlineTimer deadline(std::clamp<qint64>(HandOverMs - lockAge, 0, HandOverMs));
    for (;;) {
        if (lock->tryLock(0))
            break;
        // A full or read-only place: the next one may do.
        if (lock->error() != QLockFile::LockFailedError)
            return LockAt::PlaceUnusable;
        if (askTheOtherToRaise()) {
            m_raised = true;
            return LockAt::HeldByAnother;
        }
        if (deadline.hasExpired()) {
            // Nobody answers for the lock: its process died and its number now belongs to
            // another program, or it runs where this start cannot reach it.
            // removeStaleLockFile() only removes a lock no living process holds.
            if (lock->removeStaleLockFile() && lock->tryLock(0))
                break;
            return LockAt::HeldByAnother;
        }
        QThread::msleep(RetryMs);
    }
    m_lock = std::move(lock);
    return LockAt::Taken;
}

bool SingleInstance::askTheOtherToRaise() const
{
    return std::any_of(m_callPaths.begin(), m_callPaths.end(),
                       [](const QString& path) { return askToRaiseAt(path); });
}

bool SingleInstance::askToRaiseAt(const QString& socketPath)
{
    if (!isOurs(statOf(socketPath), S_IFSOCK))
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
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
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptCallers);
        auto* check = new QTimer(this);
        connect(check, &QTimer::timeout, this, &SingleInstance::keepListening);
        check->start(ListenCheckMs);
    }
    m_server->close();
    // A socket left by a killed owner, or by this one: only the lock's holder may clear it.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        if (!std::exchange(m_listenFailed, true))
            qCWarning(lcSession, "later starts cannot reach this one: no socket at %s: %s",
                      qPrintable(m_socketPath), qPrintable(m_server->errorString()));
        return;
    }
    if (std::exchange(m_listenFailed, false))
        qCWarning(lcSession, "later starts can reach this one again at %s",
                  qPrintable(m_socketPath));
    m_socketInode = statOf(m_socketPath).st_ino;
}

void SingleInstance::keepListening()
{
    // The server closes itself when it cannot take a caller (no file left to take it with), and
    // its socket may be removed from under it.
    const struct stat st = statOf(m_socketPath);
    if (!m_server->isListening() || !isOurs(st, S_IFSOCK) || st.st_ino != m_socketInode)
        listen();
}

void SingleInstance::acceptCallers()
{
    while (QLocalSocket* caller = m_server->nextPendingConnection()) {
        connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
        std::erase_if(m_callers, [](const QPointer<QLocalSocket>& c) { return c.isNull(); });
        // The oldest make room: a start of Korvane has said its word before the next comes.
        for (; m_callers.size() >= MostCallers; m_callers.pop_front())
            drop(m_callers.front());
        m_callers.emplace_back(caller);
        // A few bytes are all a start of Korvane sends: the rest is never read in.
        caller->setReadBufferSize(RaiseRequest.size());
        connect(caller, &QLocalSocket::readyRead, this, [this, caller] { hear(caller); });
        QTimer::singleShot(SilentCallerMs, caller, [caller] { drop(caller); });
        hear(caller);
    }
}

void SingleInstance::hear(QLocalSocket* caller)
{
    if (caller->bytesAvailable() < RaiseRequest.size())
        return;
    if (caller->read(RaiseRequest.size()) == RaiseRequest)
        Q_EMIT anotherStartAsked();
    caller->disconnectFromServer();
}
