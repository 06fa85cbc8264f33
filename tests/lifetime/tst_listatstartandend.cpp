// SPDX-License-Identifier: MIT
// The watch list as start-up leaves it, and the save at shut-down.
#include "datadirectory.h"
#include "datetimetext.h"
#include "listatstartandend.h"
#include "listsave.h"
#include "watchlist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestListAtStartAndEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("websites.ini"); }

    void writeList(const QByteArray& bytes)
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void startUpSetsHeadersAndCurrentCell_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("currentRow");
        QTest::newRow("three sites")
            << QByteArray("a\r\n\r\n1\r\nb\r\n\r\n2\r\nc\r\n\r\n3\r\n") << 3;
        QTest::newRow("one site") << QByteArray("a\r\n\r\n1\r\n") << 1;
        QTest::newRow("empty file") << QByteArray() << 1;
    }

    void startUpSetsHeadersAndCurrentCell()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, currentRow);
        writeList(file);
        WatchList list;
        WatchListFile store(path());
        QCOMPARE(startUpWatchList(list, store), LoadOutcome::Read);

        QCOMPARE(list.cell(0, 0), QByteArray("Website"));
        QCOMPARE(list.cell(0, 1), QByteArray("Last visited"));
        QCOMPARE(list.cell(0, 2), QByteArray("Updated"));
        QCOMPARE(list.cell(0, 3), QByteArray());
        QCOMPARE(list.Row(), currentRow);
        QCOMPARE(list.RowSel(), currentRow);
        QCOMPARE(list.Col(), 3);
    }

    void firstStartCreatesTheFile()
    {
        WatchList list;
        WatchListFile store(path());
        QCOMPARE(startUpWatchList(list, store), LoadOutcome::CreatedDefault);
        QVERIFY(QFile::exists(path()));
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.cell(1, 0), QByteArray(DefaultSiteAddress));
        QCOMPARE(list.cell(1, 3), QByteArray("0"));
        QVERIFY(!list.cell(1, 1).isEmpty());
    }

    void shutDownSavesAnAddedSite()
    {
        writeList("a\r\nt\r\n1\r\n");
        {
            WatchList list;
            WatchListFile store(path());
            startUpWatchList(list, store);
            QVERIFY(list.AddItem("added.example"));
            QCOMPARE(saveWatchListAtShutDown(list, store), SaveOutcome::Saved);
        }
        WatchList next;
        WatchListFile store(path());
        startUpWatchList(next, store);
        QCOMPARE(next.Rows(), 3);
        QCOMPARE(next.cell(2, 0), QByteArray("added.example"));
        QCOMPARE(next.cell(2, 1), QByteArray());
        QCOMPARE(next.cell(2, 3), QByteArray());
    }

    // Where the list lives: beside a copy in a folder of its own, in the per-user directory for
    // an installed copy (even one whose bin/ the user can write) or an unusable directory.
    // The list is one short of full, the user adds a site and another program adds one too:
    // the merge holds one record more than the list can, and every save must still keep all.
    void mergePastTheCapacityStaysSaveable()
    {
        QByteArray records;
        for (int i = 0; i < WatchList::MaxSites - 1; ++i)
            records += "s" + QByteArray::number(i) + ".example\r\n\r\n\r\n";
        writeList(records);
        WatchListFile file(path(), std::chrono::milliseconds(0));
        WatchList list;
        startUpWatchList(list, file);
        QVERIFY(list.AddItem("mine.example"));
        writeList(records + "theirs.example\r\n\r\n\r\n");
        QCOMPARE(saveWatchList(list, file), SaveOutcome::Saved);
        QCOMPARE(list.Rows(), WatchList::MaxRows);
        QFile saved(path());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QCOMPARE(bytes.count("\r\n"), 3 * (WatchList::MaxSites + 1));
        QVERIFY(bytes.contains("mine.example") && bytes.contains("theirs.example"));
    }

    void dataDirectoryChoice_data()
    {
        QTest::addColumn<QString>("program"); // under the temporary directory
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("keptBesideTheProgram");
        QTest::newRow("folder of its own") << "folder" << false << true;
        QTest::newRow("build tree") << "build/bin" << false << true;
        QTest::newRow("installed in the home directory") << "local/bin" << true << false;
        QTest::newRow("missing directory") << "missing" << false << false;
    }

    void dataDirectoryChoice()
    {
        QFETCH(QString, program);
        QFETCH(bool, installed);
        QFETCH(bool, keptBesideTheProgram);
        const QString programDir = m_dir.filePath(program);
        const QString fallback = m_dir.filePath(program + "-home/.local/share/Korvane");
        if (program != "missing")
            QVERIFY(QDir().mkpath(programDir));
        // Other things of the program's under share/ do not make an installed copy.
        const QString marker = installedCopyMarker(programDir);
        QVERIFY(QDir().mkpath(QFileInfo(marker).path()));
        if (installed)
            QVERIFY(QFile(marker).open(QIODevice::WriteOnly));

        QCOMPARE(chooseDataDirectory(programDir, fallback),
                 keptBesideTheProgram ? programDir : fallback);
        QCOMPARE(QFileInfo(fallback).isDir(), !keptBesideTheProgram);
        QCOMPARE(chooseDataDirectory(QString(), QString()), QString());
    }

    // The zone leaves nothing behind it in any language: under es_ES the list once stored
    // "7/12/26 20:15:09 ()".
    void lastVisitedTextIsCleanInEveryLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        for (const QLocale& locale : QLocale::matchingLocales(
                 QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory))
            QTest::newRow(qPrintable(locale.name() + u' ' + locale.timeFormat(QLocale::LongFormat)))
                << locale;
    }

    void lastVisitedTextIsCleanInEveryLanguage()
    {
        QFETCH(QLocale, locale);
        const QString text = QString::fromUtf8(
            generalDateTimeText(QDateTime(QDate(2026, 12, 7), QTime(20, 15, 9)), locale));
        for (const QString empty : {"()", "[]", "( )", "[ ]", "\uff08\uff09", "  "})
            QVERIFY2(!text.contains(empty), qPrintable(text));
        QVERIFY2(text == text.trimmed() && !text.endsWith(u','), qPrintable(text));
        QVERIFY2(timeWithSecondsFormat(locale).contains(u's'), qPrintable(text));
    }
};

QTEST_MAIN(TestListAtStartAndEnd)
#include "tst_listatstartandend.moc"
