// SPDX-License-Identifier: MIT
// What Korvane remembers of sites that want https: the hosts that sent Strict-Transport-Security
// (HSTS, kept for libcurl, which applies it), and the http addresses whose site answered with a
// permanent redirect to the same host and path over https. Later runs fetch those at https
// straight away, without the detour. Both are kept in files of the user's cache folder; a file
// that is damaged, missing or cannot be written is ignored.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <curl/curl.h>

class HttpsMemory
{
public:
    // Reads the memory kept in `directory`; an empty directory remembers nothing.
    explicit HttpsMemory(QString directory);

    // Writes the memory back, where there is anywhere to keep it and it changed.
    void save();

    // The address to fetch for `address`: its https address when a permanent redirect to it was
    // seen, or when its host asked for https (HSTS, where libcurl would go too); `address`
    // otherwise. `remembered` tells whether it came from a redirect, which may be forgotten.
    QByteArray addressToFetch(const QByteArray& address, bool* remembered = nullptr) const;

    // A fetch of `from` was answered with a permanent redirect to `to`: kept when it is the
    // same host and path over https.
    void rememberRedirect(const QByteArray& from, const QByteArray& to);
    // The https address of `from` failed before any answer: fetched at http again from now on.
    void forgetRedirect(const QByteArray& from);

    // Hands libcurl the HSTS entries on `handle`, and takes what it learnt when the handle
    // goes; does nothing without HSTS support in libcurl.
    void useFor(CURL* handle);

    // For libcurl's HSTS callbacks.
    CURLSTScode readHsts(curl_hstsentry* entry);
    void writeHsts(const curl_hstsentry* entry, const curl_index* index);

private:
    struct Hsts
    {
        bool subdomains = false;
        QByteArray expire; // "YYYYMMDD HH:MM:SS", as libcurl writes it
    };
    struct Redirect
    {
        QByteArray to;
        QDateTime until;
    };

    bool underHsts(const QByteArray& host) const;

    QString m_directory;
    QHash<QByteArray, Hsts> m_hsts;
    QHash<QByteArray, Hsts> m_writing; // what libcurl hands back, while it does
    QHash<QByteArray, Redirect> m_redirects;
    QList<QByteArray> m_reading; // the hosts of the HSTS read under way
    bool m_changed = false;
};
