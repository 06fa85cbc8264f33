// SPDX-License-Identifier: MIT
// Check runs and shut-down saves on files, directories and disks that refuse to be written:
// every row still gets its mark, the run still ends, and websites.ini never loses a byte.
#include "checkrun.h"
#include "checkrunfixtures.h"
#include "checktools.h"
#include "childprocess.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "fetchnow.h"
#include "findingsfile.h"
#include "httpsmemory.h"
#include "listatstartandend.h"
#include "listsave.h"
#include "mainwindow.h"
#include "messageboxanswerer.h"
#include "sitedialogs.h"
#include "testfiles.h"
#include "testserver.h"
#include "urlopener.h"
#include "watchlist.h"
#include "watchlistfile.h"
#include "windowclicks.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QByteArray Earlier = "07/12/2026 10:00:00";

// The list every case starts from: a page that changed, one that did not, one that is gone and
// one that is gone and was never found. Served pages: /one has 30 characters of text, /two 45.
struct Site
{
    const char* path;
    QByteArray stored;
};
const Site Sites[] = {{"/one", "5"}, {"/two", "45"}, {"/gone", "12"}, {"/never", "0"}};

// What each row shows and stores after a run.
using Marks = QByteArrayList;
const Marks AsUsual = {"Yes", "30", "No", "45", "Not Found", "12", "Error", "0"};
const Marks NothingFetched = {"Not Found", "5", "Not Found", "45", "Not Found", "12", "Error", "0"};
// Sites the user entered anew after the list could not be read: no stored lengths yet.
const Marks NewSites = {"Yes", "30", "Yes", "45", "Error", "", "Error", ""};

// Every name under `dir` with its size, so that a test sees anything added, removed or resized.
QStringList snapshot(const QString& dir)
{
    QStringList entries;
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& info : QDir(dir).entryInfoList(all, QDir::Name)) {
        entries << info.fileName() + (info.isDir() ? "/" : ":" + QString::number(info.size()));
        if (info.isDir() && !info.isSymLink())
            for (const QString& inner : snapshot(info.filePath()))
                entries << info.fileName() + "/" + inner;
    }
    return entries;
}

class NoOpener final : public UrlOpener
{
public:
    void open(const QByteArray&) override {}
};

// A small tmpfs filled to the last block, as a full disk. Unmounted when it goes away.
class FullDisk
{
public:
    explicit FullDisk(QString dir) : m_dir(std::move(dir)) {}
    ~FullDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir).constData(), MNT_DETACH);
    }
    // Empty on success, otherwise why the disk could not be made.
    QString mount()
    {
        if (::mount("tmpfs", QFile::encodeName(m_dir).constData(), "tmpfs", 0,
                    "size=64k,mode=0777") != 0)
            return QStringLiteral("cannot mount a tmpfs here (%1); the file size limit rows "
                                  "of checkRunOnAFullDisk and firstStartOnAFullDisk stand in")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_mounted = true;
        return {};
    }
    bool fill()
    {
        QFile filler(QDir(m_dir).filePath("filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(512, 'f');
        while (filler.write(block) == block.size()) {
        }
        return filler.size() > 0;
    }

private:
    QString m_dir;
    bool m_mounted = false;
};

QByteArray listBytes(const QByteArray& host, const QByteArray& visited, const Marks& marks = {})
{
    QByteArray bytes;
    int i = 0;
    for (const Site& site : Sites) {
        const QByteArray stored = marks.isEmpty() ? site.stored : marks[2 * i + 1];
        bytes += host + site.path + "\r\n" + visited + "\r\n" + stored + "\r\n";
        ++i;
    }
    return bytes;
}

// In a child: every file write past 16 bytes fails, as on a disk that is full.
void fileSizeLimit()
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{16, 16};
    setrlimit(RLIMIT_FSIZE, &small);
}

// The user types the sites in again after a list that could not be read.
void enterSites(WatchList& list, const QByteArray& host)
{
    list.setCell(1, WatchList::UrlColumn, host + Sites[0].path);
    for (size_t i = 1; i < std::size(Sites); ++i)
        list.AddItem(host + Sites[i].path);
}

Marks marksOf(const WatchList& list)
{
    Marks marks;
    for (int row = 1; row < list.Rows(); ++row)
        marks << list.cell(row, WatchList::UpdatedColumn)
              << list.cell(row, WatchList::LengthColumn);
    return marks;
}

int report(const QByteArrayList& lines)
{
    const QByteArray bytes = lines.join('\n');
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
               ? 0
               : 99;
}

// A whole check run as the program makes one, then the save of shut-down. Arguments: the data
// directory, the server's host and port, and what goes first ("reenter": the user types the
// sites in again; "size limit": the disk is as good as full). The report: the marks, the last
// status text, whether the pointer is back to normal, and the outcome of the shut-down save.
const ChildBody checkRunThenShutDown("check run then shut-down", [](const QStringList& args) {
    const QString dir = args.value(0);
    if (args.contains("size limit"))
        fileSizeLimit();
    // The test wrote the list a moment ago, and wrote it whole.
    WatchListFile file(dir + "/websites.ini", std::chrono::milliseconds(0));
    WatchList list;
    startUpWatchList(list, file);
    if (args.contains("reenter"))
        enterSites(list, args.value(1).toUtf8());
    CurlDownloadService curl;
    PageFetcher fetcher(curl, temporaryDownloadPath(dir));
    RecordingHost host;
    CheckRun run(list, file, fetcher, host, fixedClock);
    runToEnd(run);
    const SaveOutcome atShutDown = saveWatchListAtShutDown(list, file);
    return report(marksOf(list) << host.status.toUtf8() << (host.busy ? "busy" : "idle")
                                << QByteArray::number(int(atShutDown)));
});

// Start-up with no list yet. Arguments: the list's path, and "size limit" for a full disk.
const ChildBody firstStart("first start", [](const QStringList& args) {
    if (args.contains("size limit"))
        fileSizeLimit();
    WatchListFile file(args.value(0));
    WatchList list;
    const LoadOutcome outcome = startUpWatchList(list, file);
    return report({QByteArray::number(int(outcome)) + ' ' + list.cell(1, 0) + ' ' +
                   QByteArray::number(list.Rows())});
});

// The memory of https sites saved when the disk takes only 16 bytes more. Argument: its folder.
const ChildBody rememberOnAFullDisk("remember on a full disk", [](const QStringList& args) {
    fileSizeLimit();
    HttpsMemory memory(args.value(0));
    memory.rememberRedirect(PageAddress("http://new.example/page"),
                            PageAddress("https://new.example/page"));
    memory.save();
    return report({});
});

// What a child reported, or nothing when it did not end normally (a crash shows up here).
QByteArray reportFromChild(const ChildBody& body, const QStringList& args, bool unprivileged)
{
    const ChildOutcome child = runInChild(body, args, unprivileged);
    if (!child.ended())
        qWarning("%s", qPrintable(child.failure));
    return child.ended() && child.status == 0 ? child.output : QByteArray();
}

} // namespace

class TestFileFaults : public QObject
{
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_root;
    QString m_dir; // the data directory of the current case
    int m_case = 0;

    QString listPath() const { return m_dir + "/websites.ini"; }

    // The earlier list on disk, or in its place the fault the row names: a directory (holding
    // a file of its own) or a read-only list.
    bool plantList(const QString& fault) const
    {
        if (fault == "directory")
            return QDir().mkdir(listPath()) && writeFile(listPath() + "/inside.txt", "kept\r\n");
        if (!writeFile(listPath(), oldList()))
            return false;
        return fault != "read-only file" ||
               QFile::setPermissions(listPath(), QFile::Permissions(0x4444));
    }
    QByteArray oldList() const { return listBytes(m_server.hostAndPort(), Earlier); }
    QStringList childArguments(const QString& first = {}) const
    {
        return {m_dir, QString::fromUtf8(m_server.hostAndPort()), first};
    }
    QByteArray savedList(const Marks& marks) const
    {
        return listBytes(m_server.hostAndPort(), Now, marks);
    }

    struct Report
    {
        Marks marks;
        QString status;
        QByteArray pointer;
        int shutDownSave = -1;
    };

    static bool parse(const QByteArray& bytes, Report& report)
    {
        const QByteArrayList parts = bytes.split('\n');
        if (parts.size() < 3)
            return false;
        report.marks = parts.mid(0, parts.size() - 3);
        report.status = QString::fromUtf8(parts[parts.size() - 3]);
        report.pointer = parts[parts.size() - 2];
        report.shutDownSave = parts.last().toInt();
        return true;
    }

    std::unique_ptr<MainWindow> openWindow(Options options = {})
    {
        // The test wrote the list a moment ago, and wrote it whole; a failed save is tried
        // again soon.
        options.settleTime = std::chrono::milliseconds(1);
        options.saveRetryTime = std::chrono::milliseconds(50);
        auto window = std::make_unique<MainWindow>(m_dir, std::make_unique<NoOpener>(),
                                                   curlCheckTools(m_dir), options);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("window not exposed");
        return window;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // An ordinary user must reach the case directories below.
        QVERIFY(QFile::setPermissions(m_root.path(), QFile::Permissions(0x7777)));
        m_server.http().Get("/one", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageOfTextLength(30), "text/html");
        });
        m_server.http().Get("/two", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageOfTextLength(45), "text/html");
        });
        m_server.start();
    }

    void init()
    {
        m_dir = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QVERIFY(QDir().mkpath(m_dir));
        QVERIFY(QFile::setPermissions(m_dir, QFile::Permissions(0x7777)));
    }

    void cleanup()
    {
        // Whatever a case locked, the temporary directory must be able to go.
        QFile::setPermissions(m_dir, QFile::Permissions(0x7777));
    }

    void checkRunWhenTheListCannotBeSaved_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<Marks>("marks");
        QTest::addColumn<SaveOutcome>("save");

        QTest::newRow("read-only websites.ini")
            << "read-only file" << false << AsUsual << SaveOutcome::ReadOnlyFile;
        QTest::newRow("read-only websites.ini, ordinary user")
            << "read-only file" << true << AsUsual << SaveOutcome::ReadOnlyFile;
        // The temporary download file lives in the same directory, so nothing can be fetched;
        // the list, which the user may write, is written in place.
        QTest::newRow("directory that cannot be written, ordinary user")
            << "locked directory" << true << NothingFetched << SaveOutcome::Saved;
        QTest::newRow("websites.ini is a directory")
            << "directory" << false << NewSites << SaveOutcome::KeptUnreadableFile;
        QTest::newRow("websites.ini is a directory, ordinary user")
            << "directory" << true << NewSites << SaveOutcome::KeptUnreadableFile;
    }

    void checkRunWhenTheListCannotBeSaved()
    {
        QFETCH(QString, fault);
        QFETCH(bool, unprivileged);
        QFETCH(Marks, marks);
        QFETCH(SaveOutcome, save);

        const bool directory = fault == "directory";
        QVERIFY(plantList(fault));
        if (fault == "locked directory") {
            QVERIFY(QFile::setPermissions(listPath(), QFile::Permissions(0x6666)));
            QVERIFY(QFile::setPermissions(m_dir, QFile::Permissions(0x5555)));
        }
        const QStringList before = snapshot(m_dir);
        const auto permissions = QFile::permissions(listPath());

        Report report;
        QVERIFY(parse(reportFromChild(checkRunThenShutDown,
                                      childArguments(directory ? "reenter" : ""), unprivileged),
                      report));
        QCOMPARE(report.marks, marks);
        QCOMPARE(report.status.startsWith(NotSavedStatusText), save != SaveOutcome::Saved);
        QCOMPARE(report.pointer, QByteArray("idle"));
        QCOMPARE(report.shutDownSave, int(save));

        // Nothing lost, nothing left behind.
        QCOMPARE(QFile::permissions(listPath()), permissions);
        if (save == SaveOutcome::Saved) {
            QCOMPARE(readFile(listPath()), savedList(marks));
            QCOMPARE(snapshot(m_dir).size(), before.size());
        } else {
            QCOMPARE(snapshot(m_dir), before);
        }
        if (directory)
            QCOMPARE(readFile(listPath() + "/inside.txt"), QByteArray("kept\r\n"));
        else if (save != SaveOutcome::Saved)
            QCOMPARE(readFile(listPath()), oldList());
    }

    void checkRunWhenNoDownloadFileCanBeMade_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("unprivileged");

        QTest::newRow("KVtemp.txt.part is a directory") << "part directory" << false;
        QTest::newRow("KVtemp.txt is a directory") << "target directory" << false;
        QTest::newRow("KVtemp.txt.part is read-only, ordinary user") << "part read-only" << true;
    }

    void checkRunWhenNoDownloadFileCanBeMade()
    {
        QFETCH(QString, fault);
        QFETCH(bool, unprivileged);

        QVERIFY(writeFile(listPath(), oldList()));
        QVERIFY(QFile::setPermissions(listPath(), QFile::Permissions(0x6666)));
        const QString part = temporaryDownloadPath(m_dir) + ".part";
        if (fault == "part directory")
            QVERIFY(QDir().mkdir(part));
        if (fault == "target directory")
            QVERIFY(QDir().mkdir(temporaryDownloadPath(m_dir)));
        if (fault == "part read-only") {
            QVERIFY(writeFile(part, "someone else's"));
            QVERIFY(QFile::setPermissions(part, QFile::Permissions(0x4444)));
        }
        const QStringList blocker = snapshot(m_dir).filter(QRegularExpression("^KVtemp"));
        QVERIFY(!blocker.isEmpty());

        Report report;
        QVERIFY(
            parse(reportFromChild(checkRunThenShutDown, childArguments(), unprivileged), report));
        QCOMPARE(report.marks, NothingFetched);
        QCOMPARE(report.status, DoneStatusText);
        QCOMPARE(report.pointer, QByteArray("idle"));
        QCOMPARE(report.shutDownSave, int(SaveOutcome::Saved));

        // The list is saved with this run's visits; what was in the way is left as it was.
        QCOMPARE(readFile(listPath()), savedList(NothingFetched));
        QCOMPARE(snapshot(m_dir).filter(QRegularExpression("^KVtemp")), blocker);
        QCOMPARE(snapshot(m_dir).size(), blocker.size() + 1);
    }

    void checkRunOnAFullDisk_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::newRow("tmpfs of 64 KiB, filled") << true;
        QTest::newRow("file size limit of 16 bytes") << false;
    }

    void checkRunOnAFullDisk()
    {
        QFETCH(bool, tmpfs);

        FullDisk disk(m_dir);
        if (tmpfs) {
            if (const QString why = disk.mount(); !why.isEmpty())
                QSKIP(qPrintable(why));
            QVERIFY(writeFile(listPath(), oldList()));
            QVERIFY(disk.fill());
        } else {
            QVERIFY(writeFile(listPath(), oldList()));
        }
        const QStringList before = snapshot(m_dir);

        Report report;
        QVERIFY2(parse(reportFromChild(checkRunThenShutDown,
                                       childArguments(tmpfs ? "" : "size limit"), false),
                       report),
                 "the check run did not end normally");
        QCOMPARE(report.marks, NothingFetched);
        QVERIFY(report.status.startsWith(NotSavedStatusText));
        QCOMPARE(report.pointer, QByteArray("idle"));
        QVERIFY2(report.shutDownSave == int(SaveOutcome::WriteFailed) ||
                     report.shutDownSave == int(SaveOutcome::CommitFailed),
                 qPrintable(QString::number(report.shutDownSave)));
        QCOMPARE(readFile(listPath()), oldList());
        QCOMPARE(snapshot(m_dir), before);
    }

    void firstStartOnAFullDisk_data() { checkRunOnAFullDisk_data(); }

    void firstStartOnAFullDisk()
    {
        QFETCH(bool, tmpfs);

        FullDisk disk(m_dir);
        if (tmpfs) {
            if (const QString why = disk.mount(); !why.isEmpty())
                QSKIP(qPrintable(why));
            QVERIFY(disk.fill());
        }
        const QStringList before = snapshot(m_dir);

        // No list yet: the program starts from its default site whether or not that can be
        // written, and a default record the disk cut short is never left as the list.
        const QByteArray report =
            reportFromChild(firstStart, {listPath(), tmpfs ? "" : "size limit"}, false);
        QCOMPARE(report, QByteArray::number(int(LoadOutcome::DefaultNotWritten)) + ' ' +
                             DefaultSiteAddress + " 2");
        QCOMPARE(snapshot(m_dir), before);
    }

    // The cache of https sites on a disk that is as good as full: the memory it had stays
    // whole, never a file the disk cut short.
    void httpsMemoryOnAFullDisk()
    {
        const QByteArray old = "http://old.example/page https://old.example/page 4102444800\n";
        QVERIFY(writeFile(m_dir + "/https-redirects.txt", old));
        QCOMPARE(reportFromChild(rememberOnAFullDisk, {m_dir}, false), QByteArray());
        QCOMPARE(readFile(m_dir + "/https-redirects.txt"), old);
    }

    // What checks found of the sites cannot be kept: the disk is full, or the findings file is
    // a link that another user planted. Its file stays as it was, and the marks are as ever.
    void findingsThatCannotBeKept_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("full disk (tmpfs of 64 KiB, filled)") << "full disk";
        QTest::newRow("another user's link") << "link";
    }

    void findingsThatCannotBeKept()
    {
        QFETCH(QString, fault);
        Options options;
        options.findingsDirectory = m_dir + "/state";
        QVERIFY(QDir().mkpath(options.findingsDirectory));
        FullDisk disk(options.findingsDirectory);
        if (fault == "full disk") {
            if (const QString why = disk.mount(); !why.isEmpty())
                QSKIP(qPrintable(why));
        } else if (::geteuid() != 0) {
            QSKIP("only root can plant a link that belongs to another user");
        }
        QVERIFY(plantList({}));
        const auto goLookAndClose = [&]() -> Marks {
            auto window = openWindow(options);
            window->findChild<QAction*>("golook")->trigger();
            if (!waitForCheckRun(*window))
                return {"the run did not end"};
            window->close();
            return marksOf(window->watchList());
        };
        QCOMPARE(goLookAndClose(), AsUsual);
        const QString findings = findingsPath(options.findingsDirectory, listPath());
        const QByteArray kept = readFile(findings);
        QVERIFY(kept.startsWith("Korvane findings 1\n"));
        if (fault == "full disk") {
            QVERIFY(disk.fill());
        } else {
            QVERIFY(QFile::rename(findings, m_dir + "/elsewhere"));
            QVERIFY(QFile::link(m_dir + "/elsewhere", findings));
            QCOMPARE(::lchown(QFile::encodeName(findings).constData(), 65534, 65534), 0);
        }
        const QStringList before = snapshot(options.findingsDirectory);

        // The second run finds /one unchanged, which the findings would keep.
        const Marks second = {"No", "30", "No", "45", "Not Found", "12", "Error", "0"};
        QCOMPARE(goLookAndClose(), second);
        QCOMPARE(readFile(findings), kept);
        QCOMPARE(snapshot(options.findingsDirectory), before);
        QCOMPARE(QFileInfo(findings).isSymLink(), fault == "link");
    }

    // A logout (here its end signal) cannot write the list: the sites added since it was last
    // saved go to a recovery file in the per-user data folder.
    void endSignalKeepsAListThatCannotBeSaved()
    {
        QVERIFY(plantList("read-only file"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir + "/data"));
        auto window = openWindow();
        window->watchList().AddItem("added.example");
        window->endOnRequest();
        QCOMPARE(readFile(listPath()), oldList());
        const QDir data(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        const QStringList kept = data.entryList({"websites-unsaved-*.ini"}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readFile(data.filePath(kept.front())), oldList() + "added.example\r\n\r\n\r\n");
        qunsetenv("XDG_DATA_HOME");
    }

    // The disk is full when a change is saved. Another program's edit, which fits in the
    // file's last block, is taken, and "Not saved" stays; the change follows once there is room.
    void notSavedStaysUntilASaveSucceeds()
    {
        FullDisk disk(m_dir);
        if (const QString why = disk.mount(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(writeFile(listPath(), oldList()));
        QVERIFY(disk.fill());
        auto window = openWindow();
        window->findChild<QAction*>("removemenu")->trigger(); // the last site
        const auto notSaved = [&] {
            return window->statusLine()->text().startsWith(NotSavedStatusText);
        };
        QVERIFY(notSaved());

        const QByteArray added = "added.example\n\n\n";
        QFile append(listPath());
        QVERIFY(append.open(QIODevice::Append) && append.write(added) == added.size());
        append.close();
        QTRY_COMPARE(window->watchList().cell(window->watchList().Rows() - 1, 0),
                     QByteArray("added.example"));
        QTest::qWait(200);
        QVERIFY(notSaved());

        QVERIFY(QFile::remove(m_dir + "/filler"));
        QTRY_COMPARE(window->statusLine()->text(), SavedAgainStatusText);
        const QByteArray old = oldList();
        QCOMPARE(readFile(listPath()),
                 old.first(old.lastIndexOf(m_server.hostAndPort())) + "added.example\r\n\r\n\r\n");
    }

    // A file of binary data in the list's place is never written over: said on the status
    // line, a change goes at once to the recovery file it names, and the next start points to
    // that file.
    void aFileThatIsNoListIsToldAndLeftAlone()
    {
        const QByteArray binary = QByteArray(4096, 'b').insert(7, '\0');
        QVERIFY(writeFile(listPath(), binary));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir + "/data"));
        auto window = openWindow();
        QTRY_COMPARE(window->statusLine()->text(), NotAListStatusText);
        window->findChild<QAction*>("editmenu")->trigger();
        window->editDialog()->addressField()->setText("mine.example");
        window->editDialog()->findChild<QPushButton*>("Command1")->click();
        const QDir data(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        const QStringList kept = data.entryList({"websites-unsaved-*.ini"}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readFile(data.filePath(kept.front())), "mine.example\r\n\r\n\r\n");
        QVERIFY(window->statusLine()->text().endsWith(data.filePath(kept.front())));
        // The close says where the list is, and keeps it in the same file.
        MessageBoxAnswerer answerer(QMessageBox::Discard);
        window->close();
        QCOMPARE(answerer.seen.count, 1);
        window = openWindow();
        QVERIFY(window->statusLine()->text().endsWith(data.filePath(kept.front())));
        window->close();
        QCOMPARE(answerer.seen.count, 1);
        QCOMPARE(readFile(listPath()), binary);
        QCOMPARE(data.entryList({"websites-unsaved-*.ini"}, QDir::Files), kept);
        qunsetenv("XDG_DATA_HOME");
    }

    void windowGoLookThenClose_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Marks>("marks");
        QTest::addColumn<bool>("saved");

        QTest::newRow("read-only websites.ini") << "read-only file" << AsUsual << false;
        QTest::newRow("websites.ini is a directory") << "directory" << NewSites << false;
        QTest::newRow("KVtemp.txt.part is a directory")
            << "part directory" << NothingFetched << true;
        QTest::newRow("full disk (tmpfs of 64 KiB, filled)")
            << "full disk" << NothingFetched << false;
    }

    void windowGoLookThenClose()
    {
        QFETCH(QString, fault);
        QFETCH(Marks, marks);
        QFETCH(bool, saved);

        FullDisk disk(m_dir);
        if (fault == "full disk") {
            if (const QString why = disk.mount(); !why.isEmpty())
                QSKIP(qPrintable(why));
        }
        const bool directory = fault == "directory";
        QVERIFY(plantList(fault));
        if (fault == "part directory")
            QVERIFY(QDir().mkdir(temporaryDownloadPath(m_dir) + ".part"));
        if (fault == "full disk")
            QVERIFY(disk.fill());
        const QStringList before = snapshot(m_dir);

        // The run's visit times are unsaved changes: a list that cannot be written is told of
        // at the close, and this test closes without saving.
        MessageBoxAnswerer answerer(QMessageBox::Discard);
        auto window = openWindow();
        WatchList& list = window->watchList();
        if (directory) {
            QCOMPARE(window->loadOutcome(), LoadOutcome::Unreadable);
            enterSites(list, m_server.hostAndPort());
        }
        auto* goLook = window->findChild<QAction*>("golook");
        QVERIFY(goLook);
        goLook->trigger();
        QVERIFY(waitForCheckRun(*window));
        QCOMPARE(marksOf(list), marks);
        QCOMPARE(window->statusLine()->text().startsWith(NotSavedStatusText), !saved);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        window->close();
        QVERIFY(!window->isVisible());
        // A directory in place of the list is told of at the start and at the close.
        QCOMPARE(answerer.seen.count, saved ? 0 : directory ? 2 : 1);

        if (saved) {
            // This run's visit times are the clock's, not ours: compare the rest.
            const QByteArrayList lines = readFile(listPath()).split('\n');
            const QByteArrayList old = oldList().split('\n');
            QCOMPARE(lines.size(), old.size());
            for (int i = 0; i + 1 < lines.size(); ++i) {
                if (i % 3 == 1)
                    QVERIFY(lines[i] != old[i]);
                else
                    QCOMPARE(lines[i], old[i]);
            }
        } else {
            QCOMPARE(snapshot(m_dir), before);
            if (directory)
                QCOMPARE(readFile(listPath() + "/inside.txt"), QByteArray("kept\r\n"));
            else
                QCOMPARE(readFile(listPath()), oldList());
        }
    }
};

KORVANE_TEST_MAIN(TestFileFaults)
#include "tst_filefaults.moc"
