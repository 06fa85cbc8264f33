// SPDX-License-Identifier: MIT
// The program's way to its end, whoever asks for it: the window's close, Exit, an end signal or
// a session manager. It keeps the list (saved, or kept elsewhere when nobody can be asked) and
// lets a check run under way stop first.
#pragma once

#include "listatstartandend.h"
#include "watchlistfile.h"

#include <QObject>
#include <QString>

class RunSession;
class WatchList;

class EndOfLife final : public QObject
{
    Q_OBJECT
public:
    // Who asked for the end.
    enum class Cause
    {
        Window, // the close button, the window manager, or anything else that closes the window
        Exit,   // Options -> Exit Korvane
        Signal, // a logout, kill or Ctrl+C
    };
    // What the user chose when the list could not be saved at the close.
    enum class Answer
    {
        TryAgain,
        CloseWithoutSaving,
        KeepOpen,
    };

    // What the end needs of the program around it.
    class Host
    {
    public:
        virtual ~Host() = default;
        // `kept`: where the list was kept meanwhile, when the file was left alone; else empty.
        virtual Answer askAfterFailedSave(const QString& kept) = 0;
        virtual void closeDialogs() = 0;
        // Exit closes the window once it has saved; that close comes back as Cause::Window.
        virtual void closeWindow() = 0;
        // The list is saved, or the user chose to close without: the program ends now.
        virtual void ended() = 0;
        // A list that could not be saved (the file says why) at an end that asks nobody: where
        // it was kept instead, for standard error; empty when nowhere took it.
        virtual void tellUnsaved(const QString& kept) = 0;
    };

    // `recovery`: where a list that cannot be saved at an end is kept instead.
    EndOfLife(WatchList& list, WatchListFile& file, RunSession& session, RecoveryFile& recovery,
              Host& host);

    // The one way to the end, from wherever it is asked for. True when the window may close
    // now. An end asked for during a check run stops the run at the page it is fetching, and
    // follows at the run's end.
    bool request(Cause cause);

    // The save of an end that asks nobody (a session manager's request before a logout): a
    // list that cannot be written where it belongs goes to a recovery file.
    void saveWithoutAsking();

    // True until an end is under way: commands may still show the user something.
    bool isOpen() const { return m_life == Life::Open; }
    bool hasEnded() const { return m_life == Life::Ended; }

private:
    // How far the program is on its way to the end.
    enum class Life
    {
        Open,
        Stopping,             // an end came during a run, which stops at its current page
        Closing,              // the user's shut-down is under way (its question may be open)
        ClosingWithoutSaving, // the user chose to close although the list could not be saved
        Ended,                // the list is saved and the host told
    };

    // The user's shut-down: saves, and asks what to do when the list holds changes that cannot
    // be saved. False when the user chose to keep the window open.
    bool saveBeforeClosing();
    void endWithoutAsking();
    void endNow();
    // The run session hears of every step, so that it neither starts runs nor shows anything
    // once an end is under way.
    void setLife(Life life);
    // The run has ended: when an end came during it, only what changes the list is carried
    // out, so the dialogs are closed first.
    void runEnded();
    // What waited for the run is carried out: an end that came meanwhile follows now.
    void waitingCarriedOut();

    WatchList& m_list;
    WatchListFile& m_file;
    RunSession& m_session;
    RecoveryFile& m_recovery;
    Host& m_host;
    Life m_life = Life::Open;
    Cause m_stopCause = Cause::Window;
};
