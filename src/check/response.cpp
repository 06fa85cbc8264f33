// SPDX-License-Identifier: MIT
// What a transfer receives: its first answer and its body file.
#include "response.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

bool ResponseBody::open(const QString& localFile, qint64 maxBytes)
{
    target = QFile::encodeName(localFile);
    partial = target + ".part";
    limit = maxBytes;
    fd =
        FileDescriptor(::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return fd.isOpen();
}

bool ResponseBody::restart()
{
    written = 0;
    return ::ftruncate(fd.get(), 0) == 0 && ::lseek(fd.get(), 0, SEEK_SET) == 0;
}

bool ResponseBody::close()
{
    if (fd.close())
        return true;
    error = errno;
    return false;
}

bool ResponseBody::keep() const
{
    return std::rename(partial.constData(), target.constData()) == 0;
}

void ResponseBody::discard()
{
    fd.close();
    std::remove(partial.constData());
}

size_t ResponseBody::write(char* data, size_t size, size_t count, void* body)
{
    auto* sink = static_cast<ResponseBody*>(body);
    const size_t bytes = size * count;
    // Counted on what arrives, not on what the server announced, so that a lying or missing
    // Content-Length cannot fill memory or disk.
    if (sink->written + qint64(bytes) > sink->limit) {
        sink->failed = sink->tooLarge = true;
        return 0;
    }
    if (const ssize_t n = ::write(sink->fd.get(), data, bytes); n != ssize_t(bytes)) {
        sink->failed = true;
        sink->error = n < 0 ? errno : ENOSPC;
        return 0;
    }
    sink->written += qint64(bytes);
    return bytes;
}

size_t FirstAnswer::read(char* data, size_t size, size_t count, void* answer)
{
    auto* first = static_cast<FirstAnswer*>(answer);
    const QByteArrayView line(data, qsizetype(size * count));
    if (line.startsWith("HTTP/")) {
        if (++first->answers == 1) {
            const QList<QByteArray> parts = line.toByteArray().simplified().split(' ');
            first->status = parts.value(1).toLong();
        }
    } else if (first->answers == 1 && line.size() > 9 &&
               QByteArrayView(line.first(9)).compare("location:", Qt::CaseInsensitive) == 0) {
        first->location = line.sliced(9).toByteArray().trimmed();
    }
    return size * count;
}

PageAddress FirstAnswer::movedTo(const WebAddress& asked) const
{
    if (status != 301 && status != 308)
        return {};
    WebAddress target(curl_url_dup(asked.get()));
    if (!target || curl_url_set(target.get(), CURLUPART_URL, location.constData(),
                                CURLU_URLENCODE) != CURLUE_OK)
        return {};
    PageAddress moved(std::move(target));
    return moved.text().isEmpty() ? PageAddress() : moved;
}
