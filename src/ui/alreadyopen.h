// SPDX-License-Identifier: MIT
// What a start says when another Korvane has its list open and cannot be asked to come forward.
#pragma once

#include <QString>
#include <QStringList>

inline const QString AlreadyOpenText =
    QStringLiteral("Korvane is already open with this watch list.");

// Says so on standard error, for a start from a terminal, and in a message box.
void tellListAlreadyOpen(const QString& listPath);

// A start that found no folder to keep the list in says why for each folder it tried, on
// standard error and in a message box.
void tellNoPlaceForTheList(const QStringList& refusals);
