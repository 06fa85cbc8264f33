// SPDX-License-Identifier: MIT
// What Korvane remembers of sites that want https: the hosts that sent Strict-Transport-Security
// (HSTS), and the http addresses whose site answered with a permanent redirect to the same
// address over https. Later runs fetch those at https straight away, without the detour. Both
// are kept in files of the user's cache folder, which every Korvane that is open shares: read
// at the first fetch, read again whenever someone else changed them (so that deleting them
// forgets, also while Korvane is open), and written, merged, after a run that changed something.
// Every entry counts only until it expires, checked when it is used, and a page costs the same
// whatever the memory holds.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "memoryfile.h"
#include "memorylines.h"
#include "webaddress.h"

#include <functional>

struct StrictTransport;

class HttpsMemory
{
public:
    // Seconds since the epoch.
    using Clock = std::function<qint64()>;

    // The memory kept in `directory`; an empty directory remembers nothing. `now` is the
    // system's clock unless given.
    explicit HttpsMemory(QString directory, Clock now = {});

    // Takes in what the files hold now, when another Korvane or the user changed them since
    // they were read or written: an entry gone from a file is forgotten here too, unless it
    // changed here since. Costs a look at the files' dates when they did not change.
    void refresh();
    // Writes what changed here, merged with what the files hold by then, under a short lock;
    // when another Korvane holds it, the changes wait for the next save. Nothing when nothing
    // changed, and never over a file that is not Korvane's (see MemoryFileRead).
    void save();

    // The address to fetch for `address`: its https address when a permanent redirect to it was
    // seen, or when its host asked for https (HSTS, where libcurl would go too); `address`
    // otherwise. `remembered` tells whether it came from a redirect, which may be forgotten.
    PageAddress addressToFetch(const PageAddress& address, bool* remembered = nullptr);

    // A fetch of `from` was answered with a permanent redirect to `to`: kept for 30 days when
    // it is the same host, port, path and query over https, and the address holds no user name
    // or password (the file is no place for them).
    void rememberRedirect(const PageAddress& from, const PageAddress& to);
    // The https address of `from` did not give the page, or the site gave it at http without
    // a redirect: fetched as listed from now on.
    void forgetRedirect(const QByteArray& from);

    // A host that sent Strict-Transport-Security over https asks for `sts` (see TransferHsts).
    void learnHsts(const QByteArray& host, const StrictTransport& sts);
    // Whether any host asked for https: a transfer need not look otherwise.
    bool remembersHsts() const { return !m_hsts.entries().isEmpty(); }
    // The host of `url` and the domains above it whose wish for https holds, whose
    // includeSubDomains libcurl applies: a few look-ups, whatever the memory holds.
    QList<QByteArray> hstsDomainsOf(const PageAddress& url);
    // What `host` asked for, as last learnt.
    const HstsEntry* hstsEntry(const QByteArray& host) { return m_hsts.find(host); }
    // `address` over https when it is an http address whose host asked for it; null otherwise.
    PageAddress upgradedByHsts(const PageAddress& address);

private:
    void load();
    // The entry for `host` while it holds; an expired one is dropped.
    const HstsEntry* liveHsts(const QByteArray& host);
    bool underHsts(const QByteArray& host);

    QString m_directory;
    Clock m_now;
    bool m_loaded = false;
    SharedEntries<HstsEntry> m_hsts;
    SharedEntries<RedirectEntry> m_redirects;
};
