// SPDX-License-Identifier: MIT
// websites.ini on a real disk: what loads from which bytes, what a save writes, and that no
// failure ever leaves a damaged or shortened file behind.
#include "childprocess.h"
#include "testfiles.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// n records as the program writes them: address, a date-time text, a length.
QByteArray programWrittenFile(int records)
{
    QByteArray bytes;
    for (int i = 1; i <= records; ++i) {
        bytes += "www.site" + QByteArray::number(i) + ".example/page?id=" + QByteArray::number(i);
        bytes += "\r\n07/12/2026 10:" + QByteArray::number(10 + i % 50) + ":00\r\n";
        bytes += QByteArray::number(i * 37 % 100000) + "\r\n";
    }
    return bytes;
}

QByteArrayList column(const WatchList& list, int col)
{
    QByteArrayList values;
    for (int row = 1; row < list.Rows(); ++row)
        values << list.cell(row, col);
    return values;
}

// A device that takes `capacity` bytes and then refuses every write, as a full disk does.
class FailDevice final : public QIODevice
{
public:
    explicit FailDevice(qint64 capacity) : m_capacity(capacity) { open(QIODevice::WriteOnly); }
    QByteArray written;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        const qint64 room = m_capacity - written.size();
        if (room <= 0)
            return -1;
        const qint64 n = std::min(room, size);
        written.append(data, n);
        return n;
    }

private:
    qint64 m_capacity;
};

// The bodies of the cases that run as another user or under limits, in a child process. Each
// gets the list's path and answers with the outcome of its save.

// Every file write past 4 KiB fails: the new list is far larger, so its write breaks off part
// of the way through, as on a full disk.
const ChildBody saveUnderASizeLimit("save under a size limit", [](const QStringList& args) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 100;
    WatchListFile store(args.value(0));
    WatchList list;
    store.LoadResultsFromFile(list);
    for (int i = 0; i < 500; ++i)
        list.AddItem(QByteArray(40, 'n'));
    return int(store.SaveResultsToFile(list, qint16(list.Rows())));
});

const ChildBody addToAListOfTwo("add to a list of two", [](const QStringList& args) {
    // The file of another user's, written whole before the child started: nothing to wait for,
    // though the kernel cannot tell this user whether anyone holds it open.
    WatchListFile store(args.value(0), std::chrono::milliseconds(0));
    WatchList list;
    if (store.LoadResultsFromFile(list) != LoadOutcome::Read || list.Rows() != 3)
        return 100;
    list.AddItem("added.example");
    return int(store.SaveResultsToFile(list, qint16(list.Rows())));
});

const ChildBody saveAfterAFailedLoad("save after a failed load", [](const QStringList& args) {
    WatchListFile store(args.value(0));
    WatchList list;
    if (store.LoadResultsFromFile(list) != LoadOutcome::Unreadable)
        return 100;
    if (list.Rows() != 2 || !list.cell(1, 0).isEmpty())
        return 101;
    return int(store.SaveResultsToFile(list, qint16(list.Rows())));
});

// Another program writes the list right after Korvane read it, on a share whose clock is off
// from this computer's (the child runs under faketime): the change is not yet settled.
const ChildBody changeOnASkewedShare("change on a skewed share", [](const QStringList& args) {
    WatchListFile store(args.value(0));
    WatchList list;
    store.LoadResultsFromFile(list);
    if (!writeFile(args.value(0), "new.example\r\n\r\n\r\n"))
        return 100;
    return int(store.onDisk());
});

} // namespace

class TestWatchListFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

    WatchListFile fileWith(const QByteArray& bytes,
                           std::chrono::milliseconds settleTime = std::chrono::seconds(2))
    {
        if (!writeFile(m_path, bytes))
            qFatal("cannot write the test file");
        return WatchListFile(m_path, settleTime);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath("websites.ini");
        QFile::remove(m_path);
    }

    void loadsAndSavesBack_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArrayList>("addresses");
        QTest::addColumn<QByteArrayList>("visited");
        QTest::addColumn<QByteArrayList>("lengths");
        QTest::addColumn<QByteArray>("saved");

        QTest::newRow("one record")
            << QByteArray("a.example\r\n1/2/26 3:04:05\r\n120\r\n") << QByteArrayList{"a.example"}
            << QByteArrayList{"1/2/26 3:04:05"} << QByteArrayList{"120"}
            << QByteArray("a.example\r\n1/2/26 3:04:05\r\n120\r\n");
        QTest::newRow("empty file: one empty site")
            << QByteArray() << QByteArrayList{""} << QByteArrayList{""} << QByteArrayList{""}
            << QByteArray("\r\n\r\n\r\n");
        QTest::newRow("four lines: second site has only its address")
            << QByteArray("a\r\nt1\r\n5\r\nb\r\n") << QByteArrayList{"a", "b"}
            << QByteArrayList{"t1", ""} << QByteArrayList{"5", ""}
            << QByteArray("a\r\nt1\r\n5\r\nb\r\n\r\n\r\n");
        QTest::newRow("last line without its line end")
            << QByteArray("a\r\nt1\r\n42") << QByteArrayList{"a"} << QByteArrayList{"t1"}
            << QByteArrayList{"42"} << QByteArray("a\r\nt1\r\n42\r\n");
        QTest::newRow("one empty line after the last record starts another")
            << QByteArray("a\r\nt1\r\n5\r\n\r\n") << QByteArrayList{"a", ""}
            << QByteArrayList{"t1", ""} << QByteArrayList{"5", ""}
            << QByteArray("a\r\nt1\r\n5\r\n\r\n\r\n\r\n");
        QTest::newRow("site never visited")
            << QByteArray("new.example\r\n\r\n\r\n") << QByteArrayList{"new.example"}
            << QByteArrayList{""} << QByteArrayList{""} << QByteArray("new.example\r\n\r\n\r\n");
        QTest::newRow("bytes that are not UTF-8 pass through")
            << QByteArray("b\xfc\x80\xff.de\r\n\xe9t\xe9\r\n\x01\x02\r\n")
            << QByteArrayList{"b\xfc\x80\xff.de"} << QByteArrayList{"\xe9t\xe9"}
            << QByteArrayList{"\x01\x02"}
            << QByteArray("b\xfc\x80\xff.de\r\n\xe9t\xe9\r\n\x01\x02\r\n");
        QTest::newRow("LF line ends, as a Linux editor writes them")
            << QByteArray("a\nt1\n5\nb\n\n\n") << QByteArrayList{"a", "b"}
            << QByteArrayList{"t1", ""} << QByteArrayList{"5", ""}
            << QByteArray("a\r\nt1\r\n5\r\nb\r\n\r\n\r\n");
        QTest::newRow("lone CR line ends")
            << QByteArray("a\rt1\r5") << QByteArrayList{"a"} << QByteArrayList{"t1"}
            << QByteArrayList{"5"} << QByteArray("a\r\nt1\r\n5\r\n");
        // printf 'news.example\n...\n0\n' >> websites.ini on a list Korvane wrote.
        QTest::newRow("a record appended with LF to a CR LF list is a record of its own")
            << QByteArray("a\r\nt1\r\n5\r\nnews.example\n1/1/2024 10:00:00 AM\n0\n")
            << QByteArrayList{"a", "news.example"} << QByteArrayList{"t1", "1/1/2024 10:00:00 AM"}
            << QByteArrayList{"5", "0"}
            << QByteArray("a\r\nt1\r\n5\r\nnews.example\r\n1/1/2024 10:00:00 AM\r\n0\r\n");
        QTest::newRow("CR LF, LF and a lone CR each end a line, wherever they stand")
            << QByteArray("a\nt1\r\n5\rb\r\n\n\r") << QByteArrayList{"a", "b"}
            << QByteArrayList{"t1", ""} << QByteArrayList{"5", ""}
            << QByteArray("a\r\nt1\r\n5\r\nb\r\n\r\n\r\n");
        QTest::newRow("regional texts are kept as they stand")
            << QByteArray("x\r\n07.12.2026 21:05:09\r\n0012\r\n") << QByteArrayList{"x"}
            << QByteArrayList{"07.12.2026 21:05:09"} << QByteArrayList{"0012"}
            << QByteArray("x\r\n07.12.2026 21:05:09\r\n0012\r\n");
        // A disk error or a mistaken copy: 20 MB without a line end.
        const QByteArray damaged(20'000'000, 'x');
        QTest::newRow("one 20 MB line without line ends")
            << damaged << QByteArrayList{damaged} << QByteArrayList{""} << QByteArrayList{""}
            << damaged + "\r\n\r\n\r\n";
    }

    void loadsAndSavesBack()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, addresses);
        QFETCH(QByteArrayList, visited);
        QFETCH(QByteArrayList, lengths);
        QFETCH(QByteArray, saved);

        // The test writes the file whole, however empty or binary it looks: nothing to wait for.
        WatchListFile store = fileWith(file, std::chrono::milliseconds(0));
        WatchList list;
        QCOMPARE(store.LoadResultsFromFile(list), LoadOutcome::Read);
        QCOMPARE(column(list, WatchList::UrlColumn), addresses);
        QCOMPARE(column(list, WatchList::LastVisitedColumn), visited);
        QCOMPARE(column(list, WatchList::LengthColumn), lengths);
        for (const QByteArray& updated : column(list, WatchList::UpdatedColumn))
            QCOMPARE(updated, QByteArray());
        // The grid shows a short address whole and a long one's beginning.
        for (int row = 1; row < list.Rows(); ++row) {
            const QByteArray& address = list.cell(row, WatchList::UrlColumn);
            QCOMPARE(list.data(list.index(WatchList::modelRowFromTableRow(row), 0)).toString(),
                     WatchList::displayText(
                         address.first(std::min(address.size(), WatchList::MaxShownBytes))));
        }
        // Loading leaves the current cell on the last site's stored length.
        QCOMPARE(list.Row(), list.Rows() - 1);
        QCOMPARE(list.Col(), int(WatchList::LengthColumn));

        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        QCOMPARE(readFile(m_path), saved);
    }

    void programWrittenFilesSaveBackByteForByte_data()
    {
        QTest::addColumn<int>("records");
        for (int n : {1, 2, 3, 999, 1000})
            QTest::addRow("%d records", n) << n;
    }

    void programWrittenFilesSaveBackByteForByte()
    {
        QFETCH(int, records);
        const QByteArray original = programWrittenFile(records);
        WatchListFile store = fileWith(original);
        WatchList list;
        store.LoadResultsFromFile(list);
        QCOMPARE(list.Rows(), records + 1);
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        QCOMPARE(readFile(m_path), original);
    }

    void noRecordIsLostPastAThousand()
    {
        const QByteArray original = programWrittenFile(1500);
        WatchListFile store = fileWith(original);
        WatchList list;
        store.LoadResultsFromFile(list);
        QCOMPARE(list.Rows(), 1501);
        QCOMPARE(list.cell(1500, 0), QByteArray("www.site1500.example/page?id=1500"));
        store.SaveResultsToFile(list, qint16(list.Rows()));
        QCOMPARE(readFile(m_path), original);
    }

    void recordsBeyondTheListsCapacityAreKeptInTheFile()
    {
        const int records = WatchList::MaxSites + 5;
        const QByteArray original = programWrittenFile(records);
        WatchListFile store = fileWith(original);
        WatchList list;
        store.LoadResultsFromFile(list);
        QCOMPARE(list.Rows(), WatchList::MaxRows);

        list.setCell(1, WatchList::LengthColumn, "99");
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        const QByteArray saved = readFile(m_path);
        QCOMPARE(saved.count("\r\n"), 3 * records);
        QVERIFY(saved.endsWith(original.sliced(original.indexOf("www.site32767."))));
        WatchList reloaded;
        WatchListFile(m_path).LoadResultsFromFile(reloaded);
        QCOMPARE(reloaded.cell(1, WatchList::LengthColumn), QByteArray("99"));
    }

    void columnTwoIsNeverSaved()
    {
        WatchList list;
        std::vector<WatchList::Cells> rows(3);
        const QByteArray marks[] = {"Yes", "No", "Error"};
        for (int i = 0; i < 3; ++i) {
            rows[size_t(i)].text = {"s" + QByteArray::number(i), "t", marks[i], "7"};
        }
        list.replaceSiteRows(std::move(rows));
        WatchListFile store(m_path);
        QCOMPARE(store.SaveResultsToFile(list, 4), SaveOutcome::Saved);
        QCOMPARE(readFile(m_path), QByteArray("s0\r\nt\r\n7\r\ns1\r\nt\r\n7\r\ns2\r\nt\r\n7\r\n"));
    }

    void saveOfTheHeaderAloneWritesAnEmptyFile()
    {
        WatchListFile store = fileWith("old\r\n\r\n\r\n");
        WatchList list;
        list.setCurrentCell(1, 2);
        QCOMPARE(store.SaveResultsToFile(list, 1), SaveOutcome::Saved);
        QCOMPARE(readFile(m_path), QByteArray());
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 2);
    }

    // A save after a run or an edit must not move what the next remove acts on.
    void saveLeavesTheCurrentCellWhereTheUserPutIt()
    {
        WatchListFile store(m_path);
        WatchList list;
        list.replaceSiteRows(std::vector<WatchList::Cells>(4));
        list.setSelectionFromView(1, 0, 2);
        QCOMPARE(store.SaveResultsToFile(list, 3), SaveOutcome::Saved);
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 0);
        QCOMPARE(list.RowSel(), 2);
        QCOMPARE(store.SaveResultsToFile(list, 6), SaveOutcome::BadRowCount);
    }

    void missingFileGetsTheDefaultRecord()
    {
        WatchListFile store(m_path);
        WatchList list;
        QCOMPARE(store.LoadResultsFromFile(list), LoadOutcome::CreatedDefault);
        const QList<QByteArray> lines = readFile(m_path).split('\n');
        QCOMPARE(lines.size(), 4); // three lines and what follows the last line end
        QCOMPARE(lines[0], QByteArray(DefaultSiteAddress) + "\r");
        QVERIFY(QRegularExpression("^\\S+ \\S+").match(QString::fromUtf8(lines[1])).hasMatch());
        QCOMPARE(lines[2], QByteArray("0\r"));
        QCOMPARE(lines[3], QByteArray());
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.cell(1, 0), QByteArray(DefaultSiteAddress));
        QCOMPARE(list.cell(1, 1), lines[1].chopped(1));
        QCOMPARE(list.cell(1, 2), QByteArray());
        QCOMPARE(list.cell(1, 3), QByteArray("0"));
    }

    void writeAllReportsAShortWrite()
    {
        FailDevice device(10);
        QVERIFY(!writeAllBytes(device, QByteArray(100, 'x')));
        QCOMPARE(device.written.size(), 10);
        FailDevice roomy(1000);
        QVERIFY(writeAllBytes(roomy, QByteArray(100, 'x')));
        QCOMPARE(roomy.written, QByteArray(100, 'x'));
    }

    void writeThatFailsMidwayLeavesTheOldFileWhole()
    {
        const QByteArray original = programWrittenFile(10);
        fileWith(original);
        // The child may write no file larger than 4 KiB: the new list is far larger, so its
        // write breaks off part of the way through, as on a full disk.
        const int outcome = exitCodeInChild(saveUnderASizeLimit, {m_path}, false);
        QCOMPARE(outcome, int(SaveOutcome::WriteFailed));
        QCOMPARE(readFile(m_path), original);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"websites.ini"});
    }

    void readOnlyFileIsLeftAlone_data()
    {
        QTest::addColumn<bool>("unprivileged");
        QTest::newRow("as this user") << false;
        QTest::newRow("as an ordinary user") << true;
    }

    void readOnlyFileIsLeftAlone()
    {
        QFETCH(bool, unprivileged);
        const QByteArray original = programWrittenFile(2);
        fileWith(original);
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7777)));
        QVERIFY(
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const int outcome = exitCodeInChild(addToAListOfTwo, {m_path}, unprivileged);
        QCOMPARE(outcome, int(SaveOutcome::ReadOnlyFile));
        QCOMPARE(readFile(m_path), original);
        QCOMPARE(QFile::permissions(m_path) & 0x7077,
                 QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    // No new file can be made beside the list: a list the user may write is written in place.
    void directoryThatCannotBeWrittenStillTakesTheList()
    {
        const QByteArray original = programWrittenFile(2);
        fileWith(original);
        QVERIFY(QFile::setPermissions(m_path, QFile::Permissions(0x6666)));
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::Permissions(0x5555)));
        const int outcome = exitCodeInChild(addToAListOfTwo, {m_path}, true);
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7700)));
        QCOMPARE(outcome, int(SaveOutcome::Saved));
        QCOMPARE(readFile(m_path), original + "added.example\r\n\r\n\r\n");
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"websites.ini"});
    }

    void unreadableFileIsNeverOverwritten()
    {
        const QByteArray original = programWrittenFile(3);
        fileWith(original);
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7777)));
        QVERIFY(QFile::setPermissions(m_path,
                                      QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
        const int outcome = exitCodeInChild(saveAfterAFailedLoad, {m_path}, true);
        QVERIFY(QFile::setPermissions(m_path, QFile::Permissions(0x6600)));
        QCOMPARE(outcome, int(SaveOutcome::KeptUnreadableFile));
        QCOMPARE(readFile(m_path), original);
    }

    void directoryInPlaceOfTheFile()
    {
        QVERIFY(QDir().mkdir(m_path));
        WatchListFile store(m_path);
        WatchList list;
        QCOMPARE(store.LoadResultsFromFile(list), LoadOutcome::Unreadable);
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())),
                 SaveOutcome::KeptUnreadableFile);
        QVERIFY(QFileInfo(m_path).isDir());
        QVERIFY(QDir().rmdir(m_path));
    }

    // A user's list saved by root (a start with sudo) stays the user's: the new file gets the
    // old one's owner, group and mode.
    void rootKeepsTheOwnerOfAUsersList()
    {
        if (::geteuid() != 0)
            QSKIP("only root can save a file of another user's");
        WatchListFile store = fileWith("a\r\n\r\n\r\n");
        QVERIFY(::chown(QFile::encodeName(m_path).constData(), unprivilegedUid(),
                        unprivilegedGid()) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        WatchList list;
        QCOMPARE(store.LoadResultsFromFile(list), LoadOutcome::Read);
        list.AddItem("b");
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        struct stat saved
        {};
        QVERIFY(::stat(QFile::encodeName(m_path).constData(), &saved) == 0);
        QCOMPARE(saved.st_uid, unprivilegedUid());
        QCOMPARE(saved.st_gid, unprivilegedGid());
        QCOMPARE(saved.st_mode & 07777, 0640u);
        QCOMPARE(readFile(m_path), QByteArray("a\r\n\r\n\r\nb\r\n\r\n\r\n"));
    }

    // Notepad's "Unicode" and PowerShell's `>` write UTF-16 with a mark; some editors UTF-8
    // with one. The list reads as its text and is written back as it came.
    void unicodeListsKeepTheirEncoding_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("UTF-16 LE with its mark")
            << QByteArray("\xff\xfe\x62\x00\xfc\x00\x2e\x00\x64\x00\x65\x00\x0d\x00\x0a\x00\x74"
                          "\x00\x0d\x00\x0a\x00\x35\x00\x0d\x00\x0a\x00",
                          28)
            << QByteArray("\xff\xfe\x62\x00\xfc\x00\x2e\x00\x64\x00\x65\x00\x0d\x00\x0a\x00\x74"
                          "\x00\x0d\x00\x0a\x00\x35\x00\x0d\x00\x0a\x00\x78\x00\x0d\x00\x0a\x00"
                          "\x0d\x00\x0a\x00\x0d\x00\x0a\x00",
                          42);
        QTest::newRow("UTF-8 with its mark")
            << QByteArray("\xef\xbb\xbf"
                          "b\xc3\xbc.de\nt\n5\n")
            << QByteArray("\xef\xbb\xbf"
                          "b\xc3\xbc.de\r\nt\r\n5\r\nx\r\n\r\n\r\n");
    }

    void unicodeListsKeepTheirEncoding()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        WatchListFile store = fileWith(file);
        WatchList list;
        QCOMPARE(store.LoadResultsFromFile(list), LoadOutcome::Read);
        QCOMPARE(column(list, WatchList::UrlColumn), QByteArrayList{"b\xc3\xbc.de"});
        QCOMPARE(column(list, WatchList::LengthColumn), QByteArrayList{"5"});
        QVERIFY(list.AddItem("x"));
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        QCOMPARE(readFile(m_path), saved);
    }

    // A save keeps what the file was besides its bytes: a second name, a mount, an ACL that
    // lets another user in, an attribute.
    void saveKeepsWhatTheFileWas_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a second name (hard link)") << "hard link";
        QTest::newRow("an ACL and a user attribute") << "attributes";
        QTest::newRow("a file mounted into place") << "bind mount";
    }

    void saveKeepsWhatTheFileWas()
    {
        QFETCH(QString, kind);
        WatchListFile store = fileWith(programWrittenFile(2));
        const QByteArray name = QFile::encodeName(m_path);
        const QString other = m_dir.filePath("elsewhere.ini");
        QVERIFY(writeFile(other, programWrittenFile(2)));
        if (kind == "hard link") {
            QVERIFY(QFile::remove(other));
            QCOMPARE(::link(name.constData(), QFile::encodeName(other).constData()), 0);
        } else if (kind == "attributes") {
            if (::setxattr(name.constData(), "user.origin", "mine", 4, 0) != 0 ||
                QProcess::execute("setfacl", {"-m", "u:65534:rw", m_path}) != 0)
                QSKIP("no user attributes or ACLs here (or no setfacl)");
        } else if (::geteuid() != 0 || ::mount(QFile::encodeName(other).constData(),
                                               name.constData(), nullptr, MS_BIND, nullptr) != 0) {
            QSKIP("only root can mount a file into place");
        }
        WatchList list;
        store.LoadResultsFromFile(list);
        QVERIFY(list.AddItem("added.example"));
        const SaveOutcome saved = store.SaveResultsToFile(list, qint16(list.Rows()));
        if (kind == "bind mount")
            ::umount2(name.constData(), MNT_DETACH);
        QCOMPARE(saved, SaveOutcome::Saved);
        const QByteArray expected = programWrittenFile(2) + "added.example\r\n\r\n\r\n";
        if (kind == "attributes") {
            char value[8] = {};
            QCOMPARE(::getxattr(name.constData(), "user.origin", value, sizeof value), 4);
            QCOMPARE(QByteArray(value), "mine");
            QProcess acl;
            acl.start("getfacl", {"-n", m_path});
            QVERIFY(acl.waitForFinished());
            QVERIFY(acl.readAllStandardOutput().contains("user:65534:rw-"));
        } else {
            QCOMPARE(readFile(other), expected);
        }
        QCOMPARE(readFile(m_path), kind == "bind mount" ? programWrittenFile(2) : expected);
    }

    // "Settled" is what Korvane saw of the file, never its times held against Korvane's clock:
    // with the clock 3 s ahead of the file system's, a file written a moment ago looks old.
    void aChangeCountsOnlyOnceKorvaneSawItSettle()
    {
        const QString library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
        if (!QFileInfo::exists(library))
            QSKIP("faketime is not installed");
        fileWith(programWrittenFile(2));
        qputenv("LD_PRELOAD", QFile::encodeName(library));
        qputenv("FAKETIME", "+3s");
        qputenv("NO_FAKE_STAT", "1");
        // Under the address sanitizer, faketime comes before its runtime, which it would refuse.
        const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS",
                sanitizer + (sanitizer.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        const int state = exitCodeInChild(changeOnASkewedShare, {m_path}, false);
        for (const char* name : {"LD_PRELOAD", "FAKETIME", "NO_FAKE_STAT"})
            qunsetenv(name);
        qputenv("ASAN_OPTIONS", sanitizer);
        QCOMPARE(state, int(WatchListFile::OnDisk::Unsettled));
    }

    void saveKeepsTheFilesPermissions()
    {
        fileWith("a\r\n\r\n\r\n");
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(m_path, mode));
        WatchListFile store(m_path);
        WatchList list;
        store.LoadResultsFromFile(list);
        QCOMPARE(store.SaveResultsToFile(list, qint16(list.Rows())), SaveOutcome::Saved);
        QCOMPARE(QFile::permissions(m_path) & 0x7077, mode);
    }
};

KORVANE_TEST_MAIN(TestWatchListFile)
#include "tst_watchlistfile.moc"
