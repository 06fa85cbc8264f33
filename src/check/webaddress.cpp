// SPDX-License-Identifier: MIT
// Parsing a page's address with libcurl's URL parser.
#include "webaddress.h"

WebAddress parseWebAddress(const QByteArray& address, CURLUcode* error)
{
    QByteArray escaped = address;
    escaped.replace(' ', "%20");
    WebAddress url(curl_url(), curl_url_cleanup);
    const CURLUcode code =
        url ? curl_url_set(url.get(), CURLUPART_URL, escaped.constData(), CURLU_URLENCODE)
            : CURLUE_OUT_OF_MEMORY;
    if (error)
        *error = code;
    if (code != CURLUE_OK)
        url.reset();
    return url;
}
