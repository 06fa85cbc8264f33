// SPDX-License-Identifier: MIT
// Getting the next pages' hosts ready while the current page downloads: their names looked up
// a few at a time, and a connection opened to the next page's host. Pages are still fetched
// one after another; nothing here ever sends a request.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QSet>
#include <QString>

#include "handles.h"

#include <curl/curl.h>

#include <deque>
#include <list>
#include <memory>
#include <vector>

class LookAhead
{
public:
    // Works on the download service's multi handle, whose DNS cache the downloads use.
    // `lookUps`: how many names may be looked up at once; 0 prepares nothing.
    LookAhead(CURLM* multi, int lookUps, long connectTimeoutMs, CURLSH* share = nullptr);
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The addresses the next downloads will ask for, in their order. An empty list closes
    // every prepared connection and abandons every look-up.
    void setUpcoming(const QByteArrayList& addresses);

    // The turn of `address` has come, whether or not its download can begin: gets the pages
    // after it ready. Returns why the page cannot be fetched when that is known already (its
    // host name was looked up in this run and does not exist), or an empty text.
    QString startTurn(const QByteArray& address);

    // Offers the download on `handle` the connection prepared for its host, which it takes if
    // it is alive.
    void offerPrepared(CURL* handle);

    // True when the download offered last runs on a connection prepared for it.
    bool usedPreparedConnection() const { return m_usedPrepared; }

    // A transfer of the multi handle ended; false when it was not one of this object's.
    bool finished(CURL* handle, CURLcode result);

    // One look-up or connection under way, and the sockets it opened.
    struct Prepared
    {
        QByteArray host;
        bool connect = false;
        std::vector<curl_socket_t> sockets;
        curl_socket_t keep = CURL_SOCKET_BAD;
        // Last, so that it goes first: its cleanup closes sockets through the fields above.
        CurlEasy handle;
    };

    // For the download's socket callbacks. A prepared socket is reported as connected once,
    // to the one question about it: libcurl may close it and get its number again for a
    // socket of its own, which is not connected.
    curl_socket_t openForDownload(const curl_sockaddr& address);
    bool takeHandedOver(curl_socket_t socket);

private:
    // An address to come, with its host worked out once: a run may hold thousands.
    struct Upcoming
    {
        QByteArray address;
        QByteArray host; // "scheme://host:port"; empty when it is no web address
        bool numeric = false;
    };

    void prepare(const Upcoming& upcoming, bool connect);
    void drop(std::list<Prepared>::iterator prepared);
    void closeReady();

    CURLM* m_multi;
    // The look-ups go to the downloads' name cache.
    CURLSH* m_share;
    int m_lookUps;
    long m_connectTimeoutMs;
    std::deque<Upcoming> m_upcoming;
    // How many of the first upcoming addresses were already considered for a look-up.
    size_t m_considered = 0;
    std::list<Prepared> m_inFlight;
    // Hosts ("scheme://host:port") whose names were asked for; those fetched in this run, to
    // which libcurl may still hold a connection; and those whose names do not exist, with why.
    QByteArrayList m_lookedUp;
    QSet<QByteArray> m_fetched;
    QHash<QByteArray, QString> m_missing;
    // The connection opened for the next page's host, once it is up.
    QByteArray m_readyFor;
    FileDescriptor m_ready;
    curl_socket_t m_handedOver = CURL_SOCKET_BAD;
    bool m_usedPrepared = false;
};
