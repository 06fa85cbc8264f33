// SPDX-License-Identifier: MIT
// The request headers of a page's download: those a desktop browser sends for a page, since
// many sites answer anything else with 403 or with another page than a person sees, or in
// another language; the agent still names Korvane and its version.
#pragma once

#include "handles.h"

#include <QByteArray>
#include <QStringList>

// "Mozilla/5.0 (X11; Linux x86_64) Korvane/1.31", with this machine's architecture.
QByteArray browserUserAgent();

// The Accept-Language value for `languages`, most wanted first, as QLocale::uiLanguages() gives
// them: "de-DE,de;q=0.9,fr;q=0.8". Only language and region are sent ("de-Latn-DE" and "C" are
// left out); "en" when nothing is left.
QByteArray acceptLanguage(const QStringList& languages);

// Accept and Accept-Language, for CURLOPT_HTTPHEADER: the pages in `languages`, or in the
// user's own (QLocale::system()) when it is empty. Null when memory ran out.
CurlSlist browserHeaders(const QStringList& languages);
