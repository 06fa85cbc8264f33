// SPDX-License-Identifier: MIT
// The headers a page's download sends, as a browser sends them.
#include "browserrequest.h"

#include "korvaneversion.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

#include <sys/utsname.h>

QByteArray browserUserAgent()
{
    struct utsname system
    {};
    const QByteArray machine = ::uname(&system) == 0 ? QByteArray(system.machine) : "x86_64";
    return "Mozilla/5.0 (X11; Linux " + machine + ") Korvane/" KORVANE_VERSION;
}

QByteArray acceptLanguage(const QStringList& languages)
{
    // Language and region only: the forms servers know. Each language also stands without its
    // region after its last regional form, as browsers send it, for sites that know only that.
    static const QRegularExpression tag(
        QStringLiteral("^[A-Za-z]{2,3}(-([A-Za-z]{2}|[0-9]{3}))?$"));
    QByteArrayList tags;
    for (const QString& language : languages)
        if (tag.match(language).hasMatch() && !tags.contains(language.toLatin1()))
            tags << language.toLatin1();
    for (qsizetype i = tags.size() - 1; i >= 0; --i) {
        const QByteArray primary = tags[i].split('-').front();
        const bool laterOfSame =
            std::any_of(tags.begin() + i + 1, tags.end(),
                        [&](const QByteArray& t) { return t.startsWith(primary + '-'); });
        if (primary != tags[i] && !laterOfSame && !tags.contains(primary))
            tags.insert(i + 1, primary);
    }
    if (tags.isEmpty())
        return "en";
    QByteArray value = tags.front();
    for (qsizetype i = 1; i < tags.size(); ++i)
        value += ',' + tags[i] + ";q=0." + QByteArray::number(std::max<qsizetype>(10 - i, 1));
    return value;
}

CurlSlist browserHeaders(const QStringList& languages)
{
    // What Firefox sends for a page.
    CurlSlist headers(curl_slist_append(
        nullptr, "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"));
    const QByteArray language =
        "Accept-Language: " +
        acceptLanguage(languages.isEmpty() ? QLocale::system().uiLanguages() : languages);
    // Appending to a list that has a head keeps that head.
    if (!headers || !curl_slist_append(headers.get(), language.constData()))
        return {};
    return headers;
}
