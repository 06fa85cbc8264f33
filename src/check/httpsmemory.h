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
#include <QByteArrayView>
#include <QList>
#include <QString>

#include "memoryfile.h"
#include "memorylines.h"
#include "stricttransport.h"
#include "webaddress.h"

#include <curl/curl.h>

#include <functional>
#include <utility>

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

    // What one transfer was handed of the HSTS memory, and reads of its answers' headers: only
    // the entries for its own host and the domains above it go to libcurl, so that the transfer
    // costs the same whatever the memory holds. Kept until the transfer's handle is gone.
    struct Transfer
    {
        HttpsMemory* memory = nullptr;
        CURL* handle = nullptr;
        // What the transfer was given to ask for, and where a redirect that was not sent is
        // asked instead (see mayAsk).
        PageAddress asked;
        PageAddress upgraded;
        QList<QByteArray> toHand;
        StrictTransportHeaders headers;
    };

    // Turns HSTS on for the transfer of `url` on `handle`. Gives the option libcurl refused
    // with its code, or CURLE_OK: the transfer must not go ahead without them.
    std::pair<CURLoption, CURLcode> useFor(CURL* handle, const PageAddress& url,
                                           Transfer& transfer);

    // Before each request of the transfer: libcurl knows the entries of the first host only,
    // so a redirect to an http address of another host that asked for https is not sent;
    // false, with the https address in `upgraded`.
    bool mayAsk(Transfer& transfer);

    // A header line of one of the transfer's answers. The first Strict-Transport-Security of an
    // answer over https is what the host that sent it asks for, wherever in the transfer it
    // came: libcurl's own reading of it is not kept.
    void readHeader(Transfer& transfer, QByteArrayView line);

    // For libcurl's HSTS read callback.
    CURLSTScode readHsts(Transfer& transfer, curl_hstsentry* entry);

private:
    void load();
    void learnHsts(const QByteArray& host, const StrictTransport& sts);
    // The entry for `host` while it holds; an expired one is dropped.
    const HstsEntry* liveHsts(const QByteArray& host);
    bool underHsts(const QByteArray& host);
    // `address` over https when it is an http address whose host asked for it; null otherwise.
    PageAddress upgradedByHsts(const PageAddress& address);

    QString m_directory;
    Clock m_now;
    bool m_loaded = false;
    SharedEntries<HstsEntry> m_hsts;
    SharedEntries<RedirectEntry> m_redirects;
};
