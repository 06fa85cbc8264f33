// SPDX-License-Identifier: MIT
// A page's address as a download sends it: parsed once, the same way for the download, the
// look-ahead, the https memory and the log, so that all of them always name a host alike.
#pragma once

#include "handles.h"

#include <QByteArray>

using WebAddress = CurlUrl;

// An address as a download sends it, parsed; null, with `error` set, when it is none. People
// type spaces where a URL needs "%20", as browsers accept them: they are escaped the way a
// browser sends them, where the parser would send "+" in a query, which a server reads as a
// plus.
WebAddress parseWebAddress(const QByteArray& address, CURLUcode* error = nullptr);

// One part of a parsed address (`flags` as curl_url_get takes them); empty when the address
// has no such part, or is null.
QByteArray addressPart(const WebAddress& url, CURLUPart which, unsigned flags = 0);

// The address as a log line shows it: a password in it (user:password@host) becomes "***",
// since logs are pasted into bug reports.
QByteArray forLog(const QByteArray& address);
