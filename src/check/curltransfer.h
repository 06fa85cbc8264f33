// SPDX-License-Identifier: MIT
// One transfer of a page's download, on an easy handle of its own: the options it is set up
// with, and its answers' headers, read as they come.
#pragma once

#include "handles.h"
#include "response.h"
#include "transferhsts.h"
#include "webaddress.h"

#include <QByteArray>

struct DownloadLimits;
class HttpsMemory;

// What every transfer of a download service is set up with, worked out once.
struct TransferSettings
{
    explicit TransferSettings(const DownloadLimits& limits);

    const DownloadLimits& limits;
    QByteArray userAgent;
    CurlSlist requestHeaders;
    CurlSlist connectTo;
    // TLS sessions and name look-ups, shared by every transfer; null when libcurl cannot.
    CURLSH* share = nullptr;
};

struct CurlTransfer
{
    PageAddress asked; // what the transfer asks for
    bool mayUsePrepared = false;
    WebAddress url; // its own copy of `asked`, which libcurl may change
    char errorText[CURL_ERROR_SIZE] = {};
    FirstAnswer firstAnswer;
    TransferHsts hsts;
    // Last, so that it goes first: it uses the address and the buffers above.
    CurlEasy handle;

    // Sets `handle` up to fetch `url` into `body`, with a name looked up afresh when
    // `freshLookUp`. False when this libcurl refused an option that protects the download: the
    // refused option is logged, and the download does not go ahead without it.
    bool applyOptions(const TransferSettings& settings, ResponseBody& body, bool freshLookUp,
                      HttpsMemory& https);

    // CURLOPT_HEADERFUNCTION, with the transfer as its data: the first answer, and what each
    // answer asks of the https memory.
    static size_t readHeader(char* data, size_t size, size_t count, void* transfer);
};
