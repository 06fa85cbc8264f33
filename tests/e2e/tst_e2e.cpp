// SPDX-License-Identifier: MIT
// The real program as a user runs it: a copy of the korvane binary beside its watch list, shown
// on a private virtual X server and driven with xdotool clicks, checking pages that a loopback
// server changes between runs.
#include "responsegate.h"
#include "strip.h"
#include "testfiles.h"
#include "testserver.h"
#include "virtualdisplay.h"
#include "windowmanagerclose.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <mutex>
#include <optional>

#include <csignal>
#include <unistd.h>

#ifndef KORVANE_PROGRAM
#error "KORVANE_PROGRAM must name the korvane binary"
#endif

namespace {

// The window's client area as the layout draws it, and the middle of the Go Look! button in it.
constexpr int ClientWidth = 264;
constexpr int ClientHeight = 344;
const QPoint GoLookCentre(52, 84);
// Somewhere inside the first menu bar title ("Watch List"), measured from the bar's left edge.
constexpr int FirstMenuTitleX = 10;

// Long enough for a loaded machine, short enough that a step that hangs fails the test well
// before its CTest time-out.
constexpr int StepTimeoutMs = 10'000;
const QString MainWindowTitle = QStringLiteral("^Korvane$");

// Where the drawn "remove" button and the first site row are, in the window's client area.
const QPoint RemoveCentre(232, 84);
const QPoint FirstRowCentre(48, 146);
// The page the server holds back until the test lets it go.
const std::string HeldPath = "/held";

const QByteArray LineEnd = "\r\n";
const QByteArray NeverVisited = "never";

std::string page(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html>\n<head><title>" + title + "</title></head>\n<body>\n\t<h1>" +
           title + "</h1>\n\t<p>" + body + "</p>\n</body>\n</html>\n";
}

// One watched site: what it serves on the first and on the second check (nothing: 404), and the
// record the list starts with.
struct Site
{
    std::string path;
    std::optional<std::string> firstPage;
    std::optional<std::string> secondPage;
    QByteArray lastVisitedBefore;
    QByteArray storedBefore;
};

const std::vector<Site>& sites()
{
    static const std::vector<Site> all = {
        {"/grows", page("Garden news", "Tulips are up."),
         page("Garden news", "Tulips are up. The roses &amp; lilies follow next week."),
         NeverVisited, "0"},
        {"/shrinks",
         page("Timetable",
              "Trains&nbsp;leave   every ten minutes &#183; buses every hour &copy; Rail Co."),
         page("Timetable", "No trains today."), NeverVisited, "12"},
        // Same length of text, other words: not a change the program can see.
        {"/reworded", page("Menu", "Soup of the day: leek"), page("Menu", "Soup of the day: kale"),
         "", ""},
        {"/steady", page("About", "We sell &quot;quiet&quot; fans."),
         page("About", "We sell &quot;quiet&quot; fans."), NeverVisited, "0"},
        {"/vanishes", page("Offer", "Half price this week only."), std::nullopt, NeverVisited, "9"},
        {"/never-there", std::nullopt, std::nullopt, NeverVisited, "123"},
    };
    return all;
}

// The stored length after a check that found `served`: a page's reduced length, or the length
// stored before when the page was missing.
QByteArray storedAfter(const std::optional<std::string>& served, const QByteArray& before)
{
    if (!served)
        return before;
    return QByteArray::number(ReduceHtml(QByteArray::fromStdString(*served)).size());
}

struct Record
{
    QByteArray address;
    QByteArray lastVisited;
    QByteArray stored;
};

// websites.ini's bytes as records; nullopt when they are not whole CR LF-ended triples.
std::optional<std::vector<Record>> parseRecords(const QByteArray& bytes)
{
    if (!bytes.endsWith(LineEnd))
        return std::nullopt;
    QByteArrayList lines = bytes.split('\n');
    lines.removeLast(); // after the final line end
    if (lines.size() % 3 != 0)
        return std::nullopt;
    std::vector<Record> records;
    for (qsizetype i = 0; i < lines.size(); i += 3) {
        for (qsizetype j = i; j < i + 3; ++j) {
            if (!lines[j].endsWith('\r'))
                return std::nullopt;
            lines[j].chop(1);
        }
        records.push_back({lines[i], lines[i + 1], lines[i + 2]});
    }
    return records;
}

// Waits until `done` holds, or for a step's time at most.
template <typename Condition> bool waitForStep(Condition done)
{
    return waitUntil(done, StepTimeoutMs);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    TestServer m_server;
    ResponseGate m_gate; // holds back HeldPath
    std::string m_heldPage;
    std::mutex m_lock;
    std::map<std::string, std::string> m_pages; // path -> body; a missing path is a 404
    std::map<std::string, int> m_visits;

    QTemporaryDir m_dir;
    VirtualDisplay m_display;
    OwnedProcess m_program;
    qint64 m_programPid = -1;
    QByteArray m_window;
    QRect m_windowRect;
    int m_menuBarHeight = 0;
    int m_goLooks = 0;

    QString appDir() const { return m_dir.filePath(QStringLiteral("app")); }
    QString listPath() const { return m_dir.filePath(QStringLiteral("app/websites.ini")); }
    QString openedLog() const { return m_dir.filePath(QStringLiteral("opened.txt")); }
    QByteArray address(const Site& site) const
    {
        return m_server.hostAndPort() + QByteArray::fromStdString(site.path);
    }

    void serve(std::optional<std::string> Site::*which)
    {
        std::lock_guard lock(m_lock);
        m_pages.clear();
        for (const Site& site : sites())
            if (const auto& body = site.*which)
                m_pages[site.path] = *body;
    }

    int visits(const std::string& path)
    {
        std::lock_guard lock(m_lock);
        return m_visits[path];
    }

    QProcessEnvironment displayEnvironment() const { return m_display.environment(); }

    std::optional<QByteArray> xdotool(const QStringList& args) const
    {
        return m_display.xdotool(args);
    }

    // The program's mapped windows; with `titled`, only those titled exactly "Korvane", which
    // before any menu opens is the main window alone.
    QByteArrayList visibleWindows(bool titled = false) const
    {
        return m_display.visibleWindows(m_programPid, titled ? MainWindowTitle : QString());
    }

    std::optional<QRect> geometry(const QByteArray& window) const
    {
        return m_display.geometry(window);
    }

    void clickAt(const QPoint& point)
    {
        QVERIFY2(
            xdotool({QStringLiteral("mousemove"), QString::number(point.x()),
                     QString::number(point.y()), QStringLiteral("click"), QStringLiteral("1")}),
            "xdotool could not click");
    }

    // Starts the copy of the program and waits for its main window; measures the menu bar from
    // the window's height, since Qt decides it from the font.
    void startProgram()
    {
        QProcessEnvironment env = m_display.programEnvironment(
            m_dir.filePath(QStringLiteral("home")), m_dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("PATH"),
                   m_dir.filePath(QStringLiteral("bin")) + ':' + env.value(QStringLiteral("PATH")));

        QProcess& program = m_program.process();
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(m_dir.path());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QDir(appDir()).filePath(QStringLiteral("korvane")), {});
        QVERIFY2(program.waitForStarted(StepTimeoutMs), qPrintable(program.errorString()));
        m_programPid = program.processId();

        const QByteArrayList windows =
            m_display.waitForWindows(program, MainWindowTitle, StepTimeoutMs);
        QVERIFY2(m_program.running(), "the program ended before showing its window");
        QVERIFY2(!windows.isEmpty(), "the main window did not appear");
        QCOMPARE(windows.size(), 1);
        m_window = windows.front();

        const auto rect = geometry(m_window);
        QVERIFY(rect);
        m_windowRect = *rect;
        QCOMPARE(m_windowRect.width(), ClientWidth);
        m_menuBarHeight = m_windowRect.height() - ClientHeight;
        QVERIFY2(m_menuBarHeight > 0 && m_menuBarHeight < 100,
                 qPrintable(QStringLiteral("window height %1").arg(m_windowRect.height())));
    }

    QPoint clientToScreen(const QPoint& client) const
    {
        return m_windowRect.topLeft() + QPoint(0, m_menuBarHeight) + client;
    }

    // Clicks Go Look! where it is drawn and waits for the run's save of the list. Two clicks on
    // one spot in quick succession are a double click, which is one click: each click lands
    // away from the one before, as a user's would.
    void goLook()
    {
        const FileStamp before = stampOf(listPath());
        const QPoint aside(m_goLooks++ % 2 ? 20 : -20, 0);
        STOP_ON_FAILURE(clickAt(clientToScreen(GoLookCentre + aside)));
        QVERIFY2(waitForStep([&] { return stampOf(listPath()) != before || !m_program.running(); }),
                 "the check run did not save the list");
        QVERIFY2(m_program.running(), "the program ended during the check run");
    }

    // A popup menu of the program other than `besides`, once exactly one is shown.
    std::optional<QByteArray> waitForMenu(const QByteArray& besides = {})
    {
        QByteArrayList menus;
        const bool shown = waitForStep([&] {
            menus = visibleWindows();
            menus.removeAll(m_window);
            return (menus.size() == 1 && menus.front() != besides) || !m_program.running();
        });
        if (!shown || menus.size() != 1)
            return std::nullopt;
        return menus.front();
    }

    // Options -> Exit Korvane: opens the first menu with a click on its title, moves to the
    // next one (Options) with the arrow key, and clicks its second item, Exit Korvane. Every
    // change is saved when it is made, so the end finds the list on disk and writes nothing.
    void exitThroughMenu()
    {
        const FileStamp before = stampOf(listPath());
        STOP_ON_FAILURE(
            clickAt(m_windowRect.topLeft() + QPoint(FirstMenuTitleX, m_menuBarHeight / 2)));
        const auto watchListMenu = waitForMenu();
        QVERIFY2(watchListMenu, "the Watch List menu did not open");
        const auto first = geometry(*watchListMenu);
        QVERIFY(first);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Right")}));
        const auto optionsMenu = waitForMenu(*watchListMenu);
        QVERIFY2(optionsMenu, "the Options menu did not open");
        const auto options = geometry(*optionsMenu);
        QVERIFY(options);
        // Two items against three: this is the Options menu, and its lower half is Exit Korvane.
        QVERIFY2(options->height() < first->height(), "not the Options menu");
        STOP_ON_FAILURE(
            clickAt(options->topLeft() + QPoint(options->width() / 2, options->height() * 3 / 4)));

        QProcess& program = m_program.process();
        QVERIFY2(program.waitForFinished(StepTimeoutMs), "the program did not end");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(stampOf(listPath()) == before, "the end wrote a list the file held already");
    }

    // The saved list holds every site in its order, each visited, with the expected lengths.
    void checkSavedList(const QByteArray& bytes, const std::vector<QByteArray>& expectedStored)
    {
        const auto records = parseRecords(bytes);
        QVERIFY2(records, bytes.constData());
        QCOMPARE(records->size(), sites().size());
        for (size_t i = 0; i < sites().size(); ++i) {
            const Site& site = sites()[i];
            const Record& record = (*records)[i];
            const QByteArray where = QByteArray::fromStdString(site.path);
            QVERIFY2(record.address == address(site), where.constData());
            QVERIFY2(!record.lastVisited.isEmpty(), where.constData());
            QVERIFY2(record.lastVisited != site.lastVisitedBefore, where.constData());
            QVERIFY2(
                record.stored == expectedStored[i],
                QByteArray(where + ": stored " + record.stored + ", expected " + expectedStored[i])
                    .constData());
        }
    }

    void checkVisits(int expected)
    {
        for (const Site& site : sites())
            QVERIFY2(visits(site.path) == expected,
                     qPrintable(QStringLiteral("%1 fetched %2 times, expected %3")
                                    .arg(QString::fromStdString(site.path))
                                    .arg(visits(site.path))
                                    .arg(expected)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString missing = VirtualDisplay::missingTools();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));

        // The pages must mean what the cases say: real pages the program judges by length.
        for (const Site& site : sites()) {
            for (const auto& body : {site.firstPage, site.secondPage}) {
                if (!body)
                    continue;
                QVERIFY(body->size() >= 20 && body->find("404") == std::string::npos);
                QVERIFY(ReduceHtml(QByteArray::fromStdString(*body)).size() > 1);
            }
            if (site.firstPage)
                QVERIFY(storedAfter(site.firstPage, {}) != site.storedBefore);
        }
        const auto reduced = [](const std::string& body) {
            return ReduceHtml(QByteArray::fromStdString(body));
        };
        const Site& grows = sites()[0];
        const Site& shrinks = sites()[1];
        const Site& reworded = sites()[2];
        QVERIFY(reduced(*grows.secondPage).size() > reduced(*grows.firstPage).size());
        QVERIFY(reduced(*shrinks.secondPage).size() < reduced(*shrinks.firstPage).size());
        QCOMPARE(reduced(*reworded.secondPage).size(), reduced(*reworded.firstPage).size());
        QVERIFY(reduced(*reworded.secondPage) != reduced(*reworded.firstPage));

        m_server.http().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.path == HeldPath) {
                m_gate.wait();
                std::lock_guard lock(m_lock);
                ++m_visits[req.path];
                res.set_content(m_heldPage, "text/html");
                return;
            }
            std::lock_guard lock(m_lock);
            ++m_visits[req.path];
            const auto found = m_pages.find(req.path);
            if (found == m_pages.end()) {
                res.status = 404;
                res.set_content("missing", "text/plain");
                return;
            }
            res.set_content(found->second, "text/html");
        });
        m_server.start();

        QVERIFY(m_dir.isValid());
        const QDir dir(m_dir.path());
        for (const char* sub : {"app", "bin", "home", "runtime"})
            QVERIFY(dir.mkdir(QString::fromLatin1(sub)));
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::copy(QStringLiteral(KORVANE_PROGRAM),
                            QDir(appDir()).filePath(QStringLiteral("korvane"))));

        // Stands in for the desktop's opener: the real one could take over the terminal.
        const QString opener = dir.filePath(QStringLiteral("bin/xdg-open"));
        QVERIFY(writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" +
                                      QFile::encodeName(openedLog()) + "'\n"));
        QVERIFY(
            QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QVERIFY2(m_display.start(), "Xvfb did not start");
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() &&
            !QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty()) {
            // What the screen showed when it went wrong, left beside the test for a look.
            const QString shot = QDir::current().filePath(QStringLiteral("tst_e2e-failure.png"));
            QProcess import;
            import.setProcessEnvironment(displayEnvironment());
            import.start(QStringLiteral("import"),
                         {QStringLiteral("-window"), QStringLiteral("root"), shot});
            if (import.waitForFinished(10'000))
                qWarning("screen at the failure: %s", qPrintable(shot));
            else
                import.kill();
        }
        m_program.stop();
    }

    void cleanupTestCase()
    {
        m_program.stop();
        m_display.stop();
    }

    // Two checks with pages changing in between, an exit through the menu, then a second start
    // and exit that must leave the saved list exactly as it was.
    void checksThenRestarts()
    {
        QByteArray initial;
        std::vector<QByteArray> storedFirst, storedSecond;
        for (const Site& site : sites()) {
            initial += address(site) + LineEnd + site.lastVisitedBefore + LineEnd +
                       site.storedBefore + LineEnd;
            storedFirst.push_back(storedAfter(site.firstPage, site.storedBefore));
            storedSecond.push_back(storedAfter(site.secondPage, storedFirst.back()));
        }
        QVERIFY(writeFile(listPath(), initial));

        serve(&Site::firstPage);
        STOP_ON_FAILURE(startProgram());

        STOP_ON_FAILURE(goLook());
        STOP_ON_FAILURE(checkSavedList(readFile(listPath()), storedFirst));
        STOP_ON_FAILURE(checkVisits(1));

        serve(&Site::secondPage);
        STOP_ON_FAILURE(goLook());
        const QByteArray afterSecondCheck = readFile(listPath());
        STOP_ON_FAILURE(checkSavedList(afterSecondCheck, storedSecond));
        STOP_ON_FAILURE(checkVisits(2));

        STOP_ON_FAILURE(exitThroughMenu());
        const QByteArray atExit = readFile(listPath());
        STOP_ON_FAILURE(checkSavedList(atExit, storedSecond));
        QCOMPARE(atExit, afterSecondCheck);

        // A start and an exit with no check in between: nothing lost, nothing changed.
        STOP_ON_FAILURE(startProgram());
        STOP_ON_FAILURE(exitThroughMenu());
        QCOMPARE(readFile(listPath()), atExit);
        STOP_ON_FAILURE(checkVisits(2));

        QVERIFY2(!QFile::exists(openedLog()), readFile(openedLog()).constData());
        QCOMPARE(QDir(appDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("korvane"), QStringLiteral("websites.ini")}));
    }

    // While a run waits for a page: keys and clicks choose rows at once; remove and open wait
    // for the run and act on the rows chosen when they were asked for; the window manager's
    // close stops the run at that page without waiting for it, and the program ends with
    // status 0. An end signal outside a run finds the removal saved; one during a run stops
    // the run and ends at once.
    void inputAndEndsDuringTheRun()
    {
        serve(&Site::firstPage);
        const Site& grows = sites()[0];
        const Site& steady = sites()[3];
        const QByteArray held = m_server.hostAndPort() + QByteArray::fromStdString(HeldPath);
        m_heldPage = page("Held", "Kept back until the test lets it go.");
        // Longer than the grid shows, the held page last: the clicks during the run must land on
        // the rows the user saw, wherever the run has got to.
        QByteArrayList addresses{address(grows), address(steady)};
        for (int i = 1; i <= 11; ++i)
            addresses << address(steady) + "?copy=" + QByteArray::number(i);
        addresses << held;
        QByteArray list;
        for (const QByteArray& site : addresses)
            list += site + "\r\nnever\r\n0\r\n";
        QVERIFY(writeFile(listPath(), list));
        QFile::remove(openedLog());
        m_gate.close();
        STOP_ON_FAILURE(startProgram());

        STOP_ON_FAILURE(clickAt(clientToScreen(GoLookCentre)));
        QVERIFY2(waitForStep([&] { return m_gate.isHolding(); }),
                 "the held page was not asked for");
        // Select the first row, move down to the second, remove it, open the first, close.
        STOP_ON_FAILURE(clickAt(clientToScreen(FirstRowCentre)));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Down")}));
        STOP_ON_FAILURE(clickAt(clientToScreen(RemoveCentre)));
        const QPoint first = clientToScreen(FirstRowCentre);
        const QStringList doubleClickFirstRow{
            QStringLiteral("mousemove"), QString::number(first.x()), QString::number(first.y()),
            QStringLiteral("click"),     QStringLiteral("--repeat"), QStringLiteral("2"),
            QStringLiteral("--delay"),   QStringLiteral("80"),       QStringLiteral("1")};
        QVERIFY(xdotool(doubleClickFirstRow));
        QVERIFY(closeAsWindowManager(displayEnvironment().value(QStringLiteral("DISPLAY")),
                                     m_window.toULong()));

        QProcess& program = m_program.process();
        QVERIFY2(program.waitForFinished(StepTimeoutMs), "the program did not end on its close");
        QVERIFY2(m_gate.isHolding(), "the close waited for the held page");
        m_gate.release();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const auto afterClose = parseRecords(readFile(listPath()));
        QVERIFY(afterClose);
        addresses.removeAt(1);
        QCOMPARE(afterClose->size(), size_t(addresses.size()));
        for (size_t i = 0; i < afterClose->size(); ++i) {
            const Record& record = (*afterClose)[i];
            QCOMPARE(record.address, addresses[qsizetype(i)]);
            QVERIFY2((record.lastVisited != "never") == (i + 1 < afterClose->size()),
                     record.address.constData());
        }
        QCOMPARE(afterClose->back().stored, QByteArray("0"));
        // The opener runs on its own and may write its log after Korvane has ended.
        const QByteArray opened = "http://" + address(grows) + "\n";
        waitForStep([&] { return readFile(openedLog()) == opened; });
        QCOMPARE(readFile(openedLog()), opened);

        // Outside a run: saved with the removal, ended with status 0. The site opened after the
        // removal tells that the removal is done.
        STOP_ON_FAILURE(startProgram());
        STOP_ON_FAILURE(clickAt(clientToScreen(FirstRowCentre)));
        STOP_ON_FAILURE(clickAt(clientToScreen(RemoveCentre)));
        QVERIFY(xdotool(doubleClickFirstRow));
        QVERIFY2(waitForStep([&] { return readFile(openedLog()).contains(addresses[1]); }),
                 "the double click after the removal was never acted on");
        QVERIFY(::kill(pid_t(m_programPid), SIGTERM) == 0);
        QVERIFY2(program.waitForFinished(StepTimeoutMs), "the program did not end on SIGTERM");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const auto afterSignal = parseRecords(readFile(listPath()));
        QVERIFY(afterSignal);
        QCOMPARE(afterSignal->size(), size_t(addresses.size() - 1));
        QCOMPARE(afterSignal->front().address, addresses[1]);

        // During a run: the run stops at the page it waits for, and the program ends at once,
        // whatever the network does. The rows checked before keep their results; the held row
        // keeps what it had.
        QVERIFY(writeFile(listPath(),
                          address(grows) + "\r\nnever\r\n0\r\n" + held + "\r\nnever\r\n7\r\n"));
        m_gate.close();
        STOP_ON_FAILURE(startProgram());
        STOP_ON_FAILURE(clickAt(clientToScreen(GoLookCentre)));
        QVERIFY2(waitForStep([&] { return m_gate.isHolding(); }),
                 "the held page was not asked for");
        QVERIFY(::kill(pid_t(m_programPid), SIGTERM) == 0);
        QVERIFY2(program.waitForFinished(StepTimeoutMs), "the program did not end on SIGTERM");
        QVERIFY2(m_gate.isHolding(), "the program waited for the held page");
        m_gate.release();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const auto afterRunAndSignal = parseRecords(readFile(listPath()));
        QVERIFY(afterRunAndSignal);
        QCOMPARE(afterRunAndSignal->size(), size_t(2));
        QVERIFY(afterRunAndSignal->front().lastVisited != "never");
        QCOMPARE(afterRunAndSignal->front().stored, storedAfter(grows.firstPage, "0"));
        QCOMPARE(afterRunAndSignal->back().lastVisited, QByteArray("never"));
        QCOMPARE(afterRunAndSignal->back().stored, QByteArray("7"));
        QFile::remove(openedLog());
    }

    // Started from a text console, or over ssh without X forwarding: one line that says what
    // is missing, status 1, and the list's folder as it was.
    void startWithoutADisplay()
    {
        QProcessEnvironment env = m_display.programEnvironment(m_dir.filePath("home"), {});
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        const auto folder = [&] {
            return QDir(appDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        const QStringList before = folder();
        QProcess& program = m_program.process();
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(QDir(appDir()).filePath(QStringLiteral("korvane")), {});
        QVERIFY(program.waitForFinished(StepTimeoutMs));
        QCOMPARE(program.exitCode(), 1);
        const QByteArray said = program.readAllStandardError();
        QVERIFY2(said.count('\n') == 1 && said.contains("DISPLAY is not set"), said.constData());
        QCOMPARE(folder(), before);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
