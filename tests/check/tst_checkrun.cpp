// SPDX-License-Identifier: MIT
// Whole check runs over pages served from 127.0.0.1: the marks each row gets, what is stored
// and saved, and what the window is told along the way.
#include "checkrun.h"
#include "checkrunfixtures.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "fetchnow.h"
#include "responsegate.h"
#include "statewords.h"
#include "strip.h"
#include "testserver.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <mutex>

// The status and Retry-After of each refusal a page answers before it is served.
using Refusals = std::vector<std::pair<int, std::string>>;
Q_DECLARE_METATYPE(Refusals)

namespace {

// Passes every download on, and lets a test look at the list or break a fetch on the way.
class WatchingDownloadService final : public DownloadService
{
public:
    explicit WatchingDownloadService(DownloadService& real) : m_real(real) {}
    std::function<void(const QByteArray&)> beforeDownload;
    QByteArray claimWithoutFile; // this address "succeeds" but leaves no file to read
    bool offline = false;        // every download fails without reaching the network
    QByteArrayList addresses;

    void lookAhead(const QByteArrayList& addresses) override { m_real.lookAhead(addresses); }

protected:
    void start(const QByteArray& address, const QString& localFile, Done end) override
    {
        addresses << address;
        if (beforeDownload)
            beforeDownload(address);
        if (address == claimWithoutFile || offline) {
            end(!offline);
            return;
        }
        m_download = m_real.download(
            address, localFile,
            [this, end](bool downloaded) {
                setFailure(m_real.failure());
                end(downloaded);
            },
            [this](const SiteWait& wait) { tellWaiting(wait); });
    }
    void cancel() override { m_download.cancel(); }

private:
    DownloadService& m_real;
    DownloadHandle m_download;
};

} // namespace

class TestCheckRun : public QObject
{
    Q_OBJECT

    TestServer m_server;
    std::mutex m_lock;
    std::map<std::string, std::string> m_pages; // path -> body; a missing path is a 404
    std::map<std::string, Refusals> m_refusals; // path -> what it answers before its page
    QTemporaryDir m_dir;
    // Holds the page at /held until the test lets it through.
    ResponseGate m_gate;

    void setPage(const std::string& path, const std::string& body)
    {
        std::lock_guard lock(m_lock);
        m_pages[path] = body;
    }

    QByteArray site(const std::string& path) const
    {
        return m_server.hostAndPort() + QByteArray::fromStdString(path);
    }

    QString listPath() const { return m_dir.filePath("websites.ini"); }

    // One row per {path, stored length}.
    void fillList(WatchList& list, const std::vector<std::pair<std::string, QByteArray>>& rows)
    {
        // The marks' notes in the window's words.
        list.setNoteWords(checkNoteText);
        std::vector<WatchList::Cells> cells;
        for (const auto& [path, stored] : rows) {
            WatchList::Cells row;
            row.text[WatchList::UrlColumn] = site(path);
            row.text[WatchList::LengthColumn] = stored;
            cells.push_back(row);
        }
        list.replaceSiteRows(std::move(cells));
    }

    struct Run
    {
        CurlDownloadService curl;
        WatchingDownloadService downloads{curl};
        WatchListFile file;
        PageFetcher fetcher;
        RecordingHost host;
        Run(const QString& listPath, const QString& tempFile)
            : file(listPath), fetcher(downloads, tempFile), host(listPath)
        {}
        void visitAll(WatchList& list)
        {
            CheckRun run(list, file, fetcher, host, [] { return Now; });
            QVERIFY(runToEnd(run));
        }
    };

    std::unique_ptr<Run> newRun()
    {
        return std::make_unique<Run>(listPath(), temporaryDownloadPath(m_dir.path()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.http().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.path == "/held")
                m_gate.wait();
            std::lock_guard lock(m_lock);
            if (auto& refusals = m_refusals[req.path]; !refusals.empty()) {
                res.status = refusals.front().first;
                res.set_header("Retry-After", refusals.front().second);
                refusals.erase(refusals.begin());
                return;
            }
            const auto page = m_pages.find(req.path);
            if (page == m_pages.end()) {
                res.status = 404;
                return;
            }
            res.set_content(page->second, "text/html");
        });
        m_server.start();
    }

    void init()
    {
        std::lock_guard lock(m_lock);
        m_pages.clear();
        m_refusals.clear();
        QFile::remove(listPath());
    }

    void outcomeOfOneRow_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("body"); // a null body: the server answers 404
        QTest::addColumn<bool>("boldBefore");
        QTest::addColumn<QByteArray>("updated");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QByteArray>("storedAfter");
        QTest::addColumn<QString>("reason"); // shown on the mark

        const auto page = [](int length) {
            return QByteArray::fromStdString(pageOfTextLength(length));
        };
        const auto row = [](const QByteArray& name, const QByteArray& stored,
                            const QByteArray& body, bool boldBefore, const char* updated, bool bold,
                            const QByteArray& storedAfter, const QString& reason) {
            QTest::newRow(name.constData()) << stored << body << boldBefore << QByteArray(updated)
                                            << bold << storedAfter << reason;
        };
        const QByteArray missing;
        const QString notFound = "The server answered 404 Not Found";
        const auto changed = [](int before, qsizetype after) {
            return QStringLiteral("Changed: %1 \u2192 %2 characters of text")
                .arg(before)
                .arg(after);
        };
        const auto same = [](int length) {
            return QStringLiteral("Unchanged: %1 characters of text").arg(length);
        };
        row("changed, nothing fetched", "120", missing, false, "Not Found", true, "120", notFound);
        row("changed, one character", "120", page(1), false, "Yes", true, "120", changed(120, 1));
        row("changed, two characters", "120", page(2), false, "Yes", true, "2", changed(120, 2));
        row("changed, longer", "120", page(345), false, "Yes", true, "345", changed(120, 345));
        row("same, nothing fetched, stored 0", "0", missing, false, "Error", true, "0", notFound);
        row("same, one character", "1", page(1), true, "No", false, "1", same(1));
        row("same, unchanged length, bold before", "345", page(345), true, "No", false, "345",
            same(345));
        row("stored length with spaces is still a number", " 345 ", page(345), false, "No", false,
            " 345 ", same(345));
        row("new site", {}, page(57), false, "Yes", true, "57", changed(0, 57));
        row("new site, nothing fetched", {}, missing, false, "Error", true, {}, notFound);
        row("not a number counts as 0", "n/a", page(12), false, "Yes", true, "12", changed(0, 12));
        // Decimal numbers only: with these read as numbers an empty page showed "Not Found".
        for (const QByteArray notDecimal : {"nan", "NaN", "inf", "-inf", "infinity", "1e999"})
            row(notDecimal + " counts as 0", notDecimal, missing, false, "Error", true, notDecimal,
                notFound);
        // A page the server delivered is measured, whatever digits or words it holds.
        const QByteArray digits = "<html><head><style>p { color: #404040 }</style></head><body>"
                                  "<p>Call us on 0800 404 123</p></body></html>";
        row("404 in a colour and a phone number", "120", digits, false, "Yes", true,
            QByteArray::number(ReduceHtml(digits).size()), changed(120, ReduceHtml(digits).size()));
        row("words of a resolver's error page", "29",
            "<html><body><p>Unable to resolve the dispute</p></body></html>", false, "No", false,
            "29", same(29));
        row("under 20 bytes", "120", "<p>short</p>", false, "Not Found", true, "120",
            "The page is too short: 12 bytes");
        row("empty page", "0", "", false, "Error", true, "0", "The page is empty");
    }

    void outcomeOfOneRow()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, body);
        QFETCH(bool, boldBefore);
        QFETCH(QByteArray, updated);
        QFETCH(bool, bold);
        QFETCH(QByteArray, storedAfter);
        QFETCH(QString, reason);

        if (!body.isNull())
            setPage("/page", body.toStdString());
        WatchList list;
        fillList(list, {{"/page", stored}});
        list.setCell(1, WatchList::UpdatedColumn, "Yes");
        list.setBold(1, WatchList::UpdatedColumn, boldBefore);
        list.setCell(1, WatchList::LastVisitedColumn, "long ago");

        list.setCurrentCell(1, 1);
        auto run = newRun();
        run->visitAll(list);
        QCOMPARE(list.cell(1, WatchList::UpdatedColumn), updated);
        QCOMPARE(list.isBold(1, WatchList::UpdatedColumn), bold);
        QCOMPARE(list.cell(1, WatchList::LengthColumn), storedAfter);
        QCOMPARE(list.cell(1, WatchList::LastVisitedColumn), Now);
        QCOMPARE(list.markNote(1), reason);
        // The run and its save write cells where they are: the user's current cell stays.
        run->visitAll(list);
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 1);
    }

    // The user hovers over a mark, or a screen reader reads it, to learn why a site failed; the
    // next run that reaches the page puts what it found in the reason's place.
    void reasonOfAFailureIsOnItsMark()
    {
        RefusingPort refusing;
        setPage("/back", pageOfTextLength(30));
        WatchList list;
        fillList(list, {{"/gone", "44"}, {"/back", "30"}});
        list.setCell(1, WatchList::UrlColumn, refusing.url("/").mid(7));
        list.setCell(2, WatchList::UrlColumn, site("/later"));
        auto run = newRun();
        run->visitAll(list);
        const QStringList reasons = {"The server refused the connection",
                                     "The server answered 404 Not Found"};
        for (int row : {1, 2}) {
            const QModelIndex mark = list.index(row - 1, WatchList::UpdatedColumn);
            QCOMPARE(mark.data(Qt::DisplayRole).toString(), QString("Not Found"));
            QCOMPARE(mark.data(Qt::ToolTipRole).toString(), reasons[row - 1]);
            QCOMPARE(mark.data(Qt::AccessibleDescriptionRole).toString(), reasons[row - 1]);
        }
        list.setCell(2, WatchList::UrlColumn, site("/back"));
        run->visitAll(list);
        QCOMPARE(list.cell(2, 2), QByteArray("No"));
        QCOMPARE(list.index(1, WatchList::UpdatedColumn).data(Qt::AccessibleDescriptionRole),
                 QVariant("Unchanged: 30 characters of text"));
    }

    void windowIsToldInOrderAndTheListSaved()
    {
        setPage("/a", pageOfTextLength(30));
        WatchList list;
        fillList(list, {{"/a", "10"}, {"/gone", "44"}});
        auto run = newRun();
        run->visitAll(list);
        QCOMPARE(run->host.calls, (QStringList{"status: Status:  Running...", "busy", "repaint",
                                               "normal", "status: Status:  Done"}));
        const QByteArray expected =
            site("/a") + "\r\n" + Now + "\r\n30\r\n" + site("/gone") + "\r\n" + Now + "\r\n44\r\n";
        QCOMPARE(run->host.fileWhenIdle, expected);
    }

    // An end comes while the second page downloads: the run stops at that page, whatever the
    // page does later, keeps what the first one found, and saves.
    void stopEndsTheRunAtItsPage()
    {
        setPage("/a", pageOfTextLength(30));
        setPage("/held", pageOfTextLength(40));
        WatchList list;
        fillList(list, {{"/a", "10"}, {"/held", "20"}, {"/c", "30"}});
        auto r = newRun();
        CheckRun run(list, r->file, r->fetcher, r->host, [] { return Now; });
        QSignalSpy finished(&run, &CheckRun::finished), stopped(&run, &CheckRun::stopped);
        m_gate.close();
        run.VisitALL();
        QTRY_VERIFY(m_gate.isHolding());
        run.stop();
        m_gate.release();
        QVERIFY(stopped.wait());
        QTest::qWait(50); // the page that was let through must come to nothing
        QCOMPARE(finished.count(), 0);
        QCOMPARE(r->downloads.addresses.size(), 2);
        QCOMPARE(list.cell(1, WatchList::UpdatedColumn), "Yes");
        for (int row = 2; row <= 3; ++row)
            QCOMPARE(list.cell(row, WatchList::UpdatedColumn), "");
        QCOMPARE(r->host.fileWhenIdle, site("/a") + "\r\n" + Now + "\r\n30\r\n" + site("/held") +
                                           "\r\n\r\n20\r\n" + site("/c") + "\r\n\r\n30\r\n");
    }

    // Servers ask for a wait when pages of one site come back to back: a short one is waited for
    // on the event loop, once; a long one, or a second refusal, fails the page at once, saying
    // until when the site asked to wait.
    void siteThatAsksToWait_data()
    {
        QTest::addColumn<Refusals>("refusals");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<QString>("reason");
        const QString askedToWait = "The site asked to wait until ";
        QTest::newRow("429, 1 s") << Refusals{{429, "1"}} << 1000
                                  << QString("Changed: 10 \u2192 30 characters of text");
        QTest::newRow("503, 2 minutes") << Refusals{{503, "120"}} << 0 << askedToWait;
        QTest::newRow("429, 1 s, twice") << Refusals{{429, "1"}, {429, "1"}} << 1000 << askedToWait;
    }

    void siteThatAsksToWait()
    {
        QFETCH(Refusals, refusals);
        QFETCH(int, waitMs);
        QFETCH(QString, reason);
        setPage("/busy", pageOfTextLength(30));
        m_refusals["/busy"] = refusals;
        WatchList list;
        fillList(list, {{"/busy", "10"}});
        auto run = newRun();
        QElapsedTimer clock;
        clock.start();
        run->visitAll(list);
        QVERIFY2(clock.elapsed() >= waitMs && clock.elapsed() < waitMs + 5000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(list.markNote(1).startsWith(reason), qPrintable(list.markNote(1)));
        QCOMPARE(list.cell(1, WatchList::LengthColumn),
                 waitMs && refusals.size() == 1 ? "30" : "10");
        QCOMPARE(run->host.calls.contains("wait:127.0.0.1 for 1 s"), waitMs > 0);
    }

    // A stop, or the program's end, during a wait ends the run at once, and the site is not
    // asked again.
    void stopDuringAWait()
    {
        setPage("/busy", pageOfTextLength(30));
        m_refusals["/busy"] = {{429, "1"}, {429, "1"}};
        WatchList list;
        fillList(list, {{"/busy", "10"}});
        auto r = newRun();
        CheckRun run(list, r->file, r->fetcher, r->host, [] { return Now; });
        QSignalSpy stopped(&run, &CheckRun::stopped);
        run.VisitALL();
        QTRY_VERIFY(r->host.calls.contains("wait:127.0.0.1 for 1 s"));
        QElapsedTimer clock;
        clock.start();
        run.stop();
        QVERIFY(stopped.wait());
        QVERIFY(clock.elapsed() < 900);
        QTest::qWait(1500);
        QCOMPARE(list.cell(1, WatchList::UpdatedColumn), "");
        std::lock_guard lock(m_lock);
        QCOMPARE(m_refusals["/busy"].size(), size_t(1));
    }

    void everyMarkIsClearedBeforeTheFirstFetch()
    {
        WatchList list;
        fillList(list, {{"/a", "1"}, {"/b", "2"}, {"/c", "3"}});
        for (int row = 1; row <= 3; ++row)
            list.setCell(row, WatchList::UpdatedColumn, "Yes");
        auto run = newRun();
        QByteArrayList seenAtFirstFetch;
        run->downloads.beforeDownload = [&](const QByteArray&) {
            if (seenAtFirstFetch.isEmpty())
                for (int row = 1; row <= 3; ++row)
                    seenAtFirstFetch << list.cell(row, WatchList::UpdatedColumn);
        };
        run->visitAll(list);
        QCOMPARE(seenAtFirstFetch, (QByteArrayList{"", "", ""}));
        QCOMPARE(run->downloads.addresses,
                 (QByteArrayList{"http://" + site("/a"), "http://" + site("/b"),
                                 "http://" + site("/c")}));
    }

    void pagesThatChangeBetweenRuns()
    {
        setPage("/news", pageOfTextLength(100, 'a'));
        setPage("/blog", pageOfTextLength(50, 'a'));
        WatchList list;
        fillList(list, {{"/news", ""}, {"/blog", ""}});
        auto run = newRun();
        run->visitAll(list);
        QCOMPARE(list.cell(1, 2), QByteArray("Yes"));
        QCOMPARE(list.cell(2, 2), QByteArray("Yes"));

        // Same length, other text: no change seen. Another length: a change.
        setPage("/news", pageOfTextLength(100, 'b'));
        setPage("/blog", pageOfTextLength(51, 'a'));
        run->visitAll(list);
        QCOMPARE(list.cell(1, 2), QByteArray("No"));
        QCOMPARE(list.cell(2, 2), QByteArray("Yes"));
        QCOMPARE(list.cell(2, 3), QByteArray("51"));

        // A page that fails keeps its length, so its return is compared with what it was.
        setPage("/blog", "");
        run->visitAll(list);
        QCOMPARE(list.cell(2, 2), QByteArray("Not Found"));
        QCOMPARE(list.cell(2, 3), QByteArray("51"));
        setPage("/blog", pageOfTextLength(51, 'z'));
        run->visitAll(list);
        QCOMPARE(list.cell(2, 2), QByteArray("No"));
    }

    void newSiteIsNeverJudgedByItsNeighbour()
    {
        // The first row's stored length equals the new site's page length: only a comparison
        // value carried over from that row would hide the new site's change.
        setPage("/old", pageOfTextLength(80));
        setPage("/new", pageOfTextLength(80));
        WatchList list;
        fillList(list, {{"/old", "80"}, {"/new", ""}});
        auto run = newRun();
        run->visitAll(list);
        QCOMPARE(list.cell(1, 2), QByteArray("No"));
        QCOMPARE(list.cell(2, 2), QByteArray("Yes"));
        QCOMPARE(list.cell(2, 3), QByteArray("80"));
    }

    void fetchThatFailsIsJudgedEmptyNotAsThePreviousPage()
    {
        setPage("/a", pageOfTextLength(40));
        setPage("/b", pageOfTextLength(40));
        WatchList list;
        fillList(list, {{"/a", "40"}, {"/b", "90"}});
        auto run = newRun();
        run->downloads.claimWithoutFile = "http://" + site("/b");
        run->visitAll(list);
        QCOMPARE(list.cell(1, 2), QByteArray("No"));
        QCOMPARE(list.cell(2, 2), QByteArray("Not Found"));
        QCOMPARE(list.cell(2, 3), QByteArray("90"));
    }

    void addressFetchedForTheCell_data()
    {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QByteArray>("fetched");
        QTest::newRow("empty: the scheme alone") << QByteArray() << QByteArray("http://");
        QTest::newRow("no scheme") << QByteArray("a.example/x") << QByteArray("http://a.example/x");
        QTest::newRow("https pasted from a browser")
            << QByteArray("https://a.example/x") << QByteArray("https://a.example/x");
        QTest::newRow("http in capitals, as the edit dialog keeps it")
            << QByteArray("HTTP://a.example/X") << QByteArray("HTTP://a.example/X");
        QTest::newRow("https in mixed case")
            << QByteArray("hTTps://a.example") << QByteArray("hTTps://a.example");
        QTest::newRow("any other scheme gets http in front")
            << QByteArray("ftp://a.example") << QByteArray("http://ftp://a.example");
        QTest::newRow("a scheme cut short gets http in front")
            << QByteArray("https:/a.example") << QByteArray("http://https:/a.example");
        // As pasted from a mail: the blanks around an address are not part of it.
        QTest::newRow("space after a path")
            << QByteArray("a.example/page ") << QByteArray("http://a.example/page");
        QTest::newRow("tab before a typed scheme")
            << QByteArray("\thttps://a.example") << QByteArray("https://a.example");
        QTest::newRow("spaces inside stay")
            << QByteArray(" \ta.example/my page \t ") << QByteArray("http://a.example/my page");
    }

    void addressFetchedForTheCell()
    {
        QFETCH(QByteArray, cell);
        QFETCH(QByteArray, fetched);
        WatchList list;
        fillList(list, {{"", "0"}});
        list.setCell(1, WatchList::UrlColumn, cell);
        auto run = newRun();
        run->downloads.offline = true;
        run->visitAll(list);
        QCOMPARE(run->downloads.addresses, QByteArrayList{fetched});
        QCOMPARE(list.cell(1, 2), QByteArray("Error"));
        QCOMPARE(list.cell(1, WatchList::UrlColumn), cell);
    }

    void listWithoutSitesStillSavesAndEnds()
    {
        WatchList list;
        fillList(list, {{"/a", "1"}});
        QVERIFY(list.RemoveItem(1));
        QCOMPARE(list.Rows(), 1);
        QFile old(listPath());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\r\n\r\n\r\n");
        old.close();
        auto run = newRun();
        run->visitAll(list);
        QVERIFY(run->downloads.addresses.isEmpty());
        QCOMPARE(run->host.fileWhenIdle, QByteArray());
        QCOMPARE(run->host.calls.last(), QStringLiteral("status: Status:  Done"));
    }

    void failedSaveStillEndsTheRun()
    {
        setPage("/a", pageOfTextLength(30));
        WatchList list;
        fillList(list, {{"/a", "10"}});
        QVERIFY(QDir().mkpath(listPath())); // a directory where the file should be
        auto run = newRun();
        run->visitAll(list);
        QVERIFY(QDir().rmdir(listPath()));
        QCOMPARE(list.cell(1, 2), QByteArray("Yes"));
        QVERIFY(run->host.calls.last().startsWith("status:" + NotSavedStatusText));
    }
};

QTEST_GUILESS_MAIN(TestCheckRun)
#include "tst_checkrun.moc"
