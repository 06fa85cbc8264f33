// SPDX-License-Identifier: MIT
// The end signals as the program catches them: they reach the event loop instead of ending the
// process, from before the catching begins until the process exits.
#include "endsignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestEndSignals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The signals a logout, `kill` and Ctrl+C send reach the event loop instead of ending the
    // process; without the catching, this test process itself would end here.
    void endSignalsReachTheEventLoop_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void endSignalsReachTheEventLoop()
    {
        QFETCH(int, signalNumber);
        EndSignals endSignals;
        QVERIFY(endSignals.isCatching());
        QSignalSpy requests(&endSignals, &EndSignals::endRequested);
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(requests.isEmpty()); // delivered by the event loop, not by the handler
        QVERIFY(requests.wait(5000));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.first().first().toInt(), signalNumber);
    }

    // Held back before the catching begins, a signal waits for it and is then a request not yet
    // delivered; once the object is gone, a late one still does no harm.
    void heldBackSignalsWaitAndLateOnesDoNoHarm()
    {
        EndSignals::holdBack();
        QCOMPARE(::raise(SIGTERM), 0); // without the holding back, the test would end here
        {
            EndSignals endSignals;
            QVERIFY(endSignals.hasPendingRequest());
            QSignalSpy requests(&endSignals, &EndSignals::endRequested);
            QVERIFY(requests.wait(5000));
            QVERIFY(!endSignals.hasPendingRequest());
        }
        QCOMPARE(::raise(SIGTERM), 0); // nor here, had the default action come back
    }
};

QTEST_GUILESS_MAIN(TestEndSignals)
#include "tst_endsignals.moc"
