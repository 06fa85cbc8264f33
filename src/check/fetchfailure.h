// SPDX-License-Identifier: MIT
// Why a page could not be fetched, in the words of a user who knows web pages but not libcurl:
// shown on a failed row's mark and written to the fetch log.
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <curl/curl.h>

#include "askagain.h"
#include "webaddress.h"

// Why a page could not be fetched, for a user who asks: QT_LOGGING_RULES="korvane.fetch=true".
Q_DECLARE_LOGGING_CATEGORY(lcFetch)

// The disk refused the page (errno `error`).
QString notKeptText(int error);

// A size for the user: "5 MiB", "300 bytes".
QString sizeText(qint64 bytes);

// "404 Not Found": the status with the words a server usually sends with it.
QString statusText(long status);

// Why the transfer on `handle`, which asked for `asked`, ended with `code`.
QString reasonFor(CURLcode code, CURL* handle, const PageAddress& asked = {});

// "The site asked to wait until 14:32:05 (the server answered 503 Service Unavailable)".
QString askedToWaitText(const AskedToWait& refusal);
