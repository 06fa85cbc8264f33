// SPDX-License-Identifier: MIT
// The file that keeps what checks found of a list's sites from one start of Korvane to the
// next, in the user's state folder: one file per list, one line per site, no page text and no
// address in it, only digests:
//   Korvane findings 1
//   site text length since lastChange|- before after inARow
// `site` is the SHA-256 of the site's address and `text` that of its page text at the last
// check that got one, both in hex; times are seconds since the epoch; lengths count characters.
// A file that breaks this anywhere holds nothing Korvane can trust: it is read as empty.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// What the checks found of one site (one address).
struct SiteFinding
{
    QByteArray textDigest;  // SHA-256 of the page text at the last check that got the page
    qint64 length = 0;      // that text's length
    QDateTime trackedSince; // the first check that got the page
    QDateTime lastChange;   // when a check last found the text changed; invalid for never
    qint64 lengthBefore = 0;
    qint64 lengthAfter = 0;
    int changesInARow = 0; // the checks that got the page and found it changed, up to the last

    friend bool operator==(const SiteFinding&, const SiteFinding&) = default;
};

// Keyed by siteKey(address).
using SiteFindingsByKey = QHash<QByteArray, SiteFinding>;

// The SHA-256 of `bytes`.
QByteArray sha256(QByteArrayView bytes);
// The key a site's findings are kept under: the SHA-256 of its address.
QByteArray siteKey(const QByteArray& address);

// A list of the most sites a list holds, with room to spare: a file over it is none of Korvane's.
inline constexpr qint64 MaxFindingsFileBytes = 16 * 1024 * 1024;

// The findings file in `directory` of the list at `listPath`, named after the list's path as
// the system resolves it, so that two lists never share one and two links to a list do.
QString findingsPath(const QString& directory, const QString& listPath);

QByteArray findingsBytes(const SiteFindingsByKey& findings);
// Nothing for bytes that are not a findings file as Korvane writes it.
std::optional<SiteFindingsByKey> parseFindings(const QByteArray& bytes);
// True for a findings file of another version of Korvane, which this one can neither read nor
// write over without losing what the other one keeps.
bool isOtherFindingsVersion(const QByteArray& bytes);
