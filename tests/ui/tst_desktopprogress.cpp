// SPDX-License-Identifier: MIT
// A check run seen from outside the window, on a private session bus: the progress a dock reads
// and the notice a stand-in notification service is asked to show.
#include "checkrunfixtures.h"
#include "checktools.h"
#include "desktopprogress.h"
#include "mainwindow.h"
#include "recordingopener.h"
#include "testfiles.h"
#include "testserver.h"
#include "windowclicks.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

// The desktop as Korvane meets it: a dock that records the launcher entry's updates, and a
// notification service that records the notices.
class StandInDesktop : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList progress; // the part done of each update, or "hidden"
    QStringList notices;  // the summary and the body of each

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        notices << summary + '\n' + body;
        return uint(notices.size());
    }
    void update(const QString& app, const QVariantMap& properties)
    {
        const bool shown = properties.value("progress-visible").toBool();
        progress << (app != "application://com.korvane.Korvane.desktop" ? "other entry: " + app
                     : shown ? QString::number(properties.value("progress").toDouble())
                             : QStringLiteral("hidden"));
    }
};

class TestDesktopProgress : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    QTemporaryDir m_dir;
    StandInDesktop m_desktop;

    // What Korvane sent before this has arrived and been handled, and what it was answered.
    static void roundTrip()
    {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/", "org.freedesktop.DBus.Peer", "Ping"));
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bus.start("dbus-daemon", {"--session", "--print-address", "--nofork"});
        QVERIFY(m_bus.waitForReadyRead(10'000));
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection outside = QDBusConnection::connectToBus(address, "outside");
        QVERIFY(outside.registerService("org.freedesktop.Notifications"));
        QVERIFY(outside.registerObject("/org/freedesktop/Notifications", &m_desktop,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(outside.connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update", &m_desktop,
                                SLOT(update(QString, QVariantMap))));
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void init()
    {
        m_desktop.progress.clear();
        m_desktop.notices.clear();
        // Korvane says nothing of the bus; the offscreen platform speaks of what it lacks.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support)"));
    }

    void runSeenFromOutside_data()
    {
        QTest::addColumn<bool>("windowActive");
        QTest::addColumn<int>("noticeAfterMs");
        QTest::addColumn<bool>("endAfterTwoRows");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<bool>("notice");
        const QString whole = "0 0.333333 0.666667 1 hidden";
        QTest::newRow("user elsewhere, long run") << false << 0 << false << whole << true;
        QTest::newRow("window active") << true << 0 << false << whole << false;
        QTest::newRow("short run") << false << 60'000 << false << whole << false;
        QTest::newRow("ended during the run")
            << false << 0 << true << "0 0.333333 0.666667 hidden" << false;
    }

    void runSeenFromOutside()
    {
        QFETCH(bool, windowActive);
        QFETCH(int, noticeAfterMs);
        QFETCH(bool, endAfterTwoRows);
        QFETCH(QString, progress);
        QFETCH(bool, notice);

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
        // Wired as main() does.
        DesktopProgress desktop("com.korvane.Korvane",
                                [] { return QApplication::activeWindow() != nullptr; });
        desktop.setNoticeAfter(std::chrono::milliseconds(noticeAfterMs));
        connect(&window, &MainWindow::checkRunStarted, &desktop, &DesktopProgress::follow);
        connect(&desktop, &DesktopProgress::noticeActivated, &window, &MainWindow::bringForward);
        connect(&window, &MainWindow::checkRunStarted, this, [&](const CheckRun& run) {
            connect(&run, &CheckRun::rowChecked, &window, [&](int row) {
                if (endAfterTwoRows && row == 2)
                    window.endOnRequest();
            });
        });
        window.show();
        // Another program's window has the keyboard, or Korvane's has.
        QWindow elsewhere;
        elsewhere.show();
        QWindow* active = windowActive ? window.windowHandle() : &elsewhere;
        active->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(active));

        window.findChild<QAction*>("golook")->trigger();
        QVERIFY(waitForCheckRun(window));
        roundTrip();
        QCOMPARE(m_desktop.progress.join(' '), progress);
        QCOMPARE(m_desktop.notices, notice ? QStringList{"Korvane checked 3 websites\nYes "
                                                         "(changed): 1\nNot Found: 1\nError: 1"}
                                           : QStringList{});
        if (!notice)
            return;
        // A click on the notice brings the window up.
        roundTrip();
        QVERIFY(!window.isActiveWindow());
        QDBusMessage click = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        click << 1u << QStringLiteral("default");
        QVERIFY(QDBusConnection("outside").send(click));
        QTRY_VERIFY(window.isActiveWindow());
    }
};

QTEST_MAIN(TestDesktopProgress)
#include "tst_desktopprogress.moc"
