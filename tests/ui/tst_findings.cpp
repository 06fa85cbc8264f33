// SPDX-License-Identifier: MIT
// What Korvane finds stays found: the words on a site's mark and on its address after checks of
// a page whose text changes its length, keeps its length, or changes at every look, over several
// runs, restarts, a damaged findings file and an edited address.
#include "checkrunfixtures.h"
#include "checktools.h"
#include "findingsfile.h"
#include "mainwindow.h"
#include "recordingopener.h"
#include "testfiles.h"
#include "testserver.h"
#include "windowclicks.h"

#include <QAction>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <mutex>

class TestFindings : public QObject
{
    Q_OBJECT

    TestServer m_server;
    std::mutex m_lock;
    std::string m_page; // what /page serves now
    QTemporaryDir m_dir;
    QDateTime m_clock;
    QByteArrayList m_opened;
    std::unique_ptr<MainWindow> m_window;

    QString listPath() const { return m_dir.filePath("websites.ini"); }
    QString stateDirectory() const { return m_dir.filePath("state"); }

    void open()
    {
        Options options;
        options.findingsDirectory = stateDirectory();
        options.now = [this] { return m_clock; };
        m_window =
            std::make_unique<MainWindow>(m_dir.path(), std::make_unique<RecordingOpener>(m_opened),
                                         curlCheckTools(m_dir.path(), fixedClock), options);
        m_window->show();
    }
    QVariant said(int column, int role = Qt::AccessibleDescriptionRole)
    {
        WatchList& list = m_window->watchList();
        return list.data(list.index(0, column), role);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server.http().Get("/page", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard hold(m_lock);
            response.set_content(m_page, "text/html");
        });
        m_server.start();
    }

    void cleanup() { m_window.reset(); }

    void wordsOnTheMarkAndTheAddress_data()
    {
        // The page's text at each run, as its letter and length; what happens before the last
        // run; the words on the mark after it; and on the address once the window has opened
        // again, where {Tn} is the time of run n. The list starts with a stored length of 30.
        QTest::addColumn<QByteArrayList>("pages");
        QTest::addColumn<QString>("beforeLast");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("address");

        const QString sameLength = "Same length (30 characters of text), but the text changed "
                                   "since the last check";
        const QString unchanged = "Unchanged: 30 characters of text";
        QTest::newRow("same length, text changed")
            << QByteArrayList{"a30", "b30"} << "" << sameLength
            << "Last change found {T1}: 30 \u2192 30 characters of text";
        QTest::newRow("last change found before a restart")
            << QByteArrayList{"a30", "a40", "a40"} << "restart"
            << "Unchanged: 40 characters of text"
            << "Last change found {T1}: 30 \u2192 40 characters of text";
        QTest::newRow("a page that changes at every look")
            << QByteArrayList{"a30", "a31", "a31", "a32", "b32", "a33"} << "restart"
            << "Changed: 32 \u2192 33 characters of text\nThe page changed at each of its last 3 "
               "checks: it may show the time or other content that changes at every look"
            << "Last change found {T5}: 32 \u2192 33 characters of text";
        QTest::newRow("nothing known") << QByteArrayList{"b30"} << "" << unchanged
                                       << "No change found since Korvane began keeping track, {T0}";
        QTest::newRow("damaged findings file")
            << QByteArrayList{"a30", "b30"} << "damage" << unchanged
            << "No change found since Korvane began keeping track, {T1}";
        QTest::newRow("a later Korvane's findings file is left as it is")
            << QByteArrayList{"a30", "b30"} << "later" << unchanged
            << "Not checked since Korvane began keeping track of changes";
        QTest::newRow("address edited")
            << QByteArrayList{"a30", "b30"} << "edit" << unchanged
            << "No change found since Korvane began keeping track, {T1}";
    }

    void wordsOnTheMarkAndTheAddress()
    {
        QFETCH(QByteArrayList, pages);
        QFETCH(QString, beforeLast);
        QFETCH(QString, mark);
        QFETCH(QString, address);

        QVERIFY(QDir(stateDirectory()).removeRecursively());
        const QByteArray site = m_server.hostAndPort() + "/page";
        QVERIFY(writeFile(listPath(), site + "\r\n07/12/2026 10:00:00\r\n30\r\n"));
        const QDateTime start(QDate(2026, 12, 3), QTime(14, 2), QTimeZone::utc());
        open();
        QCOMPARE(said(WatchList::UrlColumn),
                 "Not checked since Korvane began keeping track of changes");
        for (qsizetype run = 0; run < pages.size(); ++run) {
            if (run > 0 && run == pages.size() - 1 && beforeLast == "edit") {
                m_window->watchList().setCell(1, WatchList::UrlColumn, site + "?edited");
            } else if (run > 0 && run == pages.size() - 1 && !beforeLast.isEmpty()) {
                m_window->close();
                // A line no Korvane writes: none of the file can be trusted.
                const QString findings = findingsPath(stateDirectory(), listPath());
                if (beforeLast == "damage")
                    QVERIFY(writeFile(findings, readFile(findings) + "not a site\n"));
                if (beforeLast == "later")
                    QVERIFY(writeFile(findings, "Korvane findings 2\nwhat it keeps\n"));
                open();
            }
            m_clock = start.addSecs(3600 * run);
            {
                std::lock_guard hold(m_lock);
                m_page = pageOfTextLength(pages[run].mid(1).toInt(), pages[run].front());
            }
            m_window->findChild<QAction*>("golook")->trigger();
            QVERIFY(waitForCheckRun(*m_window));
        }
        QCOMPARE(said(WatchList::UpdatedColumn), mark);

        // Read from the file as the window opens again, before any run; saved at the run's
        // end, as a Korvane that is killed now has saved it.
        m_window.reset();
        open();
        for (qsizetype run = 0; run < pages.size(); ++run)
            address.replace(
                QStringLiteral("{T%1}").arg(run),
                QLocale().toString(start.addSecs(3600 * run).toLocalTime(), QLocale::ShortFormat));
        QCOMPARE(said(WatchList::UrlColumn), address);
        if (beforeLast == "later")
            QCOMPARE(readFile(findingsPath(stateDirectory(), listPath())),
                     QByteArray("Korvane findings 2\nwhat it keeps\n"));
        // The tooltip shows the address, which the narrow cell may cut, before the words.
        QCOMPARE(said(WatchList::UrlColumn, Qt::ToolTipRole),
                 QString::fromUtf8(m_window->watchList().cell(1, 0)) + "\n" + address);
    }
};

QTEST_MAIN(TestFindings)
#include "tst_findings.moc"
