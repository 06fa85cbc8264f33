// SPDX-License-Identifier: MIT
// The "last visited" text: a local date and time as the user's locale writes it.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>

// The locale's long time format without its time zone: it keeps the seconds that the short
// format drops, without the zone name that nobody wants in a list of sites.
QString timeWithSecondsFormat(const QLocale& locale);

// Short date, a space, the time with seconds, in the given locale (the system's by default).
// The text is stored as it stands and never read back as a date.
QByteArray generalDateTimeText(const QDateTime& when, const QLocale& locale = QLocale::system());

// The same for the current moment.
QByteArray nowAsGeneralDateTimeText();
