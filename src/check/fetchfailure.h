// SPDX-License-Identifier: MIT
// Why a page could not be fetched, in the words of a user who knows web pages but not libcurl:
// shown on a failed row's mark and written to the fetch log.
#pragma once

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

// The address as a log line shows it: a password in it (user:password@host) becomes "***".
QByteArray forLog(const QByteArray& address);

// The disk refused the page (errno `error`).
QString notKeptText(int error);

// A size for the user: "5 MiB", "300 bytes".
QString sizeText(qint64 bytes);

// "404 Not Found": the status with the words a server usually sends with it.
QString statusText(long status);

// Why the transfer on `handle` ended with `code`.
QString reasonFor(CURLcode code, CURL* handle);
