// SPDX-License-Identifier: MIT
// A transfer's options: those that protect the download, and those that only tune its pace.
#include "curltransfer.h"

#include "browserrequest.h"
#include "downloadservice.h"
#include "fetchfailure.h"
#include "lookahead.h"

#include <QFile>

TransferSettings::TransferSettings(const DownloadLimits& limits)
    : limits(limits), userAgent(browserUserAgent()),
      requestHeaders(browserHeaders(limits.languages))
{
    for (const QByteArray& entry : limits.connectTo) {
        // The list's head stays the same once there is one.
        curl_slist* list = curl_slist_append(connectTo.get(), entry.constData());
        if (list && list != connectTo.get())
            connectTo.reset(list);
    }
}

bool CurlTransfer::applyOptions(const TransferSettings& settings, ResponseBody& body,
                                bool freshLookUp, HttpsMemory& https)
{
    CURL* h = handle.get();
    const DownloadLimits& limits = settings.limits;
    // The options that protect (schemes, certificates, limits, the body's way to its file, a
    // site's wish for https) are what the download relies on: one that this libcurl refuses
    // fails the download rather than letting it go ahead without. Those that only tune its pace
    // are tried and let go.
    bool applied = true;
    const auto trySet = [&](CURLoption option, auto value) {
        const CURLcode code = curl_easy_setopt(h, option, value);
        if (code != CURLE_OK) {
            const curl_easyoption* known = curl_easy_option_by_id(option);
            qCInfo(lcFetch, "%s: libcurl refused option %s: %s", asked.forLog().constData(),
                   known ? known->name : "?", curl_easy_strerror(code));
        }
        return code == CURLE_OK;
    };
    const auto set = [&](CURLoption option, auto value) {
        if (applied)
            applied = trySet(option, value);
    };
    set(CURLOPT_ERRORBUFFER, static_cast<char*>(errorText));
    set(CURLOPT_CURLU, url.get());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, limits.maxRedirects);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeout.count()));
    set(CURLOPT_TIMEOUT_MS, long(limits.transferTimeout.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, long(limits.stallTime.count()));
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBodyBytes));
    set(CURLOPT_USERAGENT, settings.userAgent.constData());
    if (settings.requestHeaders)
        set(CURLOPT_HTTPHEADER, settings.requestHeaders.get());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, ResponseBody::write);
    set(CURLOPT_WRITEDATA, &body);
    set(CURLOPT_HEADERFUNCTION, readHeader);
    set(CURLOPT_HEADERDATA, this);
    if (!limits.trustedCertificates.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(limits.trustedCertificates).constData());
    if (settings.connectTo)
        set(CURLOPT_CONNECT_TO, settings.connectTo.get());
    // A name whose look-up failed ahead is asked again, whatever the cache kept of it; one
    // looked up a while ago, too.
    set(CURLOPT_DNS_CACHE_TIMEOUT, freshLookUp ? 0L : NameFreshSeconds);
    if (applied)
        hsts.begin(https, h, asked);
    set(CURLOPT_HSTS_CTRL, long(CURLHSTS_ENABLE));
    set(CURLOPT_HSTSREADFUNCTION, TransferHsts::readEntry);
    set(CURLOPT_HSTSREADDATA, &hsts);
    set(CURLOPT_PREREQFUNCTION, TransferHsts::checkRequest);
    set(CURLOPT_PREREQDATA, &hsts);
    if (!applied)
        return false;
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    trySet(CURLOPT_BUFFERSIZE, 256L * 1024);
    // A download given up while its host name is still being looked up does not wait for the
    // look-up to end: the program is ending, and the look-up may hang for many seconds.
    trySet(CURLOPT_QUICK_EXIT, 1L);
    if (settings.share)
        trySet(CURLOPT_SHARE, settings.share);
    return true;
}

size_t CurlTransfer::readHeader(char* data, size_t size, size_t count, void* transfer)
{
    auto* t = static_cast<CurlTransfer*>(transfer);
    t->hsts.readHeader(QByteArrayView(data, qsizetype(size * count)));
    return FirstAnswer::read(data, size, count, &t->firstAnswer);
}
