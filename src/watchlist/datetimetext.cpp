// SPDX-License-Identifier: MIT
// Builds the "last visited" text from the locale's own formats.
#include "datetimetext.h"

namespace {

// The locale's long time format with its time-zone part taken out: it keeps the seconds that
// the short format drops, without the zone name that nobody wants in a list of sites.
QString timeWithSecondsFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString cleaned;
    cleaned.reserve(format.size());
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        cleaned += c;
    }
    cleaned = cleaned.simplified();
    if (!cleaned.contains(u's'))
        cleaned = QStringLiteral("HH:mm:ss");
    return cleaned;
}

} // namespace

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
