// SPDX-License-Identifier: MIT
// Watching a file settle, and asking the kernel about its writers.
#include "filesettle.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

StatStamp stampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size,
            qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

namespace {

// A writer that opens the file while the lease is held (for the few microseconds it is)
// breaks it, and the kernel tells the lease's holder with SIGIO, whose default action ends
// the process. Korvane has no use for SIGIO otherwise.
void ignoreLeaseBreaks()
{
    static const bool ignored = [] {
        struct sigaction now
        {};
        if (::sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL)
            std::signal(SIGIO, SIG_IGN);
        return true;
    }();
    Q_UNUSED(ignored);
}

} // namespace

Writers writersOf(const QString& path)
{
    ignoreLeaseBreaks();
    // Non-blocking: should a FIFO take the file's place meanwhile, the open does not wait for
    // a writer to come.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Writers::Unknown;
    struct stat st
    {};
    Writers writers = Writers::Unknown;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
            writers = Writers::None;
        } else if (errno == EAGAIN) {
            writers = Writers::Some;
        }
    }
    ::close(fd);
    return writers;
}

std::chrono::milliseconds SettleWatch::look(const StatStamp& now)
{
    if (!m_seen || *m_seen != now) {
        m_seen = now;
        m_since.start();
        m_settled = false;
    }
    if (m_settled)
        return {};
    const auto seenFor = std::chrono::milliseconds(m_since.elapsed());
    return seenFor >= m_settleTime ? std::chrono::milliseconds{} : m_settleTime - seenFor;
}

void SettleWatch::settledAt(const StatStamp& now)
{
    m_seen = now;
    m_since.start();
    m_settled = true;
}
