// SPDX-License-Identifier: MIT
// The commands that waited for a check run: carried out in the order asked, each from the event
// loop on a stack of its own, and held again by a run one of them starts.
#include "listguard.h"

#include <QSignalSpy>
#include <QTest>

class TestListGuard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void waitingChangesComeOnePerTurnInOrder()
    {
        ListGuard guard;
        QStringList done;
        QSignalSpy caughtUp(&guard, &ListGuard::caughtUp);
        guard.hold();
        guard.whenFree([&] { done << "remove"; });
        guard.whenFree([&] {
            done << "edit";
            guard.whenFree([&] { done << "asked meanwhile"; });
        });
        guard.whenFree([&] { done << "go look", guard.hold(); });
        guard.whenFree([&] { done << "after that run"; });

        // Turn by turn: none on the stack of whoever released them, one in each turn after.
        guard.release();
        const QStringList turns[] = {
            {}, {"remove"}, {"remove", "edit"}, {"remove", "edit", "go look"}};
        for (const QStringList& expected : turns) {
            QCOMPARE(done, expected);
            QCoreApplication::processEvents();
        }
        QCOMPARE(done.size(), 3);
        QCOMPARE(caughtUp.count(), 0);
        done.clear();

        guard.release();
        QTRY_COMPARE(caughtUp.count(), 1);
        QCOMPARE(done, QStringList({"after that run", "asked meanwhile"}));
        guard.whenFree([&] { done << "now"; });
        QCOMPARE(done.last(), "now");
    }
};

QTEST_GUILESS_MAIN(TestListGuard)
#include "tst_listguard.moc"
