// SPDX-License-Identifier: MIT
// Kills a process that keeps saving a 10,000-site watch list at random moments, and proves that
// websites.ini is whole after every kill: byte for byte one of the two lists it saves in turn.
#include "savelists.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Which of the two lists `bytes` is, or -1.
int whichList(const QByteArray& bytes, const QByteArray (&lists)[2])
{
    for (int which : {0, 1})
        if (bytes == lists[which])
            return which;
    return -1;
}

// A save the kill interrupted, as seen in the stopped writer's open files: a file in the list's
// directory that is not the list itself (unnamed while it is written, or about to be renamed).
struct OpenNewFile
{
    bool open = false;
    qint64 size = 0;
};

OpenNewFile newFileOpenIn(pid_t pid, const QString& directory, const QString& listPath)
{
    OpenNewFile seen;
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd";
    const QByteArray prefix = QFile::encodeName(directory) + '/';
    const QByteArray list = QFile::encodeName(listPath);
    DIR* dir = ::opendir(fds.constData());
    if (!dir)
        return seen;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray fd = fds + '/' + entry->d_name;
        char target[4096];
        const ssize_t n = ::readlink(fd.constData(), target, sizeof target);
        if (n <= 0)
            continue;
        const QByteArray name(target, n);
        if (!name.startsWith(prefix) || name == list)
            continue;
        struct stat st
        {};
        if (::stat(fd.constData(), &st) == 0) {
            seen.open = true;
            seen.size = st.st_size;
        }
    }
    ::closedir(dir);
    return seen;
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dataDir;
    QTemporaryDir m_workDir;
    QString m_listPath;
    QString m_progressPath;
    savelists::Progress* m_progress = nullptr;
    QByteArray m_lists[2];
    // How long one save of the writer takes here; the kills land within a few of them.
    std::chrono::microseconds m_savePeriod{0};
    // Which list the file held after the last kill, -1 before any save.
    int m_onDisk = -1;

    pid_t startWriter()
    {
        m_progress->started = 0;
        m_progress->finished = 0;
        m_progress->lastSaved = -1;
        m_progress->failedSaves = 0;
        const QByteArray program = CRASHSAFETY_WRITER;
        const QByteArray list = QFile::encodeName(m_listPath);
        const QByteArray progress = QFile::encodeName(m_progressPath);
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(list.constData()),
                        const_cast<char*>(progress.constData()), nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0)
            return -1;
        return pid;
    }

    // Waits until the writer has finished `saves` saves; false when it died or took too long.
    bool waitForSaves(pid_t pid, std::uint64_t saves)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_progress->finished.load() < saves) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid || timer.hasExpired(10'000))
                return false;
            std::this_thread::sleep_for(200us);
        }
        return true;
    }

    static bool killAndReap(pid_t pid)
    {
        int status = 0;
        return ::kill(pid, SIGKILL) == 0 && ::waitpid(pid, &status, 0) == pid &&
               WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // Every name in the data directory but the list's own must be a temporary file of a save.
    QStringList leftovers(bool& unexpected) const
    {
        static const QRegularExpression temporaryName(
            QStringLiteral("^websites\\.ini\\.[A-Za-z0-9]{6}$"));
        QStringList names;
        unexpected = false;
        for (const QString& name : QDir(m_dataDir.path())
                                       .entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot)) {
            if (name == QLatin1String("websites.ini"))
                continue;
            if (!temporaryName.match(name).hasMatch())
                unexpected = true;
            names << name;
        }
        return names;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dataDir.isValid());
        QVERIFY(m_workDir.isValid());
        QVERIFY(QFileInfo(CRASHSAFETY_WRITER).isExecutable());
        m_listPath = m_dataDir.filePath("websites.ini");
        m_progressPath = m_workDir.filePath("progress");
        m_lists[0] = savelists::fileBytes(0);
        m_lists[1] = savelists::fileBytes(1);
        QVERIFY(m_lists[0].size() != m_lists[1].size());

        const int fd =
            ::open(QFile::encodeName(m_progressPath).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QVERIFY(::ftruncate(fd, sizeof(savelists::Progress)) == 0);
        void* shared =
            ::mmap(nullptr, sizeof(savelists::Progress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        QVERIFY(shared != MAP_FAILED);
        m_progress = static_cast<savelists::Progress*>(shared);

        // Measures a save of this size on this disk, so that the random moments of the kills
        // spread over whole saves whatever the machine.
        const pid_t pid = startWriter();
        QVERIFY(pid > 0);
        auto reap = qScopeGuard([pid] { killAndReap(pid); });
        QVERIFY(waitForSaves(pid, 1));
        const std::uint64_t first = m_progress->finished.load();
        QElapsedTimer timer;
        timer.start();
        std::this_thread::sleep_for(300ms);
        const std::uint64_t saves = m_progress->finished.load() - first;
        const auto elapsed = std::chrono::microseconds(timer.nsecsElapsed() / 1000);
        QVERIFY(killAndReap(pid));
        reap.dismiss();
        m_savePeriod = saves > 0 ? elapsed / long(saves) : elapsed;
        m_onDisk = whichList(readFile(m_listPath), m_lists);
        QVERIFY(m_onDisk >= 0);
        qInfo("one save of %d sites (%lld bytes) takes about %lld us here", savelists::Sites,
              qlonglong(m_lists[0].size()), qlonglong(m_savePeriod.count()));
    }

    void cleanupTestCase()
    {
        if (m_progress)
            ::munmap(m_progress, sizeof(savelists::Progress));
    }

    void listIsWholeAfterEveryKill_data()
    {
        QTest::addColumn<bool>("stopFirst");
        QTest::addColumn<int>("kills");
        QTest::addColumn<quint32>("seed");
        // A plain SIGKILL may also cut a write system call short. Stopping the writer first
        // freezes it where it is, so that its open files show whether the new file was being
        // written at that moment; the SIGKILL then ends it right there.
        QTest::newRow("SIGKILL at a random moment") << false << 60 << quint32(20261207);
        QTest::newRow("SIGSTOP at a random moment, look, SIGKILL")
            << true << 60 << quint32(19700101);
    }

    void listIsWholeAfterEveryKill()
    {
        QFETCH(bool, stopFirst);
        QFETCH(int, kills);
        QFETCH(quint32, seed);

        QRandomGenerator random(seed);
        int duringSave = 0;
        int newFileEmpty = 0;
        int newFilePartlyWritten = 0;
        int newFileComplete = 0;
        int leftoverFiles = 0;
        int leftoversSurvivingARun = 0;
        QSet<QString> seenLeftovers;
        QElapsedTimer timer;
        timer.start();

        // Up to `kills` kills, for at most KillSeconds once MinKills are done: a kill takes far
        // longer under the sanitizers on a busy machine, and the test must not grow with it.
        constexpr int MinKills = 5;
        constexpr qint64 KillSeconds = 10;
        int kill = 0;
        for (; kill < kills && (kill < MinKills || !timer.hasExpired(KillSeconds * 1000)); ++kill) {
            const pid_t pid = startWriter();
            QVERIFY(pid > 0);
            // A failed check must not leave the writer saving on in the background.
            auto reap = qScopeGuard([pid] { killAndReap(pid); });
            QVERIFY2(waitForSaves(pid, 1), "the writer never finished its first save");
            // Anywhere in the next three saves, the gaps between them included.
            const auto delay =
                std::chrono::microseconds(random.bounded(quint32(3 * m_savePeriod.count() + 1)));
            std::this_thread::sleep_for(delay);

            if (stopFirst) {
                int status = 0;
                QVERIFY(::kill(pid, SIGSTOP) == 0);
                QVERIFY(::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status));
                const OpenNewFile open = newFileOpenIn(pid, m_dataDir.path(), m_listPath);
                if (open.open && open.size == 0)
                    ++newFileEmpty;
                else if (open.open && open.size < m_lists[0].size() &&
                         open.size < m_lists[1].size())
                    ++newFilePartlyWritten;
                else if (open.open)
                    ++newFileComplete;
            }
            QVERIFY(killAndReap(pid));
            reap.dismiss();

            const std::uint64_t started = m_progress->started.load();
            const std::uint64_t finished = m_progress->finished.load();
            QCOMPARE(m_progress->failedSaves.load(), 0);
            const bool saving = started != finished;
            duringSave += saving;
            // The file holds the last list saved, or the one whose save was cut short.
            QSet<int> allowed{finished > 0 ? m_progress->lastSaved.load() : m_onDisk};
            if (saving)
                allowed << int((started - 1) % 2);

            const QFileInfo info(m_listPath);
            QVERIFY2(info.isFile(), qPrintable(QStringLiteral("no list after kill %1").arg(kill)));
            const QByteArray bytes = readFile(m_listPath);
            const int which = whichList(bytes, m_lists);
            QVERIFY2(which >= 0, qPrintable(QStringLiteral("kill %1 left %2 bytes that are "
                                                           "neither list (%3 or %4 bytes)")
                                                .arg(kill)
                                                .arg(bytes.size())
                                                .arg(m_lists[0].size())
                                                .arg(m_lists[1].size())));
            QVERIFY2(allowed.contains(which),
                     qPrintable(QStringLiteral("kill %1: the file holds list %2, not the one "
                                               "saved last")
                                    .arg(kill)
                                    .arg(which)));
            m_onDisk = which;

            // A temporary file left by one kill is still there after the next run has saved
            // the list whole: the program never clears them away. Counted, then removed.
            bool unexpected = false;
            const QStringList names = leftovers(unexpected);
            QVERIFY2(!unexpected, qPrintable(names.join(", ")));
            for (const QString& name : names) {
                if (seenLeftovers.contains(name)) {
                    ++leftoversSurvivingARun;
                    QVERIFY(QFile::remove(m_dataDir.filePath(name)));
                } else {
                    ++leftoverFiles;
                    seenLeftovers.insert(name);
                }
            }
        }
        bool ignored = false;
        for (const QString& name : leftovers(ignored))
            QFile::remove(m_dataDir.filePath(name));

        qInfo("%d kills in %lld ms, every one left a whole list; %d landed during a save", kill,
              timer.elapsed(), duringSave);
        if (stopFirst)
            qInfo("stopped with the new file open: %d empty, %d partly written, %d written whole "
                  "but not yet in place",
                  newFileEmpty, newFilePartlyWritten, newFileComplete);
        qInfo("temporary files left behind: %d, still there after the next run: %d", leftoverFiles,
              leftoversSurvivingARun);
        QVERIFY2(duringSave > 0, "no kill landed during a save: nothing was proved");
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
