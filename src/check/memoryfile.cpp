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
#include <unistd.h>

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
    // Without waiting: a pipe in the file's place opens at once, and is refused below.
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st
    {};
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0) {
        read.state =
            errno == ENOENT ? MemoryFileRead::State::Missing : MemoryFileRead::State::Refused;
        read.version = versionOf(path);
        return read;
    }
    read.version = versionOf(st);
    read.state = MemoryFileRead::State::Refused;
    if (!S_ISREG(st.st_mode) || st.st_size > maxBytes)
        return read;
    // One more byte than the limit shows a file that grew past it meanwhile.
    read.bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    while (got < read.bytes.size()) {
        const ssize_t n =
            ::read(file.get(), read.bytes.data() + got, size_t(read.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
        if (got > maxBytes) {
            read.bytes.clear();
            return read;
        }
    }
    read.bytes.truncate(got);
    read.state = MemoryFileRead::State::Read;
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
