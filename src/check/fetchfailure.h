// SPDX-License-Identifier: MIT
// Why a page could not be fetched, as a value: what failed and the facts that go with it (the
// host, the status, the system's error). The window turns it into words; the fetch log says
// the same words, which the window hands to it.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLoggingCategory>
#include <QMetaType>
#include <QString>

// Why a page could not be fetched, for a user who asks: QT_LOGGING_RULES="korvane.fetch=true".
Q_DECLARE_LOGGING_CATEGORY(lcFetch)

struct FetchFailure
{
    enum class Reason
    {
        None,
        NoSuchHost, // `host`
        NoSuchProxy,
        Refused,
        Unreachable,
        TimedOut,
        ServerAnswered, // `status`
        CertificateNotTrusted,
        NoTrustedCertificates,
        SecureConnectionFailed,
        TooManyRedirects,
        NotAWebAddress,
        NotAValidAddress,
        ClosedWithoutAnswer,
        ConnectionBroke,
        PartOnly,
        NotUnpacked,
        NotAWebServer,
        Library, // libcurl's own words, in `libraryWords`
        OutOfMemory,
        UnsafeLibrary, // this libcurl refused an option that protects the download
        GivenUp,       // Korvane is ending
        NotKept,       // the disk refused the page: `systemError`
        TooLarge,      // larger than `size` bytes
        AskedToWait,   // the site answered `status` and asked to wait until `until`
        NotDownloaded,
        NotReadBack, // the downloaded page could not be read back: `systemError`
        Empty,
        TooShort, // `size` bytes
        NoText,
    };
    Reason reason = Reason::None;
    QByteArray host;
    long status = 0;
    int systemError = 0;
    qint64 size = 0;
    QDateTime until;
    QByteArray libraryWords;

    static FetchFailure because(Reason why)
    {
        FetchFailure failure;
        failure.reason = why;
        return failure;
    }
    bool isNone() const { return reason == Reason::None; }
};
Q_DECLARE_METATYPE(FetchFailure)

// The words the fetch log says a failure in: the window's own, which it hands over as it
// starts. Until then the log names the reason by its number.
using FetchFailureWords = QString (*)(const FetchFailure& failure);
void setFetchFailureWords(FetchFailureWords words);
// One line of the fetch log: the address as logs show it, why, and libcurl's or the system's
// own words, when there are any, after it.
void logFetchFailure(const QByteArray& addressForLog, const FetchFailure& failure,
                     const char* detail = nullptr);
