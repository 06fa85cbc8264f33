// SPDX-License-Identifier: MIT
// Runs a piece of a test in a child process: as an unprivileged user (root ignores permission
// bits, a user does not), or with limits that must not touch the test process itself. The child
// is the test binary started again, never a fork: a test process has server threads running,
// and a forked copy of it may wait for ever on a lock one of them held.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtTest/qtest.h>

#include <functional>

// A piece of test that runs in a child. Define it at namespace scope, so that a child start of
// the binary finds it by its name before any test runs; it gets what it needs as arguments and
// answers with its exit code and, where it has more to say, its standard output.
class ChildBody
{
public:
    using Function = std::function<int(const QStringList& arguments)>;
    ChildBody(QString name, Function function);
    const QString& name() const { return m_name; }

private:
    QString m_name;
};

struct ChildOutcome
{
    int status = -1;   // the child's exit code
    QByteArray output; // what it wrote on standard output
    QString failure;   // why there is no exit code: the child hung, crashed or never started
    bool ended() const { return failure.isEmpty(); }
};

// Starts the body in a child and waits at most `deadlineMs` for it; a child that takes longer is
// killed. With `unprivileged`, a child of root first becomes the user "nobody"; a test that is
// not root already runs as an ordinary user and the child keeps its identity.
ChildOutcome runInChild(const ChildBody& body, const QStringList& arguments, bool unprivileged,
                        int deadlineMs = 10'000);

// The exit code of `body` run in a child as above, or -1, with the reason as a warning, when it
// hung, crashed or did not start.
int exitCodeInChild(const ChildBody& body, const QStringList& arguments, bool unprivileged);

// The uid and gid the unprivileged child runs as (for chown of what it must reach).
unsigned unprivilegedUid();
unsigned unprivilegedGid();

// For the test binary's main: runs the body a child start asks for and gives its exit code, or
// -1 when this start is the test itself.
int runChildBodyIfAsked(int argc, char* argv[]);

// In place of QTEST_MAIN in a test binary that has child bodies.
#define KORVANE_TEST_MAIN(TestObject)                                                              \
    QTEST_MAIN_WRAPPER(TestObject, if (const int childStatus = runChildBodyIfAsked(argc, argv);    \
                                       childStatus >= 0) return childStatus;                       \
                       QTEST_MAIN_SETUP())
