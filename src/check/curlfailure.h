// SPDX-License-Identifier: MIT
// Why a transfer failed, as libcurl tells it, turned into the fetch's own failure.
#pragma once

#include "fetchfailure.h"
#include "webaddress.h"

#include <curl/curl.h>

// Why the transfer on `handle`, which asked for `asked`, ended with `code`.
FetchFailure failureOf(CURLcode code, CURL* handle, const PageAddress& asked = {});
