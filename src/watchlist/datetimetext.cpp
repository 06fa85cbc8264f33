// SPDX-License-Identifier: MIT
// Builds the "last visited" text from the locale's own formats.
#include "datetimetext.h"

QString timeWithSecondsFormat(const QLocale& locale)
{
    // The zone goes with whatever the locale puts around it: brackets ("H:mm:ss (t)"), a space
    // or a comma. Quoted text is the locale's own words ("'Klock' H.mm:ss (t)") and stays.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString cleaned;
    cleaned.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            cleaned += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
        // An opening bracket before the zone and its closing one after it go with it.
        while (!cleaned.isEmpty() && cleaned.back().isSpace())
            cleaned.chop(1);
        if (!cleaned.isEmpty() && QStringView(u"([\uff08").contains(cleaned.back()) &&
            i + 1 < format.size() && QStringView(u")]\uff09").contains(format[i + 1])) {
            cleaned.chop(1);
            ++i;
        }
    }
    cleaned = cleaned.simplified();
    while (!cleaned.isEmpty() && (cleaned.back() == u',' || cleaned.back().isSpace()))
        cleaned.chop(1);
    while (!cleaned.isEmpty() && (cleaned.front() == u',' || cleaned.front().isSpace()))
        cleaned.remove(0, 1);
    if (!cleaned.contains(u's'))
        cleaned = QStringLiteral("HH:mm:ss");
    return cleaned;
}

QByteArray generalDateTimeText(const QDateTime& when, const QLocale& locale)
{
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QString time = locale.toString(when.time(), timeWithSecondsFormat(locale));
    return (date + u' ' + time).toUtf8();
}

QByteArray nowAsGeneralDateTimeText()
{
    return generalDateTimeText(QDateTime::currentDateTime());
}
