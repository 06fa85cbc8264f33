// SPDX-License-Identifier: MIT
// What Korvane remembers of sites that want https: the hosts that sent Strict-Transport-Security
// (HSTS), and the http addresses whose site answered with a permanent redirect to the same
// address over https. Later runs fetch those at https straight away, without the detour. Both
// are kept in files of the user's cache folder, read at the first fetch that needs them; a file
// that is damaged, missing or cannot be written is ignored. Every entry counts only until it
// expires, checked when it is used, and a page costs the same whatever the memory holds.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

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

    // Writes the memory back, where there is anywhere to keep it and it changed.
    void save();

    // The address to fetch for `address`: its https address when a permanent redirect to it was
    // seen, or when its host asked for https (HSTS, where libcurl would go too); `address`
    // otherwise. `remembered` tells whether it came from a redirect, which may be forgotten.
    PageAddress addressToFetch(const PageAddress& address, bool* remembered = nullptr);

    // A fetch of `from` was answered with a permanent redirect to `to`: kept when it is the
    // same host, port, path and query over https, and the address holds no user name or
    // password (the file is no place for them).
    void rememberRedirect(const PageAddress& from, const PageAddress& to);
    // The https address of `from` did not give the page: fetched at http again from now on.
    void forgetRedirect(const QByteArray& from);

    struct Hsts
    {
        bool subdomains = false;
        qint64 until = 0;  // seconds since the epoch
        QByteArray expire; // "YYYYMMDD HH:MM:SS" in UTC, or "unlimited", as libcurl has it
    };
    // What one transfer was handed of the HSTS memory and handed back: only the entries for
    // its own host and the domains above it, so that the transfer costs the same whatever the
    // memory holds. Kept until the transfer's handle is gone, which is when libcurl hands back.
    struct Transfer
    {
        HttpsMemory* memory = nullptr;
        CURL* handle = nullptr;
        // What the transfer was given to ask for, and where a redirect that was not sent is
        // asked instead (see mayAsk).
        PageAddress asked;
        PageAddress upgraded;
        QList<QByteArray> toHand;
        QList<QByteArray> handed;
        QList<QByteArray> handedBack;
    };

    // Turns HSTS on for the transfer of `url` on `handle`. Gives the option libcurl refused
    // with its code, or CURLE_OK: the transfer must not go ahead without them.
    std::pair<CURLoption, CURLcode> useFor(CURL* handle, const PageAddress& url,
                                           Transfer& transfer);
    // The transfer's handle is gone: an entry it was handed and did not hand back was dropped
    // by libcurl (the site sent max-age=0), and is dropped here too.
    void takeBack(Transfer& transfer);

    // Before each request of the transfer: libcurl knows the entries of the first host only,
    // so a redirect to an http address of another host that asked for https is not sent;
    // false, with the https address in `upgraded`.
    bool mayAsk(Transfer& transfer);

    // For libcurl's HSTS callbacks.
    CURLSTScode readHsts(Transfer& transfer, curl_hstsentry* entry);
    void writeHsts(Transfer& transfer, const curl_hstsentry* entry);

private:
    struct Redirect
    {
        QByteArray to;
        qint64 until = 0;
        // `to` parsed, once for all the pages fetched there: at its first use after a load.
        PageAddress parsed;
    };

    void load();
    // The entry for `host` while it holds; an expired one is forgotten.
    const Hsts* liveHsts(const QByteArray& host);
    bool underHsts(const QByteArray& host);
    // `address` over https when it is an http address whose host asked for it; null otherwise.
    PageAddress upgradedByHsts(const PageAddress& address);

    QString m_directory;
    Clock m_now;
    bool m_loaded = false;
    QHash<QByteArray, Hsts> m_hsts;
    QHash<QByteArray, Redirect> m_redirects;
    bool m_changed = false;
};
