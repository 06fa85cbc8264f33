// SPDX-License-Identifier: MIT
// The way to the end, without a window: who is asked, what is saved and when the end comes.
#include "endoflife.h"
#include "lifecycle.h"
#include "watchlist.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records what the end asked of the window, in order; a close of the window comes back as the
// window manager's close does.
struct Host final : EndOfLife::Host
{
    EndOfLife* end = nullptr;
    bool running = false;
    EndOfLife::Answer answer = EndOfLife::Answer::KeepOpen;
    QStringList calls;
    bool runUnderWay() const override { return running; }
    void stopRun() override { calls << "stop"; }
    EndOfLife::Answer askAfterFailedSave(const QString&) override { return calls << "ask", answer; }
    void closeDialogs() override { calls << "dialogs"; }
    void closeWindow() override { calls << "close", end->request(EndOfLife::Cause::Window); }
    void ended() override { calls << "ended"; }
    void tellUnsaved(const QString& text) override { calls << text.section(". ", 1); }
};

} // namespace

class TestEndOfLife : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void endsAsAsked_data()
    {
        QTest::addColumn<int>("cause"); // an EndOfLife::Cause, or -1 for a session's save
        QTest::addColumn<bool>("duringRun");
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("calls");
        using C = EndOfLife::Cause;
        using A = EndOfLife::Answer;
        const int keep = int(A::KeepOpen), discard = int(A::CloseWithoutSaving);
        QTest::newRow("close") << int(C::Window) << false << false << keep << "dialogs ended";
        QTest::newRow("exit") << int(C::Exit) << false << false << keep
                              << "dialogs close dialogs ended";
        QTest::newRow("signal") << int(C::Signal) << false << false << keep << "dialogs ended";
        QTest::newRow("session") << -1 << false << false << keep << "";
        QTest::newRow("close in a run")
            << int(C::Window) << true << false << keep << "stop | dialogs waiting dialogs ended";
        QTest::newRow("signal in a run")
            << int(C::Signal) << true << false << keep << "stop | dialogs waiting dialogs ended";
        QTest::newRow("close, save fails, kept open")
            << int(C::Window) << false << true << keep << "ask";
        QTest::newRow("close, save fails, closed without")
            << int(C::Window) << false << true << discard << "ask dialogs ended";
        QTest::newRow("signal, save fails")
            << int(C::Signal) << false << true << keep << "The list is kept in ROOT dialogs ended";
        QTest::newRow("session, save fails")
            << -1 << false << true << keep << "The list is kept in ROOT";
    }

    void endsAsAsked()
    {
        QFETCH(int, cause);
        QFETCH(bool, duringRun);
        QFETCH(bool, saveFails);
        QFETCH(int, answer);
        QFETCH(QString, calls);
        QTemporaryDir dir;
        // A list whose folder has gone cannot be saved, not even by root.
        const QString folder = dir.filePath(saveFails ? "gone" : "");
        WatchListFile file(QDir(folder).filePath("websites.ini"));
        WatchList list;
        startUpWatchList(list, file);
        QVERIFY(list.AddItem("changed.example"));
        Host host;
        host.running = duringRun;
        host.answer = EndOfLife::Answer(answer);
        EndOfLife end(list, file, host, {dir.path()});
        host.end = &end;
        end.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 0)); });

        const bool mayClose =
            cause < 0 ? (end.saveWithoutAsking(), false) : end.request(EndOfLife::Cause(cause));
        if (duringRun) {
            QVERIFY(!mayClose && !end.hasEnded());
            host.calls << "|";
            host.running = false;
            end.runEnded([&] { host.calls << "waiting"; });
        }
        const QString kept = QDir(dir.path()).filePath("websites-unsaved-2026-12-08_09-00-00.ini");
        QCOMPARE(host.calls.join(' '), QString(calls).replace("ROOT", kept + "."));
        QCOMPARE(end.hasEnded(), calls.endsWith("ended"));
        QCOMPARE(mayClose, calls.endsWith("ended") && !duringRun);
        QCOMPARE(file.hasUnsavedChanges(list), saveFails);
        QCOMPARE(QFile::exists(kept), calls.contains("ROOT"));
    }
};

QTEST_GUILESS_MAIN(TestEndOfLife)
#include "tst_endoflife.moc"
