// SPDX-License-Identifier: MIT
// The program as a process, tried with real copies of it on a private virtual X server. One
// Korvane per watch list: a second start on a list brings the first window to the front and
// ends without touching the list, with or without a usable runtime folder; a list in another
// directory opens a window of its own; a Korvane that was killed leaves nothing that keeps the
// next one from opening, and nothing of a save it was killed in. End signals at any moment end
// it with status 0.
#include "testfiles.h"
#include "virtualdisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <list>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifndef KORVANE_PROGRAM
#error "KORVANE_PROGRAM must name the korvane binary"
#endif

namespace {

// Long enough for a loaded machine; the CTest timeout still bounds the whole test.
constexpr int StepTimeoutMs = 5000;

const QByteArray List = "a.example\r\n07/12/2026 10:00:00\r\n12\r\nb.example\r\n\r\n\r\n";

QStringList entries(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot);
}

// Waits until process `pid` has mapped a file whose path holds `part`. Looks often: each step
// of a start takes milliseconds.
bool waitForMapping(pid_t pid, const QByteArray& part)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    for (const QDeadlineTimer deadline(StepTimeoutMs); !deadline.hasExpired();
         QThread::usleep(200)) {
        if (!maps.open(QIODevice::ReadOnly))
            return false;
        const bool found = maps.readAll().contains(part);
        maps.close();
        if (found)
            return true;
    }
    return false;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    VirtualDisplay m_display;
    std::list<OwnedProcess> m_programs;
    bool m_runtimeUsable = true;

    QString copyIn(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }
    QString workDir() const { return m_dir.filePath(QStringLiteral("work")); }

    // A start of the copy in `directory`, as a user's desktop would start it, each from a
    // working folder of its own.
    QProcess& launch(const QString& directory,
                     QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        QProcessEnvironment env = m_display.programEnvironment(
            m_dir.filePath(QStringLiteral("home")), m_runtimeUsable ? runtimeDir() : QString());
        // Qt's fallback runtime folder would be in the temporary folder: there is none.
        if (!m_runtimeUsable)
            env.insert(QStringLiteral("TMPDIR"), m_dir.filePath(QStringLiteral("not-a-folder")));
        const QString work = QDir(workDir()).filePath(QString::number(m_programs.size()));
        QDir().mkpath(work);
        QProcess& program = m_programs.emplace_back().process();
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        program.setProcessChannelMode(channels);
        program.start(QDir(directory).filePath(QStringLiteral("korvane")), {});
        return program;
    }

    // Starts the copy in `directory` and waits for its main window.
    void startOwner(const QString& directory, QByteArray& window, qint64* pid = nullptr)
    {
        QProcess& program = launch(directory);
        QVERIFY2(program.waitForStarted(StepTimeoutMs), qPrintable(program.errorString()));
        const QByteArrayList windows =
            m_display.waitForWindows(program, QStringLiteral("^Korvane$"), StepTimeoutMs);
        QVERIFY2(program.state() == QProcess::Running, "the program ended instead of opening");
        QVERIFY2(!windows.isEmpty(), "the main window did not appear");
        QCOMPARE(windows.size(), 1);
        window = windows.front();
        if (pid)
            *pid = program.processId();
    }

    QRect geometry(const QByteArray& window) const
    {
        return m_display.geometry(window).value_or(QRect());
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
        const QString missing = VirtualDisplay::missingTools();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        QVERIFY(m_dir.isValid());
        const QDir dir(m_dir.path());
        for (const char* sub : {"one", "two", "home", "runtime", "work"})
            QVERIFY(dir.mkdir(QString::fromLatin1(sub)));
        QVERIFY(QFile::setPermissions(runtimeDir(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("not-a-folder")), {}));
        for (const char* copy : {"one", "two"}) {
            QVERIFY(QFile::copy(QStringLiteral(KORVANE_PROGRAM),
                                QDir(copyIn(copy)).filePath(QStringLiteral("korvane"))));
            QVERIFY(writeFile(QDir(copyIn(copy)).filePath(QStringLiteral("websites.ini")), List));
        }
        QVERIFY2(m_display.start(), "Xvfb did not start");
    }

    void cleanup()
    {
        m_programs.clear();
        m_runtimeUsable = true;
    }

    void cleanupTestCase()
    {
        m_programs.clear();
        m_display.stop();
    }

    // Both copies open the same place on the screen, so the later window covers the earlier.
    // Without a runtime folder, what guards a list can only be beside it.
    void secondStartOnAListRaisesItsWindow_data()
    {
        QTest::addColumn<bool>("runtimeUsable");
        QTest::addColumn<QStringList>("besideTheList");
        const QStringList copy{QStringLiteral(".korvane.lock"), QStringLiteral("korvane"),
                               QStringLiteral("websites.ini")};
        QTest::newRow("runtime folder") << true << copy;
        QStringList withSocket = copy;
        withSocket.insert(1, QStringLiteral(".korvane.socket"));
        QTest::newRow("no usable runtime folder") << false << withSocket;
    }

    void secondStartOnAListRaisesItsWindow()
    {
        QFETCH(bool, runtimeUsable);
        QFETCH(QStringList, besideTheList);
        m_runtimeUsable = runtimeUsable;
        QByteArray first, other;
        STOP_ON_FAILURE(startOwner(copyIn("one"), first));
        STOP_ON_FAILURE(startOwner(copyIn("two"), other));
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("one"), first, other));
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("two"), other, first));
        for (const char* copy : {"one", "two"})
            QCOMPARE(entries(copyIn(copy)), besideTheList);
        for (const QString& work : entries(workDir()))
            QVERIFY2(entries(QDir(workDir()).filePath(work)).isEmpty(), qPrintable(work));
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
        // The user's own copies beside the list, whatever their names, are never touched.
        QCOMPARE(entries(runtimeDir()), held);
        const QDir one(copyIn("one"));
        const QStringList copies{QStringLiteral("websites.ini.backup"),
                                 QStringLiteral("websites.ini.bak")};
        for (const QString& copy : copies)
            QVERIFY(writeFile(one.filePath(copy), List + copy.toUtf8()));

        STOP_ON_FAILURE(startOwner(copyIn("one"), next));
        QCOMPARE(entries(one.path()),
                 QStringList({QStringLiteral(".korvane.lock"), QStringLiteral("korvane"),
                              QStringLiteral("websites.ini")}) +
                     copies);
        for (const QString& copy : copies) {
            QCOMPARE(readFile(one.filePath(copy)), List + copy.toUtf8());
            QVERIFY(QFile::remove(one.filePath(copy)));
        }
        STOP_ON_FAILURE(secondStartBringsTheOwnerForward(copyIn("one"), next, other));
    }

    // A start that cannot reach the owner, here one without the owner's runtime folder (as
    // under su, ssh or cron), opens no second window: it says that the list is open, on
    // standard error and in a message box, which an end signal takes away, and it ends with
    // status 0 without touching the list.
    void startElsewhereSaysTheListIsOpen()
    {
        QByteArray owner;
        STOP_ON_FAILURE(startOwner(copyIn("one"), owner));
        const QString list = QDir(copyIn("one")).filePath(QStringLiteral("websites.ini"));
        const FileStamp stamp = stampOf(list);
        m_runtimeUsable = false;
        QProcess& second = launch(copyIn("one"), QProcess::SeparateChannels);
        const QByteArrayList shown =
            m_display.waitForWindows(second, QStringLiteral("^Korvane$"), StepTimeoutMs);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(geometry(shown.front()).size() != geometry(owner).size(),
                 "a second main window opened");
        QCOMPARE(::kill(pid_t(second.processId()), SIGTERM), 0);
        QVERIFY2(second.waitForFinished(StepTimeoutMs), "the second start did not end");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.readAllStandardError().contains("already open with this watch list"),
                 "nothing said on standard error");
        QVERIFY(stampOf(list) == stamp);
        QCOMPARE(m_display.visibleWindows(m_programs.front().process().processId()).size(), 1);
    }

    // Two copies whose lists are links to one file keep one window between them: the lock is
    // taken beside the file that the links lead to.
    void linkedListsShareOneWindow()
    {
        const QDir dir(m_dir.path());
        QVERIFY(dir.mkpath(QStringLiteral("shared")));
        const QString shared = dir.filePath(QStringLiteral("shared/websites.ini"));
        QVERIFY(writeFile(shared, List));
        for (const char* copy : {"linked-a", "linked-b"}) {
            QVERIFY(dir.mkpath(QString::fromLatin1(copy)));
            QVERIFY(QFile::copy(QStringLiteral(KORVANE_PROGRAM),
                                QDir(copyIn(copy)).filePath(QStringLiteral("korvane"))));
            QVERIFY(
                QFile::link(shared, QDir(copyIn(copy)).filePath(QStringLiteral("websites.ini"))));
        }
        QByteArray owner;
        STOP_ON_FAILURE(startOwner(copyIn("linked-a"), owner));
        QProcess& second = launch(copyIn("linked-b"));
        QVERIFY2(second.waitForFinished(StepTimeoutMs), "the second start opened the list too");
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("shared/.korvane.lock"))));
        QCOMPARE(readFile(shared), List);
    }

    // End signals at any moment end the program with status 0 and leave the list as it was:
    // one while the program still reaches the display, before the list is loaded; two a few
    // milliseconds apart once the window is up (a logout and an impatient Ctrl+C), the second
    // landing at another point of the end each time.
    void endSignalsEndWithStatusZero_data()
    {
        QTest::addColumn<bool>("duringStartUp");
        QTest::addColumn<int>("gapMs");
        QTest::newRow("one during start-up") << true << 0;
        for (int gapMs = 1; gapMs <= 8; ++gapMs)
            QTest::addRow("two %d ms apart", gapMs) << false << gapMs;
    }

    void endSignalsEndWithStatusZero()
    {
        QFETCH(bool, duringStartUp);
        QFETCH(int, gapMs);
        const QString list = QDir(copyIn("one")).filePath(QStringLiteral("websites.ini"));
        QProcess& program = launch(copyIn("one"));
        QVERIFY2(program.waitForStarted(StepTimeoutMs), qPrintable(program.errorString()));
        const auto pid = pid_t(program.processId());
        if (duringStartUp) {
            // Qt loads the display's plugin while it makes the application object.
            QVERIFY2(waitForMapping(pid, "/platforms/libq"), "no display plugin was loaded");
        } else {
            QVERIFY(!m_display.waitForWindows(program, QStringLiteral("^Korvane$"), StepTimeoutMs)
                         .isEmpty());
            QCOMPARE(::kill(pid, SIGTERM), 0);
            QThread::msleep(gapMs);
        }
        // Korvane may have ended on the first signal already: then there is nobody to send the
        // second to, and how it ended is all that counts.
        QVERIFY2(::kill(pid, SIGTERM) == 0 || (!duringStartUp && errno == ESRCH),
                 std::strerror(errno));
        QVERIFY2(program.waitForFinished(StepTimeoutMs), "the program did not end");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(readFile(list), List);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
