// SPDX-License-Identifier: MIT
// Whole-file writes, the rule for symbolic links, and the read-only question.
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
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

WholeWrite writeWholeFile(const QString& path, QByteArrayView bytes, QString* why,
                          bool directWriteFallback)
{
    QString ignored;
    QString& reason = why ? *why : ignored;
    if (!mayWriteThrough(path)) {
        reason = QStringLiteral("It is a link that another user made.");
        return WholeWrite::LinkRefused;
    }
    // The new file is another file: it gets the old one's mode, and its owner and group when
    // root saves a user's file (run with sudo, say), so that the user can still write it.
    struct stat old
    {};
    const QByteArray name = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    const bool existed = !name.isEmpty() && ::stat(name.constData(), &old) == 0;
    QSaveFile file(path);
    file.setDirectWriteFallback(directWriteFallback);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return WholeWrite::OpenFailed;
    }
    // Qt 6.4's commit() ignores the result of the flush it starts with, so bytes still in the
    // device's buffer that the disk then refuses (full, over quota) would not stop a cut-off
    // file from replacing a good one. Flushing here makes that refusal a failed write.
    if (!writeAllBytes(file, bytes) || !file.flush()) {
        reason = file.errorString();
        file.cancelWriting();
        return WholeWrite::WriteFailed;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return WholeWrite::CommitFailed;
    }
    if (existed) {
        struct stat now
        {};
        if (::stat(name.constData(), &now) == 0) {
            if ((now.st_mode & 07777) != (old.st_mode & 07777))
                ::chmod(name.constData(), old.st_mode & 07777);
            if (::geteuid() == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid))
                (void)!::chown(name.constData(), old.st_uid, old.st_gid);
        }
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
