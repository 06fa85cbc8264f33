// SPDX-License-Identifier: MIT
// The https memory's part in one transfer: it hands libcurl only the HSTS entries of the
// transfer's own host and the domains above it, so that a transfer costs the same whatever the
// memory holds; it keeps a redirect from going to an http address whose host asked for https;
// and it learns what the answers' Strict-Transport-Security headers ask for.
#pragma once

#include "stricttransport.h"
#include "webaddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <curl/curl.h>

class HttpsMemory;

class TransferHsts
{
public:
    // For the transfer of `url` on `handle`, from `memory`, which outlives it. Kept until the
    // transfer's handle is gone.
    void begin(HttpsMemory& memory, CURL* handle, const PageAddress& url);

    // Where a redirect that was not sent is asked instead (see checkRequest); null when none.
    const PageAddress& upgraded() const { return m_upgraded; }

    // A header line of one of the transfer's answers. The first Strict-Transport-Security of an
    // answer over https is what the host that sent it asks for, wherever in the transfer it
    // came: libcurl's own reading of it is not kept.
    void readHeader(QByteArrayView line);

    // CURLOPT_HSTSREADFUNCTION, with this object as its data.
    static CURLSTScode readEntry(CURL* handle, curl_hstsentry* entry, void* transfer);
    // CURLOPT_PREREQFUNCTION, with this object as its data: libcurl knows the entries of the
    // first host only, so a redirect to an http address of another host that asked for https is
    // not sent, and its https address is kept in upgraded().
    static int checkRequest(void* transfer, char*, char*, int, int);

private:
    HttpsMemory* m_memory = nullptr;
    CURL* m_handle = nullptr;
    PageAddress m_asked;
    PageAddress m_upgraded;
    QList<QByteArray> m_toHand;
    StrictTransportHeaders m_headers;
};
