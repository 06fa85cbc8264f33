// SPDX-License-Identifier: MIT
// A page's address as a download sends it: parsed once, the same way for the download and for
// the look-ahead, so that both always name a host alike.
#pragma once

#include <QByteArray>

#include <curl/curl.h>

#include <memory>

using WebAddress = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// An address as a download sends it, parsed; null, with `error` set, when it is none. People
// type spaces where a URL needs "%20", as browsers accept them: they are escaped the way a
// browser sends them, where the parser would send "+" in a query, which a server reads as a
// plus. The look-ahead parses the same way, so that both name a host alike.
WebAddress parseWebAddress(const QByteArray& address, CURLUcode* error = nullptr);
