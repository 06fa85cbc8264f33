// SPDX-License-Identifier: MIT
// Whole-file reads and writes, the rule for symbolic links, and the read-only question.
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

bool writeAllBytes(QIODevice& device, QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const qint64 n = device.write(bytes.data() + written, bytes.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

SystemError systemError(int error)
{
    return {error, QString::fromLocal8Bit(std::strerror(error))};
}

bool mayWriteThrough(const QString& path)
{
    // Every link on the way is checked against the file at its end: a link of the user's that
    // leads to a foreign link is still the foreign link's doing.
    QString at = QFileInfo(path).absoluteFilePath();
    struct stat target
    {};
    const bool targetExists = ::stat(QFile::encodeName(at).constData(), &target) == 0;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat link
        {};
        if (::lstat(QFile::encodeName(at).constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return true;
        if (link.st_uid != ::geteuid() && !(targetExists && link.st_uid == target.st_uid))
            return false;
        const QString next = QFileInfo(at).symLinkTarget();
        if (next.isEmpty())
            return false;
        at = next;
    }
    return false;
}

namespace {

// The rest of readWholeFile, on the open file `fd` whose status is `st`.
std::optional<QByteArray> readOpenFile(int fd, const struct stat& st, qint64 limit, WholeRead& why)
{
    if (!S_ISREG(st.st_mode) || st.st_size > limit) {
        why = S_ISREG(st.st_mode) ? WholeRead::TooLarge : WholeRead::NotRegular;
        return std::nullopt;
    }
    // Room for a byte more than the file holds: a read that comes short of it has met the end.
    // A read that fills it finds that the file grew, and makes room for more, up to the limit.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n == 0 && got < st.st_size)) {
            why = WholeRead::ReadFailed;
            return std::nullopt;
        }
        got += n;
        if (got > limit) {
            why = WholeRead::TooLarge;
            return std::nullopt;
        }
        if (got == bytes.size())
            bytes.resize(got + qsizetype(std::min<qint64>(got, limit - got + 1)));
        else if (got >= st.st_size)
            break;
    }
    bytes.truncate(got);
    why = WholeRead::Read;
    return bytes;
}

// The file is more than its bytes where a new file in its place would lose something: a second
// name (a hard link) would keep the old bytes and drift apart from the list, and a file
// mounted into place cannot be renamed over at all. Such a file is written where it is.
bool mustWriteInPlace(const QByteArray& name, const struct stat& st)
{
    if (st.st_nlink > 1)
        return true;
    struct statx sx
    {};
    return ::statx(AT_FDCWD, name.constData(), 0, STATX_BASIC_STATS, &sx) == 0 &&
           (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

// Right after the call that failed, before anything else can change errno.
SystemError qtError(const QFileDevice& file)
{
    return {errno, file.errorString()};
}

// Writes `bytes` over the file itself, keeping its inode and with it every name, mount, owner,
// mode, ACL and attribute. The room is taken first where the file system can, so that a full
// disk refuses before any of the old list is overwritten.
WholeWrite writeInPlace(const QByteArray& name, QByteArrayView bytes, SystemError& reason)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = systemError(errno);
        return WholeWrite::OpenFailed;
    }
    const auto failed = [&](int error, WholeWrite how) {
        reason = systemError(error);
        ::close(fd);
        return how;
    };
    if (!bytes.isEmpty() && ::fallocate(fd, 0, 0, off_t(bytes.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return failed(errno, WholeWrite::WriteFailed);
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + written, size_t(bytes.size() - written), off_t(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(n < 0 ? errno : EIO, WholeWrite::WriteFailed);
        written += n;
    }
    if (::ftruncate(fd, off_t(bytes.size())) != 0 || ::fsync(fd) != 0)
        return failed(errno, WholeWrite::WriteFailed);
    if (::close(fd) != 0) {
        reason = systemError(errno);
        return WholeWrite::CommitFailed;
    }
    return WholeWrite::Written;
}

// Gives the new file what the old one had besides its bytes, as `cp --preserve=all` does: its
// owner and group when root writes a user's file, its mode, and its extended attributes, the
// POSIX ACL among them (so that another user it lets in still gets in). False when an attribute
// could not be copied: then the file is better written in place than without it.
bool copyWhatTheFileWas(const QByteArray& name, const struct stat& old, int fd)
{
    if (::geteuid() == 0)
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    ::fchmod(fd, old.st_mode & 07777);
    const ssize_t size = ::listxattr(name.constData(), nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    QByteArray names(size, Qt::Uninitialized);
    const ssize_t got = ::listxattr(name.constData(), names.data(), size_t(names.size()));
    if (got < 0)
        return false;
    for (const QByteArray& attribute : names.first(got).split('\0')) {
        if (attribute.isEmpty())
            continue;
        const ssize_t length = ::getxattr(name.constData(), attribute.constData(), nullptr, 0);
        if (length < 0)
            return false;
        QByteArray value(length, Qt::Uninitialized);
        const ssize_t read =
            ::getxattr(name.constData(), attribute.constData(), value.data(), size_t(length));
        if (read < 0 ||
            ::fsetxattr(fd, attribute.constData(), value.constData(), size_t(read), 0) != 0)
            return false;
    }
    return true;
}

} // namespace

std::optional<QByteArray> readWholeFile(const QString& path, qint64 limit, WholeRead* why,
                                        struct stat* opened)
{
    WholeRead ignored = WholeRead::Read;
    WholeRead& outcome = why ? *why : ignored;
    // Without waiting: a pipe in the file's place opens at once, and is refused as no file.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st
    {};
    std::optional<QByteArray> bytes;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        outcome = errno == ENOENT ? WholeRead::Missing : WholeRead::NotOpened;
    } else {
        if (opened)
            *opened = st;
        bytes = readOpenFile(fd, st, limit, outcome);
    }
    const int error = errno;
    // The close can be where a file system reports that the read went wrong.
    if (fd >= 0 && ::close(fd) != 0 && bytes) {
        outcome = WholeRead::ReadFailed;
        return std::nullopt;
    }
    errno = error;
    return bytes;
}

WholeWrite writeWholeFile(const QString& path, QByteArrayView bytes, SystemError* why,
                          bool directWriteFallback, const std::function<bool()>& unchanged)
{
    SystemError ignored;
    SystemError& reason = why ? *why : ignored;
    const auto changedMeanwhile = [&] {
        reason = {};
        return WholeWrite::ChangedMeanwhile;
    };
    if (!mayWriteThrough(path)) {
        reason = {};
        return WholeWrite::LinkRefused;
    }
    struct stat old
    {};
    const QByteArray name = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    const bool existed = !name.isEmpty() && ::stat(name.constData(), &old) == 0;
    if (existed && S_ISREG(old.st_mode) && mustWriteInPlace(name, old))
        return unchanged && !unchanged() ? changedMeanwhile() : writeInPlace(name, bytes, reason);
    QSaveFile file(path);
    file.setDirectWriteFallback(directWriteFallback);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = qtError(file);
        return WholeWrite::OpenFailed;
    }
    // Qt 6.4's commit() ignores the result of the flush it starts with, so bytes still in the
    // device's buffer that the disk then refuses (full, over quota) would not stop a cut-off
    // file from replacing a good one. Flushing here makes that refusal a failed write.
    if (!writeAllBytes(file, bytes) || !file.flush()) {
        reason = qtError(file);
        file.cancelWriting();
        return WholeWrite::WriteFailed;
    }
    if (existed && !copyWhatTheFileWas(name, old, int(file.handle()))) {
        file.cancelWriting();
        return unchanged && !unchanged() ? changedMeanwhile() : writeInPlace(name, bytes, reason);
    }
    // Written straight into the file (its folder takes no new file): there is nothing left to
    // put in its place.
    struct stat written
    {};
    const bool inPlace = existed && ::fstat(int(file.handle()), &written) == 0 &&
                         written.st_ino == old.st_ino && written.st_dev == old.st_dev;
    if (unchanged && !inPlace && !unchanged()) {
        file.cancelWriting();
        return changedMeanwhile();
    }
    if (!file.commit()) {
        reason = qtError(file);
        return WholeWrite::CommitFailed;
    }
    return WholeWrite::Written;
}

QString writeNewFile(const QString& directory, const QString& stem, const QString& extension,
                     QByteArrayView bytes)
{
    const QDir folder(directory);
    for (int n = 1; n < 1000; ++n) {
        const QString name =
            n == 1 ? stem + extension : QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(extension);
        QFile file(folder.filePath(name));
        // Made by this open or not at all: a copy of another program's (or another Korvane's)
        // that took the name a moment ago is never written over.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.error() == QFileDevice::OpenError && QFileInfo::exists(file.fileName()))
                continue;
            if (QFileInfo(file.fileName()).isSymLink())
                continue;
            return {};
        }
        if (writeAllBytes(file, bytes) && file.flush() && ::fsync(file.handle()) == 0) {
            file.close();
            if (file.error() == QFileDevice::NoError)
                return file.fileName();
        }
        file.close();
        file.remove();
        return {};
    }
    return {};
}

bool isReadOnlyFile(const QString& path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (::geteuid() == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return ::access(QFile::encodeName(path).constData(), W_OK) != 0;
}
