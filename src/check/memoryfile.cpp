// SPDX-License-Identifier: MIT
// Reading, locking and writing the memory files.
#include "memoryfile.h"

#include "wholefile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

FileVersion versionOf(const struct stat& st)
{
    return {true,
            st.st_dev,
            st.st_ino,
            st.st_size,
            qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

} // namespace

FileVersion versionOf(const QString& path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return versionOf(st);
}

MemoryFileRead readMemoryFile(const QString& path, qint64 maxBytes)
{
    MemoryFileRead read;
    WholeRead outcome = WholeRead::Read;
    struct stat st
    {};
    std::optional<QByteArray> bytes = readWholeFile(path, maxBytes, &outcome, &st);
    const bool opened = outcome != WholeRead::Missing && outcome != WholeRead::NotOpened;
    read.version = opened ? versionOf(st) : versionOf(path);
    read.state = bytes                           ? MemoryFileRead::State::Read
                 : outcome == WholeRead::Missing ? MemoryFileRead::State::Missing
                                                 : MemoryFileRead::State::Refused;
    read.bytes = std::move(bytes).value_or(QByteArray());
    return read;
}

bool writeMemoryFile(const QString& path, const QByteArray& bytes)
{
    // A link that another user put in the cache folder is not written through (see wholefile).
    return writeWholeFile(path, bytes) == WholeWrite::Written;
}

MemoryLock::MemoryLock(const QString& directory, std::chrono::milliseconds patience)
    : m_file(::open(
          QFile::encodeName(QDir(directory).filePath(QStringLiteral("memory.lock"))).constData(),
          O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600))
{
    struct stat st
    {};
    if (!m_file.isOpen() || ::fstat(m_file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    // Another Korvane holds it for the few milliseconds of its own save.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (::flock(m_file.get(), LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() >= patience.count())
            return;
        QThread::usleep(500);
    }
}
