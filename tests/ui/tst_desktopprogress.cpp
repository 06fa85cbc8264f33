// SPDX-License-Identifier: MIT
// A check run seen from outside the window, on a private session bus: the progress a dock reads
// and the notice a stand-in notification service is asked to show.
#include "checkrunfixtures.h"
#include "checktools.h"
#include "desktopprogress.h"
#include "recordingopener.h"
#include "testfiles.h"
#include "testserver.h"
#include "windowclicks.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QWindow>

#include <csignal>

// A dock and a notification service, which write down what Korvane tells them, in order.
class StandInDesktop : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList seen;

public Q_SLOTS:
    uint Notify(QString, uint, QString, QString summary, QString body, QStringList, QVariantMap,
                int)
    {
        seen << "notice: " + summary + ": " + body.replace('\n', ", ");
        return 1;
    }
    void update(const QString& app, const QVariantMap& entry)
    {
        const bool shown = entry.value("progress-visible").toBool();
        seen << (app != "application://com.korvane.Korvane.desktop" ? app
                 : shown ? QString::number(entry.value("progress").toDouble())
                         : "hidden");
    }
};

class TestDesktopProgress : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    StandInDesktop m_desktop;

private Q_SLOTS:
    // The session bus is one of the test's own, which dbus-run-session started (as CTest runs
    // the test): Korvane's first look at the bus finds it, whenever that is.
    void initTestCase()
    {
        const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        QVERIFY2(!address.isEmpty(), "no session bus: run the test under dbus-run-session");
        QDBusConnection outside = QDBusConnection::connectToBus(address, "outside");
        QVERIFY(outside.registerService("org.freedesktop.Notifications"));
        QVERIFY(outside.registerObject("/org/freedesktop/Notifications", &m_desktop,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(outside.connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update", &m_desktop,
                                SLOT(update(QString, QVariantMap))));
    }

    void runSeenFromOutside_data()
    {
        QTest::addColumn<QString>("seen");
        const QString whole = "0 0.333333 0.666667 1 hidden";
        QTest::newRow("user elsewhere, long run")
            << whole + " notice: Korvane checked 3 websites: Yes (changed): 1, Not Found: 1, "
                       "Error: 1";
        QTest::newRow("window active") << whole;
        QTest::newRow("short run") << whole;
        QTest::newRow("ended during the run") << "0 0.333333 0.666667 hidden";
        // Last: the bus's daemon stops, as a session bus that stops answering does. The run's
        // end and an end asked for during it keep the event loop turning.
        QTest::newRow("bus silent, long run") << QString();
        QTest::newRow("bus silent, ended during the run") << QString();
    }

    void runSeenFromOutside()
    {
        QFETCH(QString, seen);
        const QString row = QTest::currentDataTag();
        // Korvane says nothing of the bus; the offscreen platform speaks of what it lacks.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support)"));
        m_desktop.seen.clear();
        const bool silent = row.startsWith("bus silent");
        const uint daemon =
            QDBusConnection::sessionBus().interface()->servicePid("org.freedesktop.DBus");
        QVERIFY(!silent || ::kill(pid_t(daemon), SIGSTOP) == 0);
        const auto resume = qScopeGuard([&] { silent&& ::kill(pid_t(daemon), SIGCONT); });
        TestServer server;
        server.http().Get("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageOfTextLength(12), "text/html");
        });
        server.start();
        // Yes, Not Found and Error: a page, and a missing page with and without a length.
        const QByteArray host = server.hostAndPort();
        QVERIFY(writeFile(m_dir.filePath("websites.ini"), host + "/page\r\n\r\n5\r\n" + host +
                                                              "/missing\r\n\r\n7\r\n" + host +
                                                              "/missing\r\n\r\n0\r\n"));
        QByteArrayList opened;
        MainWindow window(m_dir.path(), std::make_unique<RecordingOpener>(opened),
                          curlCheckTools(m_dir.path(), fixedClock));
        QElapsedTimer sinceTurn;
        qint64 longestWait = 0;
        QTimer turns;
        connect(&turns, &QTimer::timeout,
                [&] { longestWait = std::max(longestWait, sinceTurn.restart()); });
        sinceTurn.start();
        turns.start(1);
        // Wired as main() does.
        DesktopProgress desktop(
            "com.korvane.Korvane", [] { return QApplication::activeWindow() != nullptr; },
            std::chrono::milliseconds(row == "short run" ? 60'000 : 0));
        connect(&window, &MainWindow::checkRunStarted, &desktop, &DesktopProgress::follow);
        connect(&desktop, &DesktopProgress::noticeActivated, &window, &MainWindow::bringForward);
        connect(&window, &MainWindow::checkRunStarted, this, [&](const CheckRun& run) {
            connect(&run, &CheckRun::rowChecked, &window, [&](int checked) {
                if (checked == 2 && row.endsWith("ended during the run"))
                    window.endOnRequest();
            });
        });
        window.show();
        // Another program's window has the keyboard, or Korvane's has.
        QWindow elsewhere;
        elsewhere.show();
        QWindow* active = row == "window active" ? window.windowHandle() : &elsewhere;
        active->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(active));

        window.findChild<QAction*>("golook")->trigger();
        QVERIFY(waitForCheckRun(window));
        QVERIFY2(longestWait < 1000, qPrintable(QString::number(longestWait) + " ms"));
        if (silent)
            return;
        // What Korvane sent until now has arrived once a call of its own is answered.
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/", "org.freedesktop.DBus.Peer", "Ping"));
        QCoreApplication::processEvents();
        QCOMPARE(m_desktop.seen.join(' '), seen);
        if (!seen.contains("notice"))
            return;
        // A click on the notice brings the window up.
        QVERIFY(!window.isActiveWindow());
        QDBusMessage click = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        QVERIFY(QDBusConnection("outside").send(click << 1u << QStringLiteral("default")));
        QTRY_VERIFY(window.isActiveWindow());
    }
};

QTEST_MAIN(TestDesktopProgress)
#include "tst_desktopprogress.moc"
