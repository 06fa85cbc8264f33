// SPDX-License-Identifier: MIT
// One Korvane per watch list, tried with real copies of the program on a private virtual X
// server: a second start on a list brings the first window to the front and ends without
// touching the list, a list in another directory opens a window of its own, and a Korvane that
// was killed leaves nothing that keeps the next one from opening.
#include "testfiles.h"
#include "virtualdisplay.h"

#include <QDir>
#include <QFile>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <list>
#include <map>

#include <csignal>

#ifndef KORVANE_PROGRAM
#error "KORVANE_PROGRAM must name the korvane binary"
#endif

// A helper that failed has already recorded why; the test function stops there.
#define STOP_ON_FAILURE(call)                                                                      \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

namespace {

// Long enough for a loaded machine; the CTest timeout still bounds the whole test.
constexpr int StepTimeoutMs = 5000;

const QByteArray List = "a.example\r\n07/12/2026 10:00:00\r\n12\r\nb.example\r\n\r\n\r\n";

QStringList entries(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    VirtualDisplay m_display;
    std::list<OwnedProcess> m_programs;

    QString copyIn(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }

    // A start of the copy in `directory`, as a user's desktop would start it.
    QProcess& launch(const QString& directory)
    {
        QProcessEnvironment env = m_display.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.remove(QString::fromLatin1(name));
        QProcess& program = m_programs.emplace_back().process();
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(m_dir.path());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QDir(directory).filePath(QStringLiteral("korvane")), {});
        return program;
    }

    // Starts the copy in `directory` and waits for its main window.
    void startOwner(const QString& directory, QByteArray& window, qint64* pid = nullptr)
    {
        QProcess& program = launch(directory);
        QVERIFY2(program.waitForStarted(StepTimeoutMs), qPrintable(program.errorString()));
        QByteArrayList windows;
        QVERIFY2(waitUntil(
                     [&] {
                         const auto out = m_display.xdotool(
                             {QStringLiteral("search"), QStringLiteral("--all"),
                              QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                              QString::number(program.processId()), QStringLiteral("--name"),
                              QStringLiteral("^Korvane$")});
                         windows = out ? out->trimmed().split('\n') : QByteArrayList();
                         return !windows.isEmpty() || program.state() == QProcess::NotRunning;
                     },
                     StepTimeoutMs),
                 "the main window did not appear");
        QVERIFY2(program.state() == QProcess::Running, "the program ended instead of opening");
        QCOMPARE(windows.size(), 1);
        window = windows.front();
        if (pid)
            *pid = program.processId();
    }

    QRect geometry(const QByteArray& window) const
    {
        const auto out =
            m_display.xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                               QString::fromLatin1(window)});
        std::map<QByteArray, int> values;
        for (const QByteArray& line : out.value_or(QByteArray()).split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                values[line.left(eq)] = line.mid(eq + 1).toInt();
        }
        return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
    }

    // The window a user sees at `point`: the top one of those that lie there.
    QByteArray windowOnTopAt(const QPoint& point) const
    {
        const auto out = m_display.xdotool(
            {QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
             QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
        for (const QByteArray& line : out.value_or(QByteArray()).split('\n'))
            if (line.startsWith("WINDOW="))
                return line.mid(7);
        return {};
    }

    // With the owner's window covered by `other`, another start of the copy in `directory`:
    // it ends by itself with status 0, leaves the list and its directory exactly as they were,
    // and the owner's window comes to the front.
    void secondStartBringsTheOwnerForward(const QString& directory, const QByteArray& owner,
                                          const QByteArray& other)
    {
        const QPoint overlap = geometry(owner).intersected(geometry(other)).center();
        QVERIFY(m_display.xdotool({QStringLiteral("windowraise"), QString::fromLatin1(other)}));
        QVERIFY(waitUntil([&] { return windowOnTopAt(overlap) == other; }, StepTimeoutMs));

        const QString list = QDir(directory).filePath(QStringLiteral("websites.ini"));
        const QByteArray bytes = readFile(list);
        const FileStamp stamp = stampOf(list);
        const QStringList before = entries(directory);

        QProcess& second = launch(directory);
        QVERIFY2(second.waitForFinished(StepTimeoutMs), "the second start did not end");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        QVERIFY2(waitUntil([&] { return windowOnTopAt(overlap) == owner; }, StepTimeoutMs),
                 "the first window was not brought to the front");
        QCOMPARE(readFile(list), bytes);
        QVERIFY(stampOf(list) == stamp);
        QCOMPARE(entries(directory), before);
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* tool : {"Xvfb", "xdotool"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh")
                                    .arg(QString::fromLatin1(tool))));
        QVERIFY(m_dir.isValid());
        const QDir dir(m_dir.path());
        for (const char* sub : {"one", "two", "home", "runtime"})
            QVERIFY(dir.mkdir(QString::fromLatin1(sub)));
        QVERIFY(QFile::setPermissions(runtimeDir(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const char* copy : {"one", "two"}) {
            QVERIFY(QFile::copy(QStringLiteral(KORVANE_PROGRAM),
                                QDir(copyIn(copy)).filePath(QStringLiteral("korvane"))));
            QVERIFY(writeFile(QDir(copyIn(copy)).filePath(QStringLiteral("websites.ini")), List));
        }
        QVERIFY2(m_display.start(), "Xvfb did not start");
    }

    void cleanup() { m_programs.clear(); }

    void cleanupTestCase()
    {
        m_programs.clear();
        m_display.stop();
    }

    // Both copies open the same place on the screen, so the later window covers the earlier.
    void secondStartOnAListRaisesItsWindow()
    {
        QByteArray first, other;
        STOP_ON_FAILURE(startOwner(copyIn("one"), first));
        STOP_ON_FAILURE(startOwner(copyIn("two"), other));
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("one"), first, other));
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("two"), other, first));
        // Whatever guards the lists lives elsewhere.
        for (const char* copy : {"one", "two"})
            QCOMPARE(entries(copyIn(copy)),
                     QStringList({QStringLiteral("korvane"), QStringLiteral("websites.ini")}));
    }

    void killedOwnerLeavesNothingThatBlocks()
    {
        QByteArray killed, other, next;
        qint64 pid = 0;
        STOP_ON_FAILURE(startOwner(copyIn("one"), killed, &pid));
        STOP_ON_FAILURE(startOwner(copyIn("two"), other));
        const QStringList held = entries(runtimeDir());
        QVERIFY2(::kill(pid_t(pid), SIGKILL) == 0, "could not kill the first Korvane");
        QVERIFY(waitUntil([&] { return ::kill(pid_t(pid), 0) != 0; }, StepTimeoutMs) ||
                m_programs.front().process().waitForFinished(StepTimeoutMs));
        // The killed one's lock and socket are still there for the next start to deal with.
        QCOMPARE(entries(runtimeDir()), held);

        STOP_ON_FAILURE(startOwner(copyIn("one"), next));
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("one"), next, other));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
