// SPDX-License-Identifier: MIT
// Child starts of a test binary: the parent names the body in the environment, the child
// drops root if asked and runs it before any test or application object exists.
#include "childprocess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtTest/qtest.h>

#include <cstdio>
#include <grp.h>
#include <map>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr unsigned NobodyId = 65534;
constexpr char BodyVariable[] = "KORVANE_TEST_CHILD";
constexpr char UnprivilegedVariable[] = "KORVANE_TEST_CHILD_UNPRIVILEGED";

std::map<QString, ChildBody::Function>& bodies()
{
    static std::map<QString, ChildBody::Function> registered;
    return registered;
}

QString currentCase()
{
    const char* row = QTest::currentDataTag();
    return QString::fromUtf8(QTest::currentTestFunction()) +
           (row ? QStringLiteral("(%1)").arg(QString::fromUtf8(row)) : QString());
}

} // namespace

ChildBody::ChildBody(QString name, Function function) : m_name(std::move(name))
{
    bodies().emplace(m_name, std::move(function));
}

unsigned unprivilegedUid()
{
    return ::geteuid() == 0 ? NobodyId : ::geteuid();
}

unsigned unprivilegedGid()
{
    return ::geteuid() == 0 ? NobodyId : ::getegid();
}

ChildOutcome runInChild(const ChildBody& body, const QStringList& arguments, bool unprivileged,
                        int deadlineMs)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(BodyVariable, body.name());
    if (unprivileged)
        environment.insert(UnprivilegedVariable, "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);

    ChildOutcome outcome;
    const QString which = QStringLiteral("the child \"%1\" of %2").arg(body.name(), currentCase());
    if (!child.waitForStarted(deadlineMs)) {
        outcome.failure = which + " did not start: " + child.errorString();
        return outcome;
    }
    if (!child.waitForFinished(deadlineMs)) {
        child.kill();
        child.waitForFinished(deadlineMs);
        outcome.failure = QStringLiteral("%1 hung: killed after %2 ms").arg(which).arg(deadlineMs);
        return outcome;
    }
    outcome.output = child.readAllStandardOutput();
    if (child.exitStatus() != QProcess::NormalExit)
        outcome.failure = which + " crashed";
    else
        outcome.status = child.exitCode();
    return outcome;
}

int exitCodeInChild(const ChildBody& body, const QStringList& arguments, bool unprivileged)
{
    const ChildOutcome child = runInChild(body, arguments, unprivileged);
    if (!child.ended())
        qWarning("%s", qPrintable(child.failure));
    return child.status;
}

int runChildBodyIfAsked(int argc, char* argv[])
{
    const QByteArray name = qgetenv(BodyVariable);
    if (name.isEmpty())
        return -1;
    const bool unprivileged = qEnvironmentVariableIsSet(UnprivilegedVariable);
    qunsetenv(BodyVariable);
    qunsetenv(UnprivilegedVariable);
    if (unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0)
            return 125;
        // The sanitizers' leak check reads this process's own threads, which a process that
        // changed its user may not do unless it says so.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    const auto body = bodies().find(QString::fromUtf8(name));
    if (body == bodies().end()) {
        std::fprintf(stderr, "no child body named \"%s\"\n", name.constData());
        return 126;
    }
    QCoreApplication application(argc, argv);
    const int status = body->second(application.arguments().mid(1));
    std::fflush(stdout);
    return status & 0xff;
}
