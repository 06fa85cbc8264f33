// SPDX-License-Identifier: MIT
// The system's words for what happened: every state the program's parts report as a value is
// turned into text here, and nowhere else.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

enum class RunStatus;
enum class SaveOutcome;

struct FetchFailure;
struct SiteFinding;

inline const QString RunningStatusText = QStringLiteral(" Status:  Running...");
inline const QString DoneStatusText = QStringLiteral(" Status:  Done");
// Followed by why, in a few words: shown for as long as the list on disk lags behind the grid.
inline const QString NotSavedStatusText = QStringLiteral("Status: Not saved: ");
// While another program writes websites.ini, Korvane neither reads nor writes it.
inline const QString WritingStatusText =
    QStringLiteral(" Status:  Another program writes the list");

inline const QString ReadyStatusText = QStringLiteral(" Status : Ready...");
inline const QString ReadAgainStatusText =
    QStringLiteral(" Status:  List read again from websites.ini");
// Once a save succeeds after one that failed.
inline const QString SavedAgainStatusText = QStringLiteral(" Status:  List saved to websites.ini");
inline const QString NotAListStatusText =
    QStringLiteral(" Status:  websites.ini is not a list Korvane can read");
// Followed by the address.
inline const QString NoBrowserStatusText = QStringLiteral(" Status:  No web browser could open ");

QString runStatusText(RunStatus status);
struct FileFailure;

// Why a page could not be fetched, in the words of a user who knows web pages but not libcurl
// ("No such host: shop.example"): shown on a failed row's mark and written to the fetch log.
QString fetchFailureText(const FetchFailure& failure);

// The words on a row's mark for what its check found (a CheckNote): why it failed, or the
// stored length before and after ("Changed: 1,234 → 1,260 characters of text"), that the text
// changed although its length did not, and that the page changes at every look.
QString checkNoteText(const QVariant& note);

// The words on a site's address for what the checks found of it: when a change was last found
// and by how much ("Last change found 3 Dec 2026 14:02: 1,234 → 1,260 characters of text"), or
// that none was. `finding` is null for a site that no check got the page of.
QString siteFindingText(const SiteFinding* finding);

// Why websites.ini could not be read or saved, as a sentence ("The file is read-only.").
QString fileFailureText(const FileFailure& failure);
// The same in the few words that follow "Not saved: " ("the disk is full").
QString fileFailureShortText(const FileFailure& failure);
// What standard error says of a list that could not be saved at an end that asks nobody.
QString unsavedListText(const QString& listPath, const FileFailure& failure, const QString& kept);
