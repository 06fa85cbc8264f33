// SPDX-License-Identifier: MIT
// The lines of the https memory's two files, one entry a line, fields split by blanks:
//   hsts.txt             host 0|1 YYYYMMDD HH:MM:SS learnt   (includeSubDomains, expiry in UTC,
//                                                             seconds since the epoch)
//   https-redirects.txt  http-address https-address until     (seconds since the epoch)
// A line that is not one of these, or whose entry could not have come from Korvane (an IP
// address, a redirect kept longer than Korvane keeps one), is left out; of more entries than a
// file keeps, the newest are kept. Files are written oldest first, and read from their end: the
// lines before the last 20,000 are not read.
#pragma once

#include "webaddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

// The last second the files' dates hold (9999-12-31 23:59:59 UTC): a later expiry is this one.
inline constexpr qint64 LatestExpiry = 253'402'300'799;
// As browsers keep a permanent redirect: for a while, not for ever.
inline constexpr qint64 RedirectSeconds = 30 * 24 * 3600;
// Entries a file keeps at most, the newest.
inline constexpr qsizetype MaxEntriesPerFile = 10'000;

struct HstsEntry
{
    bool subdomains = false;
    qint64 until = 0;  // seconds since the epoch
    qint64 learnt = 0; // 0 when the line does not say
};

struct RedirectEntry
{
    QByteArray to;
    qint64 until = 0;
    qint64 learnt = 0; // `until` less the time a redirect is kept
    // `to` parsed and found to be the same site over https, once for all the pages fetched
    // there: at its first use.
    PageAddress parsed;
};

using HstsEntries = QHash<QByteArray, HstsEntry>;
using RedirectEntries = QHash<QByteArray, RedirectEntry>;

// The entries of a file's bytes that still hold at `now`, keyed by host in comparableHost()'s
// form, or by the http address as listed.
HstsEntries parseHstsLines(QByteArrayView bytes, qint64 now);
RedirectEntries parseRedirectLines(QByteArrayView bytes, qint64 now);

// The file's bytes for the entries that still hold at `now`: the newest that fit its limits.
QByteArray hstsLines(const HstsEntries& entries, qint64 now);
QByteArray redirectLines(const RedirectEntries& entries, qint64 now);

// An expiry as libcurl reads it ("20260101 12:00:00", UTC).
QByteArray expiryText(qint64 until);
