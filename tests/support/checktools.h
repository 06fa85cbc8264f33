// SPDX-License-Identifier: MIT
// Check tools for windows under test: the real libcurl download service, with limits short
// enough that no test waits out the production time-outs.
#pragma once

#include "checkrun.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"

#include <QString>

inline CheckTools curlCheckTools(const QString& dataDirectory, CheckRun::Clock now = {})
{
    DownloadLimits limits;
    limits.connectTimeout = std::chrono::seconds(2);
    limits.transferTimeout = std::chrono::seconds(10);
    limits.stallTime = std::chrono::seconds(2);
    CheckTools tools;
    tools.downloads = std::make_unique<CurlDownloadService>(limits);
    tools.fetcher =
        std::make_unique<PageFetcher>(*tools.downloads, temporaryDownloadPath(dataDirectory));
    tools.now = std::move(now);
    return tools;
}
