// SPDX-License-Identifier: MIT
// What a transfer receives: the first answer's status and redirect, and the body, which goes
// to a file of its own beside the target, renamed over the target only once the whole body is
// there, so that a failed download leaves the target as it was.
#pragma once

#include "handles.h"
#include "webaddress.h"

#include <QByteArray>
#include <QString>

// The first answer of a transfer, which a redirect then follows: a permanent redirect from http
// to https is remembered.
struct FirstAnswer
{
    int answers = 0;
    long status = 0;
    QByteArray location;

    // Where a permanent redirect (301, 308) sent the transfer of `asked`, made whole against
    // it; null after any other answer.
    PageAddress movedTo(const WebAddress& asked) const;

    // CURLOPT_HEADERFUNCTION, with this answer as its data.
    static size_t read(char* data, size_t size, size_t count, void* answer);
};

struct ResponseBody
{
    QByteArray target;
    QByteArray partial; // target + ".part"
    FileDescriptor fd;
    qint64 written = 0;
    qint64 limit = 0;
    bool failed = false;
    bool tooLarge = false;
    int error = 0; // errno of a write or close the disk refused

    // Opens the partial file beside `localFile`, emptied; false (errno set) when it cannot.
    bool open(const QString& localFile, qint64 maxBytes);
    // A second transfer of the same page starts the body afresh.
    bool restart();
    // Closes the file; false, with the reason in `error`, when the last write failed there.
    bool close();
    // Renames the whole body over the target; false (errno set) when it cannot.
    bool keep() const;
    // Closes and removes the partial file.
    void discard();

    // CURLOPT_WRITEFUNCTION, with this body as its data.
    static size_t write(char* data, size_t size, size_t count, void* body);
};
