// SPDX-License-Identifier: MIT
// The fetch log.
#include "fetchfailure.h"

Q_LOGGING_CATEGORY(lcFetch, "korvane.fetch", QtWarningMsg)

namespace {

FetchFailureWords g_words = nullptr;

} // namespace

void setFetchFailureWords(FetchFailureWords words)
{
    g_words = words;
}

void logFetchFailure(const QByteArray& addressForLog, const FetchFailure& failure,
                     const char* detail)
{
    if (!lcFetch().isInfoEnabled())
        return;
    const QString why =
        g_words ? g_words(failure) : QStringLiteral("failure %1").arg(int(failure.reason));
    if (detail && *detail)
        qCInfo(lcFetch, "%s: %s (%s)", addressForLog.constData(), qUtf8Printable(why), detail);
    else
        qCInfo(lcFetch, "%s: %s", addressForLog.constData(), qUtf8Printable(why));
}
