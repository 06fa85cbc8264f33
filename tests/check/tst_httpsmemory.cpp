// SPDX-License-Identifier: MIT
// What the https memory keeps, against real servers on 127.0.0.1 and real files: the rules it
// claims, two Korvanes sharing its files, and files that are not what they should be.
#include "curldownloadservice.h"
#include "fetchnow.h"
#include "httpsmemory.h"
#include "testfiles.h"
#include "testserver.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <vector>

class TestHttpsMemory : public QObject
{
    Q_OBJECT

    static constexpr char Sts[] = "Strict-Transport-Security";
    TestServer m_plain, m_secure{true};
    QTemporaryDir m_pages;
    const QByteArray m_in30Days = QByteArray::number(QDateTime::currentSecsSinceEpoch() + 86400);

private Q_SLOTS:
    void initTestCase()
    {
        // https://localhost/sts sends a Strict-Transport-Security header for each "v" asked;
        // https://localhost/back has moved back to http.
        m_secure.http().Get(R"(/(\w+))", [](const httplib::Request& req, httplib::Response& res) {
            std::vector<std::string> asked;
            for (const auto& [name, value] : req.params)
                asked.push_back(value);
            // Sent in the order asked, whichever order the server keeps headers of one name in.
            for (const bool reversed : {false, true}) {
                res.headers.clear();
                for (size_t i = 0; i < asked.size(); ++i)
                    res.set_header(Sts, asked[reversed ? asked.size() - 1 - i : i]);
                const auto [sent, end] = res.headers.equal_range(Sts);
                if (std::equal(sent, end, asked.begin(), asked.end(),
                               [](const auto& header, const auto& value) {
                                   return header.second == value;
                               }))
                    break;
            }
            if (req.path == "/back")
                res.set_redirect("http://localhost/back", 301);
        });
        m_plain.http().Get(R"(/(.+))", [](const httplib::Request& req, httplib::Response& res) {
            if (req.path == "/back")
                res.set_content("<p>moved back</p>", "text/html");
            else
                res.set_redirect("https://localhost/sts" + req.target.substr(7), 301);
        });
        m_plain.start();
        m_secure.start();
    }

    // Each row teaches the memory (a page fetched, or a line put in a file) and asks whether an
    // http address is then fetched over https, by a Korvane started afterwards.
    void rulesAsWritten_data()
    {
        QTest::addColumn<QByteArrayList>("taught");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<QByteArray>("scheme");
        const QByteArray sts = "https://localhost/sts?v=", local = "http://localhost/",
                         ahead = " 0 20990101 00:00:00",
                         moved = "https-redirects.txt: http://a.test/ ";
        const auto row = [](const char* name, const QByteArrayList& taught, const QByteArray& asked,
                            const char* scheme) {
            QTest::newRow(name) << taught << asked << QByteArray(scheme);
        };
        row("malformed max-age", {sts + "max-age%3D3600junk"}, local, "http");
        row("first header counts", {sts + "max-age%3D3600&v=max-age%3D0"}, local, "https");
        row("max-age past the clock", {sts + "max-age%3D1" + QByteArray(17, '0')}, local, "https");
        row("max-age=0 on a redirect's target",
            {"hsts.txt: localhost" + ahead, "PLAIN/to-sts?v=max-age%3D0"}, local, "http");
        row("IP address", {"hsts.txt: 127.0.0.1" + ahead}, "http://127.0.0.1/", "http");
        row("IDN as punycode", {"hsts.txt: xn--bcher-kva.test" + ahead}, "http://bücher.test/",
            "https");
        row("case and trailing dot", {"hsts.txt: A.Test" + ahead}, "http://a.test./", "https");
        row("redirect to another host", {moved + "https://b.test/ " + m_in30Days}, "http://a.test/",
            "http");
        row("redirect kept for years", {moved + "https://a.test/ 4102444800"}, "http://a.test/",
            "http");
        row("invalid redirect target", {moved + "https://a.test:99999/ " + m_in30Days},
            "http://a.test/", "http");
        row("site moved back to http",
            {"https-redirects.txt: " + local + "back https://localhost/back " + m_in30Days,
             local + "back"},
            local + "back", "http");
    }

    void rulesAsWritten()
    {
        QFETCH(QByteArrayList, taught);
        QFETCH(QByteArray, asked);
        QFETCH(QByteArray, scheme);
        QTemporaryDir memory;
        DownloadLimits limits;
        limits.trustedCertificates = testCaCertificates();
        limits.httpsMemoryDirectory = memory.path();
        limits.connectTo = {"localhost:80:" + m_plain.hostAndPort(),
                            "localhost:443:" + m_secure.hostAndPort()};
        {
            CurlDownloadService service(limits);
            for (QByteArray taking : taught) {
                const qsizetype file = taking.indexOf(".txt: ") + 4;
                if (file > 3)
                    QVERIFY(
                        writeFile(memory.filePath(taking.first(file)), taking.sliced(file + 2)));
                else
                    downloadNow(service, taking.replace("PLAIN", "http://" + m_plain.hostAndPort()),
                                m_pages.filePath("page"));
            }
        }
        QCOMPARE(HttpsMemory(memory.path()).addressToFetch(PageAddress(asked)).scheme(), scheme);
    }

    // Two Korvanes on one cache folder learn a site each and save in turn: both sites are kept,
    // in both. A file deleted while they are open forgets what it held, in both.
    void twoMemoriesShareTheFile()
    {
        QTemporaryDir folder;
        HttpsMemory first(folder.path()), second(folder.path()), third(folder.path());
        const auto learn = [](HttpsMemory& memory, const QByteArray& site) {
            memory.rememberRedirect(PageAddress("http://" + site), PageAddress("https://" + site));
            memory.save();
        };
        const auto schemes = [](HttpsMemory& memory, const QByteArrayList& sites) {
            memory.refresh();
            QByteArray seen;
            for (const QByteArray& site : sites)
                seen += memory.addressToFetch(PageAddress("http://" + site)).scheme() + ' ';
            return seen;
        };
        QCOMPARE(schemes(first, {"a.test/"}) + schemes(second, {"a.test/"}), "http http ");
        learn(first, "a.test/");
        learn(second, "b.test/");
        learn(first, "c.test/");
        for (HttpsMemory* memory : {&first, &second})
            QCOMPARE(schemes(*memory, {"a.test/", "b.test/", "c.test/"}), "https https https ");
        QVERIFY(QFile::remove(folder.filePath("https-redirects.txt")));
        learn(second, "d.test/");
        for (HttpsMemory* memory : {&first, &second, &third})
            QCOMPARE(schemes(*memory, {"a.test/", "d.test/"}), "http https ");
    }

    // In the redirects file's place: a pipe, or 4 MiB of good lines. Each is read as nothing, at
    // once, and left as it was by the next save.
    void strangeFileIsReadAsNothing()
    {
        const QByteArray line = "http://a.test/ https://a.test/ " + m_in30Days + '\n';
        for (const bool pipe : {true, false}) {
            QTemporaryDir folder;
            const QString path = folder.filePath("https-redirects.txt");
            QVERIFY(pipe ? ::mkfifo(QFile::encodeName(path), 0600) == 0
                         : writeFile(path, line.repeated(4 * 1024 * 1024 / 40)));
            const FileStamp before = stampOf(path);
            HttpsMemory memory(folder.path());
            QCOMPARE(memory.addressToFetch(PageAddress("http://a.test/")).scheme(), "http");
            memory.rememberRedirect(PageAddress("http://b.test/"), PageAddress("https://b.test/"));
            memory.save();
            QVERIFY(stampOf(path) == before);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpsMemory)
#include "tst_httpsmemory.moc"
