// SPDX-License-Identifier: MIT
// Why a transfer failed, as libcurl or the system tells it, turned into the fetch's own failure.
#pragma once

#include "fetchfailure.h"
#include "webaddress.h"

#include <curl/curl.h>

// Why the transfer on `handle`, which asked for `asked`, ended with `code`.
FetchFailure failureOf(CURLcode code, CURL* handle, const PageAddress& asked = {});

// libcurl's own `words`, for a failure of its own that has no reason of the fetch's.
FetchFailure libraryFailure(const char* words);
// The disk refused the page, with the system's `error`.
FetchFailure notKept(int error);
// The page was larger than `limit` bytes.
FetchFailure tooLarge(qint64 limit);
