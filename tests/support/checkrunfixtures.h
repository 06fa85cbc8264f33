// SPDX-License-Identifier: MIT
// What the tests of check runs share: a fixed clock, pages of a known text length and a window
// stand-in that records what a run tells it.
#pragma once

#include "checkrun.h"
#include "statewords.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <string>
#include <utility>

// The "last visited" text of every check run made with fixedClock.
inline const QByteArray Now = "07/12/2026 20:15:00";

inline QByteArray fixedClock()
{
    return Now;
}

// A page whose text is exactly `length` bytes once reduced, and well over 20 bytes raw.
inline std::string pageOfTextLength(int length, char fill = 'a')
{
    return "<html><body><p>" + std::string(size_t(length), fill) + "</p></body></html>";
}

// What the window was told, in order, and where it was left. Given a file, it also keeps that
// file's bytes as they were when the pointer went back to normal.
class RecordingHost : public CheckRunHost
{
public:
    explicit RecordingHost(QString watchedFile = {}) : m_watchedFile(std::move(watchedFile)) {}

    QStringList calls; // "status:<text>", "busy", "normal", "repaint", "wait:<host> for <n> s"
    QString status;    // the last status text
    bool busy = false;
    QByteArray fileWhenIdle;

    // In the window's words.
    void showRunStatus(RunStatus runStatus) override { say(runStatusText(runStatus)); }
    void runSaved(SaveOutcome outcome, const FileFailure& failure) override
    {
        // As the window says it: Done, and after it why the save failed or that it waits.
        const bool waits = saveWaitsForTheFile(outcome);
        if (outcome == SaveOutcome::Saved || waits)
            say(DoneStatusText);
        if (outcome != SaveOutcome::Saved)
            say(waits ? WritingStatusText : NotSavedStatusText + fileFailureShortText(failure));
    }
    void setBusyPointer(bool isBusy) override
    {
        calls << (isBusy ? QStringLiteral("busy") : QStringLiteral("normal"));
        busy = isBusy;
        if (!isBusy && !m_watchedFile.isEmpty()) {
            QFile file(m_watchedFile);
            fileWhenIdle = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
    }
    void repaintNow() override { calls << QStringLiteral("repaint"); }
    void waitingForSite(const SiteWait& wait) override
    {
        calls << QStringLiteral("wait:%1 for %2 s").arg(wait.host).arg(wait.left.count());
    }

private:
    void say(const QString& text)
    {
        calls << "status:" + text;
        status = text;
    }

    QString m_watchedFile;
};
