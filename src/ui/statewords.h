// SPDX-License-Identifier: MIT
// The system's words for what happened: every state the program's parts report as a value is
// turned into text here, and nowhere else.
#pragma once

#include <QString>
#include <QVariant>

struct FetchFailure;

// Why a page could not be fetched, in the words of a user who knows web pages but not libcurl
// ("No such host: shop.example"): shown on a failed row's mark and written to the fetch log.
QString fetchFailureText(const FetchFailure& failure);

// The words on a row's mark for what its check found (a CheckNote): why it failed, or the
// stored length before and after ("Changed: 1,234 → 1,260 characters of text").
QString checkNoteText(const QVariant& note);
