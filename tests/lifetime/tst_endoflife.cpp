// SPDX-License-Identifier: MIT
// The way to the end, without a window: who is asked, what is saved and when the end comes.
#include "checktools.h"
#include "endoflife.h"
#include "listatstartandend.h"
#include "responsegate.h"
#include "runsession.h"
#include "testfiles.h"
#include "testserver.h"
#include "watchlist.h"
#include "wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Records what the end asked of the window, in order; a close of the window comes back as the
// window manager's close does.
struct Host final : EndOfLife::Host
{
    EndOfLife* end = nullptr;
    EndOfLife::Answer answer = EndOfLife::Answer::KeepOpen;
    QStringList calls;
    EndOfLife::Answer askAfterFailedSave(const QString&) override { return calls << "ask", answer; }
    void closeDialogs() override { calls << "dialogs"; }
    void closeWindow() override { calls << "close", end->request(EndOfLife::Cause::Window); }
    void ended() override { calls << "ended"; }
    void tellUnsaved(const QString& kept) override
    {
        calls << (kept.isEmpty() ? "lost" : "The list is kept in " + kept + ".");
    }
};

// A run with nobody watching it.
struct NoFace final : CheckRunHost
{
    void showRunStatus(RunStatus) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void runSaved(SaveOutcome, const FileFailure&) override {}
};

// The end and what it works with: the run session, and the recovery file named after a fixed
// moment, in `place`.
struct Ending
{
    NoFace face;
    RecoveryFile recovery;
    RunSession session;
    EndOfLife end;
    Ending(WatchList& list, WatchListFile& file, Host& host, const QString& place,
           CheckTools tools = {})
        : recovery({place}, [] { return QDateTime(QDate(2026, 12, 8), QTime(9, 0)); }),
          session(list, file, recovery, std::move(tools), face, Options()),
          end(list, file, session, recovery, host)
    {
        host.end = &end;
    }
};

} // namespace

class TestEndOfLife : public QObject
{
    Q_OBJECT
    // A page that comes when the test lets it: a run waits on it.
    HeldPageServer m_held;

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
        host.answer = EndOfLife::Answer(answer);
        if (duringRun)
            list.setCell(1, WatchList::UrlColumn, m_held.address());
        Ending ending(list, file, host, dir.path(), curlCheckTools(dir.path()));
        EndOfLife& end = ending.end;
        // The run stops, and what waited for it is carried out before the end goes on.
        connect(&ending.session, &RunSession::stateChanged, this, [&](RunSession::State state) {
            if (state == RunSession::State::Stopping)
                host.calls << "stop";
            else if (state == RunSession::State::CarryingOut)
                host.calls << "waiting";
        });
        if (duringRun) {
            m_held.gate.close();
            ending.session.goLook();
            QTRY_VERIFY(m_held.gate.isHolding());
        }

        const bool mayClose =
            cause < 0 ? (end.saveWithoutAsking(), false) : end.request(EndOfLife::Cause(cause));
        if (duringRun) {
            QVERIFY(!mayClose && !end.hasEnded());
            host.calls << "|";
            QTRY_VERIFY(end.hasEnded());
            m_held.gate.release();
        }
        const QString kept = QDir(dir.path()).filePath("websites-unsaved-2026-12-08_09-00-00.ini");
        QCOMPARE(host.calls.join(' '), QString(calls).replace("ROOT", kept + "."));
        QCOMPARE(end.hasEnded(), calls.endsWith("ended"));
        QCOMPARE(mayClose, calls.endsWith("ended") && !duringRun);
        QCOMPARE(file.hasUnsavedChanges(list), saveFails);
        QCOMPARE(QFile::exists(kept), calls.contains("ROOT"));
    }

    // Something that is not the list has taken its place when a logout comes: it is left as
    // it is, and the list is kept beside it.
    void leavesWhatIsNotTheListAlone_data()
    {
        QTest::addColumn<QString>("inPlace");
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a FIFO") << "fifo";
        QTest::newRow("a link into a missing folder") << "dangling";
        QTest::newRow("a link another user planted, to root's file") << "planted";
        QTest::newRow("a file another program is writing, after a change of the user's")
            << "unsettled";
    }

    void leavesWhatIsNotTheListAlone()
    {
        QFETCH(QString, inPlace);
        QTemporaryDir dir;
        const QString path = dir.filePath("websites.ini"), target = dir.filePath("root.txt");
        QVERIFY(writeFile(path, "a.example\r\n\r\n\r\n"));
        WatchListFile file(path);
        WatchList list;
        startUpWatchList(list, file);
        QVERIFY(QFile::remove(path));
        const QByteArray name = QFile::encodeName(path);
        QFile writer(path);
        if (inPlace == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (inPlace == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (inPlace == "dangling") {
            QVERIFY(QFile::link(dir.filePath("gone/websites.ini"), path));
        } else if (inPlace == "planted") {
            if (::geteuid() != 0)
                QSKIP("only root can make a link of another user's here");
            QVERIFY(writeFile(target, "root's own\n"));
            QVERIFY(QFile::link(target, path));
            QCOMPARE(::lchown(name.constData(), 65534, 65534), 0);
            // The caches are written the same way.
            QCOMPARE(writeWholeFile(path, "cache"), WholeWrite::LinkRefused);
        } else {
            // Held open, as a writer in the middle of the file holds it.
            QVERIFY(writer.open(QIODevice::WriteOnly) && writer.write("half.exam") == 9 &&
                    writer.flush());
            list.setCell(1, WatchList::UrlColumn, "b.example");
        }
        struct stat before
        {};
        QCOMPARE(::lstat(name.constData(), &before), 0);

        Host host;
        Ending ending(list, file, host, dir.filePath("data"));
        EndOfLife& end = ending.end;
        QVERIFY(end.request(EndOfLife::Cause::Signal));

        struct stat after
        {};
        QCOMPARE(::lstat(name.constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_ino, before.st_ino);
        if (inPlace == "planted")
            QCOMPARE(readFile(target), "root's own\n");
        if (inPlace == "unsettled")
            QCOMPARE(readFile(path), "half.exam");
        const QString kept = dir.filePath("data/websites-unsaved-2026-12-08_09-00-00.ini");
        QCOMPARE(host.calls.join(' '), "The list is kept in " + kept + ". dialogs ended");
        QCOMPARE(readFile(kept),
                 inPlace == "unsettled" ? "b.example\r\n\r\n\r\n" : "a.example\r\n\r\n\r\n");
    }

    // The user did nothing, and the file holds what Korvane read or what another program wrote
    // since: whatever ends Korvane, nothing is written and nobody is asked.
    void endThatChangedNothingAsksNothing_data()
    {
        QTest::addColumn<QByteArray>("atStart");
        QTest::addColumn<QByteArray>("later");
        QTest::addColumn<int>("cause");
        const QByteArray binary = QByteArray(20'000'000, 'x').insert(100, '\0');
        for (const auto cause : {EndOfLife::Cause::Window, EndOfLife::Cause::Signal}) {
            const char* const by = cause == EndOfLife::Cause::Window ? "close" : "signal";
            QTest::addRow("empty list, %s", by) << QByteArray("") << QByteArray() << int(cause);
            QTest::addRow("20 MB holding a NUL, %s", by) << binary << QByteArray() << int(cause);
            QTest::addRow("another program writing, %s", by)
                << QByteArray("a.example\r\n\r\n\r\n") << QByteArray("half.exam") << int(cause);
        }
    }

    void endThatChangedNothingAsksNothing()
    {
        QFETCH(QByteArray, atStart);
        QFETCH(QByteArray, later);
        QFETCH(int, cause);
        QTemporaryDir dir;
        const QString path = dir.filePath("websites.ini");
        QVERIFY(writeFile(path, atStart));
        WatchListFile file(path);
        WatchList list;
        startUpWatchList(list, file);
        if (!later.isNull())
            QVERIFY(writeFile(path, later));
        const FileStamp before = stampOf(path);

        Host host;
        host.answer = EndOfLife::Answer::TryAgain;
        Ending ending(list, file, host, dir.filePath("data"));
        EndOfLife& end = ending.end;
        QVERIFY(end.request(EndOfLife::Cause(cause)));
        QCOMPARE(host.calls.join(' '), "dialogs ended");
        QCOMPARE(stampOf(path), before);
        QVERIFY(!QFileInfo::exists(dir.filePath("data")));
    }

    // Two copies of Korvane on two lists, ended by one logout in the same second.
    void twoEndsInOneSecondKeepBothLists()
    {
        QTemporaryDir dir;
        QStringList kept;
        for (const char* site : {"one.example", "two.example"}) {
            WatchListFile file(dir.filePath("gone/websites.ini"));
            WatchList list;
            startUpWatchList(list, file);
            list.setCell(1, WatchList::UrlColumn, site);
            kept << writeRecoveryFile(list, file, {dir.path()},
                                      QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        }
        QCOMPARE(kept, QStringList({dir.filePath("websites-unsaved-2026-12-08_09-00-00.ini"),
                                    dir.filePath("websites-unsaved-2026-12-08_09-00-00-2.ini")}));
        QVERIFY(readFile(kept[0]).startsWith("one.example\r\n"));
        QVERIFY(readFile(kept[1]).startsWith("two.example\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestEndOfLife)
#include "tst_endoflife.moc"
