// SPDX-License-Identifier: MIT
// What Korvane knows of each site of a list beyond the mark of the last check: whether the page
// text changed although its length did not, when a check last found a change and by how much,
// and how many checks in a row found one. Kept by address, in the list's findings file
// (findingsfile.h): read at the first need, written whole at the end of a run and at the
// program's end. The marks never depend on it: a file that is missing, unreadable or damaged is
// as if nothing were known.
#pragma once

#include "findingsfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

class WatchList;

// How the page text of a check compares with that of the last check that got the page.
enum class TextChange
{
    NothingKnown,
    Same,
    Changed,
};

// What a check found of the page text beyond its length, for the words on the row's mark.
struct TextFinding
{
    TextChange change = TextChange::NothingKnown;
    // This check and those before it that got the page and found it changed, without a break.
    int changesInARow = 0;
};

class SiteFindings
{
public:
    using Clock = std::function<QDateTime()>;

    // The findings of the list at `listPath`, kept in a file of `directory`; with an empty
    // directory they last as long as the program. `now` is the system's clock unless given.
    SiteFindings(QString directory, QString listPath, Clock now = {});

    // What is known of the site at `address` (the address its page is fetched at), or null.
    const SiteFinding* find(const QByteArray& address);

    // A run begins: each site is judged against what was known before the run, also a site
    // that is listed twice.
    void beginRun() { m_beforeRun.clear(); }
    // A check of `address` got the page text `text`, and the row had `stored` as its stored
    // length: what that tells beyond the length, now also known for the next check.
    TextFinding look(const QByteArray& address, const QByteArray& text, double stored);

    // Forgets the sites that are no longer on `list` and writes what is known of the others,
    // unless the file holds exactly that already. A file deleted since Korvane read or wrote
    // it is the user's wish to forget: everything known is, and nothing is written.
    void save(const WatchList& list);

private:
    void load();

    QString m_directory;
    QString m_listPath;
    QString m_path;
    Clock m_now;
    bool m_loaded = false;
    // Something that is not Korvane's findings file as it writes one (a folder, a pipe, a huge
    // or unreadable file) is never written over.
    bool m_refused = false;
    // The bytes of the file as last read or written; none when there was no file.
    std::optional<QByteArray> m_onDisk;
    SiteFindingsByKey m_sites;
    QHash<QByteArray, std::optional<SiteFinding>> m_beforeRun;
};
