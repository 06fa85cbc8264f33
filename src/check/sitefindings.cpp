// SPDX-License-Identifier: MIT
// What checks found of each site, from one run to the next and one start to the next.
#include "sitefindings.h"

#include "watchlist.h"
#include "wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

SiteFindings::SiteFindings(QString directory, QString listPath, Clock now)
    : m_directory(std::move(directory)), m_listPath(std::move(listPath)), m_now(std::move(now))
{}

void SiteFindings::load()
{
    if (std::exchange(m_loaded, true) || m_directory.isEmpty())
        return;
    // Named once the list exists: a list that is a link is known by the file it leads to.
    m_path = findingsPath(m_directory, m_listPath);
    WholeRead why = WholeRead::Read;
    std::optional<QByteArray> bytes = readWholeFile(m_path, MaxFindingsFileBytes, &why);
    // A later Korvane's file is left to it, as is what is no file of ours at all.
    if (!bytes || isOtherFindingsVersion(*bytes)) {
        m_refused = bytes || why != WholeRead::Missing;
        return;
    }
    // A damaged file tells nothing, and the next save puts a good one in its place.
    m_sites = parseFindings(*bytes).value_or(SiteFindingsByKey());
    m_onDisk = std::move(bytes);
}

const SiteFinding* SiteFindings::find(const QByteArray& address)
{
    load();
    const auto known = m_sites.constFind(siteKey(address));
    return known == m_sites.cend() ? nullptr : &*known;
}

TextFinding SiteFindings::look(const QByteArray& address, const QByteArray& text, double stored)
{
    load();
    const QByteArray key = siteKey(address);
    auto before = m_beforeRun.find(key);
    if (before == m_beforeRun.end()) {
        const auto known = m_sites.constFind(key);
        before =
            m_beforeRun.insert(key, known == m_sites.cend() ? std::nullopt : std::optional(*known));
    }
    const std::optional<SiteFinding>& known = *before;
    SiteFinding site = known.value_or(SiteFinding());
    const QByteArray digest = sha256(text);
    const qint64 length = text.size();

    TextFinding found;
    bool changed = false;
    qint64 lengthBefore = 0;
    if (known) {
        found.change = digest == known->textDigest ? TextChange::Same : TextChange::Changed;
        changed = found.change == TextChange::Changed;
        lengthBefore = known->length;
    } else {
        // Nothing known of the text: the stored length is all there is to compare with, as the
        // mark does; a site that was never measured has none.
        changed = stored >= 1 && double(length) != stored;
        lengthBefore = qint64(std::min(stored, 1e15));
    }
    const QDateTime now = (m_now ? m_now() : QDateTime::currentDateTimeUtc()).toUTC();
    if (!site.trackedSince.isValid())
        site.trackedSince = now;
    if (changed) {
        site.lastChange = now;
        site.lengthBefore = lengthBefore;
        site.lengthAfter = length;
        site.changesInARow = std::min(site.changesInARow, std::numeric_limits<int>::max() - 1) + 1;
    } else {
        site.changesInARow = 0;
    }
    site.textDigest = digest;
    site.length = length;
    found.changesInARow = site.changesInARow;
    m_sites.insert(key, std::move(site));
    return found;
}

void SiteFindings::save(const WatchList& list)
{
    load();
    QSet<QByteArray> listed;
    listed.reserve(list.Rows());
    for (int row = 1; row < list.Rows(); ++row)
        listed.insert(siteKey(WatchList::siteAddress(list.cell(row, WatchList::UrlColumn))));
    m_sites.removeIf([&listed](const auto& site) { return !listed.contains(site.key()); });
    if (m_path.isEmpty() || m_refused)
        return;
    if (m_onDisk && !QFileInfo(m_path).isFile()) {
        m_sites.clear();
        m_beforeRun.clear();
        m_onDisk.reset();
        return;
    }
    const QByteArray bytes = findingsBytes(m_sites);
    if (m_onDisk == bytes)
        return;
    // As the user's state folder should be: the user's alone.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(folder) &&
        (!QDir().mkpath(QFileInfo(folder).absolutePath()) ||
         !QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)))
        return;
    // Whole or not at all, and never through a link that someone else planted.
    if (writeWholeFile(m_path, bytes) == WholeWrite::Written)
        m_onDisk = bytes;
}
