// SPDX-License-Identifier: MIT
// The words for what a check found and why a page failed.
#include "statewords.h"

#include "checkrun.h"
#include "fetchfailure.h"
#include "findingsfile.h"
#include "watchlistfile.h"

#include <QDir>

#include <QLocale>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace {

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The words a server's status line usually carries with the number. HTTP/2 sends none, so the
// program has its own; they are not read from the server, which may send anything.
QString statusText(long status)
{
    static const std::map<long, const char*> phrases = {
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {410, "Gone"},
        {429, "Too Many Requests"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    const auto phrase = phrases.find(status);
    if (phrase == phrases.end())
        return QString::number(status);
    return QStringLiteral("%1 %2").arg(status).arg(QLatin1StringView(phrase->second));
}

QString askedToWaitText(const FetchFailure& refusal)
{
    // A wait of minutes names the time; one of days names the day too.
    const QLocale locale;
    const QDateTime until = refusal.until.toLocalTime();
    const QString when = until.date() == QDate::currentDate()
                             ? locale.toString(until.time(), QLocale::LongFormat)
                             : locale.toString(until, QLocale::LongFormat);
    return QStringLiteral("The site asked to wait until %1 (the server answered %2)")
        .arg(when, statusText(refusal.status));
}

// From this many changes in a row on, a page is said to change at every look.
constexpr int EveryLook = 3;

QString lengthsText(double before, double after)
{
    const QLocale locale;
    return QStringLiteral("%1 \u2192 %2 characters of text")
        .arg(locale.toString(before, 'f', 0), locale.toString(after, 'f', 0));
}

// A Yes or No says only whether the length moved: the note says from what to what.
QString lengthText(double stored, double length, TextChange text)
{
    const QLocale locale;
    if (length == stored && text == TextChange::Changed)
        return QStringLiteral("Same length (%1 characters of text), but the text changed since "
                              "the last check")
            .arg(locale.toString(length, 'f', 0));
    if (length == stored)
        return QStringLiteral("Unchanged: %1 characters of text")
            .arg(locale.toString(length, 'f', 0));
    return QStringLiteral("Changed: ") + lengthsText(stored, length);
}

QString timeText(const QDateTime& time)
{
    return QLocale().toString(time.toLocalTime(), QLocale::ShortFormat);
}

} // namespace

QString fetchFailureText(const FetchFailure& failure)
{
    using R = FetchFailure::Reason;
    switch (failure.reason) {
    case R::None:
        return {};
    case R::NoSuchHost:
        return QStringLiteral("No such host: %1").arg(QString::fromUtf8(failure.host));
    case R::NoSuchProxy:
        return QStringLiteral("No such proxy host");
    case R::Refused:
        return QStringLiteral("The server refused the connection");
    case R::Unreachable:
        return QStringLiteral("The server could not be reached");
    case R::TimedOut:
        return QStringLiteral("No answer in time");
    case R::ServerAnswered:
        return QStringLiteral("The server answered %1").arg(statusText(failure.status));
    case R::CertificateNotTrusted:
        return QStringLiteral("The certificate is not trusted");
    case R::NoTrustedCertificates:
        return QStringLiteral("This computer has no trusted certificates to check the site's");
    case R::SecureConnectionFailed:
        return QStringLiteral("The secure connection could not be set up");
    case R::TooManyRedirects:
        return QStringLiteral("Too many redirects");
    case R::NotAWebAddress:
        return QStringLiteral("Not a web address: only http and https pages are fetched");
    case R::NotAValidAddress:
        return QStringLiteral("Not a valid address");
    case R::ClosedWithoutAnswer:
        return QStringLiteral("The server closed the connection without an answer");
    case R::ConnectionBroke:
        return QStringLiteral("The connection broke off");
    case R::PartOnly:
        return QStringLiteral("Only part of the page came");
    case R::NotUnpacked:
        return QStringLiteral("The page could not be unpacked");
    case R::NotAWebServer:
        return QStringLiteral("The server did not answer as a web server");
    case R::Library:
        return QString::fromUtf8(failure.libraryWords);
    case R::OutOfMemory:
        return QStringLiteral("Out of memory");
    case R::UnsafeLibrary:
        return QStringLiteral("This computer's libcurl cannot fetch pages safely");
    case R::GivenUp:
        return QStringLiteral("Given up: Korvane is ending");
    case R::NotKept:
        return QStringLiteral("The page could not be kept on this computer: %1")
            .arg(systemText(failure.systemError));
    case R::TooLarge:
        return QStringLiteral("The page is larger than %1").arg(sizeText(failure.size));
    case R::AskedToWait:
        return askedToWaitText(failure);
    case R::NotDownloaded:
        return QStringLiteral("The page could not be downloaded");
    case R::NotReadBack:
        return QStringLiteral("The downloaded page could not be read back: %1")
            .arg(systemText(failure.systemError));
    case R::Empty:
        return QStringLiteral("The page is empty");
    case R::TooShort:
        return QStringLiteral("The page is too short: %1 bytes").arg(failure.size);
    case R::NoText:
        return QStringLiteral("The page has no text");
    }
    return {};
}

QString checkNoteText(const QVariant& note)
{
    if (!note.canConvert<CheckNote>())
        return {};
    const CheckNote found = note.value<CheckNote>();
    if (!found.failure.isNone())
        return fetchFailureText(found.failure);
    const QString words = lengthText(found.stored, found.length, found.text.change);
    if (found.text.changesInARow < EveryLook)
        return words;
    return words + QStringLiteral("\nThe page changed at each of its last %1 checks: it may show "
                                  "the time or other content that changes at every look")
                       .arg(found.text.changesInARow);
}

QString siteFindingText(const SiteFinding* finding)
{
    if (!finding)
        return QStringLiteral("Not checked since Korvane began keeping track of changes");
    if (!finding->lastChange.isValid())
        return QStringLiteral("No change found since Korvane began keeping track, %1")
            .arg(timeText(finding->trackedSince));
    return QStringLiteral("Last change found %1: %2")
        .arg(timeText(finding->lastChange),
             lengthsText(double(finding->lengthBefore), double(finding->lengthAfter)));
}

namespace {

// Why websites.ini could not be read or saved: as a sentence, and in the few words that follow
// "Not saved: ". Null for the system's own errors.
std::pair<const char*, const char*> fileFailureWords(FileFailure::Kind kind)
{
    using K = FileFailure::Kind;
    switch (kind) {
    case K::BadRowCount:
        return {"The list's row count is out of range.", "the list is damaged"};
    case K::KeptUnreadable:
        return {"It could not be read when Korvane started, so Korvane does not overwrite it.",
                "the file could not be read when Korvane started"};
    case K::ReadOnly:
        return {"The file is read-only.", "the file is read-only"};
    case K::ChangedOutside:
        return {"Another program changed it.", "another program changed the file"};
    case K::Unreadable:
        return {"It cannot be read, so Korvane does not overwrite it.", "the file cannot be read"};
    case K::Unsettled:
        return {"Another program is writing it: Korvane waits until it has finished.",
                "another program is writing the file"};
    case K::Settling:
        return {"Korvane has not yet seen it long enough to be sure that no other program is "
                "writing it.",
                "the file may still be being written"};
    case K::NotAList:
        return {"It is not a list Korvane can read (it holds binary data), so Korvane does not "
                "overwrite it.",
                "websites.ini is not a list Korvane can read"};
    case K::NotAFile:
        return {"It is not a file Korvane can write: a folder, a pipe, a link to a folder that is "
                "gone, or a link that another user made.",
                "websites.ini is not a file Korvane can write"};
    case K::Folder:
        return {"It is a folder, not a file.", "the file cannot be read"};
    case K::NotARegularFile:
        return {"It is not a regular file.", "the file cannot be read"};
    case K::None:
        return {"", ""};
    case K::System:
        break;
    }
    return {nullptr, nullptr};
}

} // namespace

QString fileFailureText(const FileFailure& failure)
{
    const char* sentence = fileFailureWords(failure.kind).first;
    return sentence ? QString::fromUtf8(sentence) : failure.system.words;
}

QString fileFailureShortText(const FileFailure& failure)
{
    if (const char* few = fileFailureWords(failure.kind).second)
        return QString::fromUtf8(few);
    switch (failure.system.number) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("Korvane may not write there");
    case EIO:
        return QStringLiteral("the disk failed");
    default:
        break;
    }
    // The system's own words, as the end of a sentence.
    QString words = failure.system.words;
    if (!words.isEmpty())
        words[0] = words[0].toLower();
    while (words.endsWith(u'.'))
        words.chop(1);
    return words;
}

QString unsavedListText(const QString& listPath, const FileFailure& failure, const QString& kept)
{
    const QString list = QDir::toNativeSeparators(listPath);
    if (kept.isEmpty())
        return QStringLiteral("Korvane could not save the watch list %1 (%2), nor keep it "
                              "anywhere else: the changes since it was last saved are lost.")
            .arg(list, fileFailureShortText(failure));
    return QStringLiteral("Korvane could not save the watch list %1 (%2). The list is kept in %3.")
        .arg(list, fileFailureShortText(failure), QDir::toNativeSeparators(kept));
}

QString runStatusText(RunStatus status)
{
    return status == RunStatus::Running ? RunningStatusText : DoneStatusText;
}
