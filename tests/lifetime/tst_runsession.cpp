// SPDX-License-Identifier: MIT
// A check run's life, step by step: the one state it is in, the changes that waited for it
// carried out in order, each on a stack of its own, and the one signal that it is idle again.
#include "checktools.h"
#include "listatstartandend.h"
#include "responsegate.h"
#include "runsession.h"
#include "testserver.h"
#include "watchlist.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct NoFace final : CheckRunHost
{
    void showRunStatus(RunStatus) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void runSaved(SaveOutcome, const FileFailure&) override {}
};

using State = RunSession::State;

} // namespace

class TestRunSession : public QObject
{
    Q_OBJECT
    HeldPageServer m_held;

private Q_SLOTS:
    // What the user did while a page was held: removes, an edit that asked for more, a Go Look!
    // that starts a run of its own, an end, or the program's end.
    void walksThroughItsStates_data()
    {
        QTest::addColumn<QString>("during");
        QTest::addColumn<QList<State>>("states");
        QTest::addColumn<QStringList>("done");
        QTest::addColumn<int>("idle");
        using S = State;
        QTest::newRow("changes wait for the run, in order")
            << "changes" << QList<S>{S::Running, S::CarryingOut, S::Idle}
            << QStringList{"remove", "edit", "asked meanwhile"} << 1;
        QTest::newRow("a Go Look! asked while what waited is carried out comes after it")
            << "go look"
            << QList<S>{S::Running, S::CarryingOut, S::Running, S::CarryingOut, S::Idle}
            << QStringList{"remove", "go look", "asked before it"} << 1;
        QTest::newRow("an end stops the run; what waited still changes the list")
            << "end" << QList<S>{S::Running, S::Stopping, S::CarryingOut, S::Idle}
            << QStringList{"remove"} << 1;
        QTest::newRow("the program ends: nothing more is carried out")
            << "close" << QList<S>{S::Running, S::Closed} << QStringList{} << 0;
    }

    void walksThroughItsStates()
    {
        QFETCH(QString, during);
        QFETCH(QList<State>, states);
        QFETCH(QStringList, done);
        QFETCH(int, idle);
        QTemporaryDir dir;
        WatchListFile file(dir.filePath("websites.ini"));
        WatchList list;
        startUpWatchList(list, file);
        list.setCell(1, WatchList::UrlColumn, m_held.address());
        NoFace face;
        RecoveryFile recovery({dir.path()});
        RunSession session(list, file, recovery, curlCheckTools(dir.path()), face, Options());
        QList<State> seen;
        QStringList did;
        connect(&session, &RunSession::stateChanged, this, [&](State state) {
            seen << state;
            // Nothing that waited runs on the stack of the run's end.
            if (state == State::CarryingOut)
                QCOMPARE(did.size(), during == "go look" && seen.size() > 2 ? 3 : 0);
        });
        QSignalSpy idled(&session, &RunSession::idle);

        m_held.gate.close();
        session.goLook();
        QTRY_VERIFY(m_held.gate.isHolding());
        session.whenIdle([&] { did << "remove"; });
        if (during == "changes")
            session.whenIdle([&] {
                did << "edit";
                session.whenIdle([&] { did << "asked meanwhile"; });
            });
        if (during == "go look") {
            session.whenIdle([&] { did << "go look", session.goLook(); });
            session.whenIdle([&] { did << "asked before it"; });
        }
        if (during == "end")
            session.endBegins();
        if (during == "close")
            session.close();
        m_held.gate.release();
        QTRY_VERIFY(seen.last() == State::Idle || seen.last() == State::Closed);
        QTest::qWait(50);
        QCOMPARE(seen, states);
        QCOMPARE(did, done);
        QCOMPARE(idled.count(), idle);
        // Idle: a change is carried out at once; closed, it is dropped.
        session.whenIdle([&] { did << "now"; });
        QCOMPARE(did.contains("now"), during != "close");
    }
};

QTEST_GUILESS_MAIN(TestRunSession)
#include "tst_runsession.moc"
