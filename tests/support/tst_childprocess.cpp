// SPDX-License-Identifier: MIT
// The child starts the file tests rely on: a child that hangs costs its deadline, not the
// whole suite's time-out, and an unprivileged child really is another user.
#include "childprocess.h"

#include <QTest>

#include <thread>
#include <unistd.h>

namespace {

const ChildBody hangs("hangs", [](const QStringList&) {
    std::this_thread::sleep_for(std::chrono::hours(1));
    return 0;
});

const ChildBody saysWhoItIs("says who it is", [](const QStringList& args) {
    std::printf("%u %s", unsigned(::geteuid()), qPrintable(args.join(',')));
    return 7;
});

} // namespace

class TestChildProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void childThatHangsIsKilledAndNamed()
    {
        const ChildOutcome child = runInChild(hangs, {}, false, 300);
        QVERIFY(!child.ended());
        QCOMPARE(child.failure, "the child \"hangs\" of childThatHangsIsKilledAndNamed hung: "
                                "killed after 300 ms");
    }

    void childGetsItsArgumentsAndUser()
    {
        const ChildOutcome child = runInChild(saysWhoItIs, {"a b", "c"}, true);
        QVERIFY2(child.ended(), qPrintable(child.failure));
        QCOMPARE(child.status, 7);
        QCOMPARE(child.output, QByteArray::number(unprivilegedUid()) + " a b,c");
    }
};

KORVANE_TEST_MAIN(TestChildProcess)
#include "tst_childprocess.moc"
