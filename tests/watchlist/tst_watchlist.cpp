// SPDX-License-Identifier: MIT
// The watch list table: its grid members, its limits and its behaviour as a Qt model.
#include "watchlist.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class TestWatchList : public QObject
{
    Q_OBJECT

private:
    // A list with `sites` site rows whose URL cells read "site1", "site2", ...
    static void fill(WatchList& list, int sites)
    {
        std::vector<WatchList::Cells> rows(static_cast<size_t>(sites));
        for (int i = 0; i < sites; ++i)
            rows[size_t(i)].text[WatchList::UrlColumn] = "site" + QByteArray::number(i + 1);
        list.replaceSiteRows(std::move(rows));
    }

private Q_SLOTS:
    void startsWithHeaderAndOneEmptySiteRow()
    {
        WatchList list;
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.rowCount(), 1);
        QCOMPARE(list.columnCount(), 4);
        for (int col = 0; col < 4; ++col)
            QCOMPARE(list.cell(1, col), QByteArray());
    }

    void currentCellAddressesOneCell()
    {
        WatchList list;
        fill(list, 4);
        list.setRow(3);
        list.setCol(0);
        QCOMPARE(list.Text(), QByteArray("site3"));
        list.setText("changed");
        QCOMPARE(list.cell(3, 0), QByteArray("changed"));
        for (int row = 0; row < list.Rows(); ++row)
            for (int col = 0; col < 4; ++col)
                if (row != 3 || col != 0)
                    QVERIFY(list.cell(row, col) != "changed");
        // Moving the row keeps the column, and the other way round.
        list.setRow(2);
        QCOMPARE(list.Col(), 0);
        list.setCol(3);
        QCOMPARE(list.Row(), 2);
    }

    void programMovesCollapseTheSelection()
    {
        WatchList list;
        fill(list, 4);
        list.setSelectionFromView(2, 1, 4);
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.RowSel(), 4);
        list.setRow(3);
        QCOMPARE(list.RowSel(), 3);
    }

    void outOfRangeMovesAreIgnored_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        QTest::newRow("row past the end") << 5 << 0;
        QTest::newRow("negative row") << -1 << 0;
        QTest::newRow("column 4") << 1 << 4;
        QTest::newRow("negative column") << 1 << -1;
    }

    void outOfRangeMovesAreIgnored()
    {
        QFETCH(int, row);
        QFETCH(int, col);
        WatchList list;
        fill(list, 4);
        list.setCurrentCell(2, 1);
        list.setCurrentCell(row, col);
        list.setSelectionFromView(row, col, row);
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.Col(), 1);
        list.setCell(row, col, "x");
        QCOMPARE(list.cell(row, col), QByteArray());
    }

    void boldStaysWithItsCell()
    {
        WatchList list;
        fill(list, 3);
        list.setCurrentCell(2, WatchList::UpdatedColumn);
        list.setCellFontBold(true);
        list.setCurrentCell(3, WatchList::UpdatedColumn);
        QVERIFY(!list.cellFontBold());
        QVERIFY(list.isBold(2, WatchList::UpdatedColumn));
        // Removing a row above moves the mark up with its row.
        QVERIFY(list.RemoveItem(1));
        QVERIFY(list.isBold(1, WatchList::UpdatedColumn));
    }

    void addItemAppendsALastRowWithOnlyItsAddress()
    {
        WatchList list;
        fill(list, 2);
        for (int col = 1; col < 4; ++col)
            list.setCell(2, col, "kept");
        QVERIFY(list.AddItem("new.example"));
        QCOMPARE(list.Rows(), 4);
        QCOMPARE(list.cell(3, 0), QByteArray("new.example"));
        for (int col = 1; col < 4; ++col)
            QCOMPARE(list.cell(3, col), QByteArray());
        QCOMPARE(list.cell(2, 1), QByteArray("kept"));
    }

    void listStopsGrowingAtItsLimit()
    {
        WatchList list;
        fill(list, WatchList::MaxSites - 1);
        QVERIFY(list.AddItem("last"));
        QCOMPARE(list.Rows(), WatchList::MaxRows);
        QVERIFY(!list.AddItem("one too many"));
        QCOMPARE(list.Rows(), WatchList::MaxRows);
        QCOMPARE(list.cell(WatchList::MaxRows - 1, 0), QByteArray("last"));
    }

    void removeItemMovesRowsUp_data()
    {
        QTest::addColumn<int>("removed");
        QTest::addColumn<bool>("removes");
        QTest::addColumn<QByteArrayList>("left");
        QTest::newRow("first site") << 1 << true << QByteArrayList{"site2", "site3"};
        QTest::newRow("middle site") << 2 << true << QByteArrayList{"site1", "site3"};
        QTest::newRow("last site") << 3 << true << QByteArrayList{"site1", "site2"};
        QTest::newRow("header row") << 0 << false << QByteArrayList{"site1", "site2", "site3"};
        QTest::newRow("no such row") << 4 << false << QByteArrayList{"site1", "site2", "site3"};
    }

    void removeItemMovesRowsUp()
    {
        QFETCH(int, removed);
        QFETCH(bool, removes);
        QFETCH(QByteArrayList, left);
        WatchList list;
        list.setCell(0, 0, "Website");
        fill(list, 3);
        QCOMPARE(list.RemoveItem(removed), removes);
        QCOMPARE(list.Rows(), int(left.size()) + 1);
        QCOMPARE(list.cell(0, 0), QByteArray("Website"));
        for (int i = 0; i < left.size(); ++i)
            QCOMPARE(list.cell(i + 1, 0), left[i]);
    }

    void removingTheCurrentLastRowKeepsTheCurrentCellInside()
    {
        WatchList list;
        fill(list, 3);
        list.setSelectionFromView(3, 2, 3);
        QVERIFY(list.RemoveItem(3));
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.RowSel(), 2);
        QCOMPARE(list.Col(), 2);
    }

    void replaceSiteRowsWithNothingLeavesOneEmptyRow()
    {
        WatchList list;
        fill(list, 3);
        list.setBold(1, 2, true);
        list.replaceSiteRows({});
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.cell(1, 0), QByteArray());
        QVERIFY(!list.isBold(1, 2));
    }

    void hiddenColumnKeepsItsValues()
    {
        WatchList list;
        list.setCell(0, 1, "Last visited");
        list.setCell(1, 1, "1/2/26 10:00:00");
        QCOMPARE(list.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Last visited"));
        QCOMPARE(list.cell(1, 1), QByteArray("1/2/26 10:00:00"));
        list.setCell(1, 1, "later");
        QCOMPARE(list.cell(1, 1), QByteArray("later"));
    }

    void headerRowIsTheModelsHeader()
    {
        WatchList list;
        QSignalSpy headerChanges(&list, &QAbstractItemModel::headerDataChanged);
        list.setCell(0, 2, "Updated");
        QCOMPARE(headerChanges.size(), 1);
        QCOMPARE(list.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Updated"));
        QCOMPARE(list.rowCount(), 1);
        QVERIFY(!list.headerData(0, Qt::Vertical).isValid());
    }

    void displayTextNeverHidesAByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("example.com") << QStringLiteral("example.com");
        QTest::newRow("utf-8") << QByteArray("b\xc3\xbc"
                                             "cher.de")
                               << QStringLiteral("bücher.de");
        QTest::newRow("latin-1 byte") << QByteArray("b\xfc"
                                                    "cher.de")
                                      << QStringLiteral("bücher.de");
        QTest::newRow("cut utf-8") << QByteArray("x\xc3") << QStringLiteral("x\u00c3");
    }

    void displayTextNeverHidesAByte()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(WatchList::displayText(bytes), shown);
    }

    void longCellsShowTheirBeginning_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        const qsizetype limit = WatchList::MaxShownBytes;
        QTest::newRow("just short enough") << QByteArray(limit - 2, 'a') + "\xc3\xbc"
                                           << QString(limit - 2, 'a') + QStringLiteral("ü");
        QTest::newRow("20 MB") << QByteArray(20'000'000, 'a') << QString(limit, 'a');
        QTest::newRow("utf-8 character cut by the limit")
            << QByteArray(limit - 1, 'a') + "\xc3\xbc" + QByteArray(100, 'b')
            << QString(limit - 1, 'a');
        QTest::newRow("not utf-8")
            << "\xfc" + QByteArray(limit, 'a') << QStringLiteral("ü") + QString(limit - 1, 'a');
    }

    // The grid lays out what it shows, so megabytes in one cell would hold the window for
    // seconds; the cell itself keeps every byte.
    void longCellsShowTheirBeginning()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        WatchList list;
        list.setCell(1, WatchList::UrlColumn, bytes);
        QCOMPARE(list.data(list.index(0, WatchList::UrlColumn)).toString(), shown);
        QCOMPARE(list.data(list.index(0, WatchList::UrlColumn), Qt::ToolTipRole).toString(), shown);
        QCOMPARE(list.cell(1, WatchList::UrlColumn), bytes);
    }

    void behavesAsAQtModelThroughEveryChange()
    {
        WatchList list;
        QAbstractItemModelTester tester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        fill(list, 5);
        list.AddItem("added");
        list.setCell(2, 2, "Yes");
        list.setBold(2, 2, true);
        list.RemoveItem(1);
        list.RemoveItem(list.Rows() - 1);
        list.replaceSiteRows({});
        QCOMPARE(list.rowCount(), 1);
    }

    void viewSignalsFollowProgramMoves()
    {
        WatchList list;
        fill(list, 3);
        QSignalSpy moves(&list, &WatchList::currentCellChanged);
        list.setCurrentCell(2, 3);
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.at(0).at(0).toInt(), 2);
        QCOMPARE(moves.at(0).at(1).toInt(), 3);
        // A view reporting the user's selection is not echoed back to it.
        list.setSelectionFromView(1, 0, 3);
        QCOMPARE(moves.size(), 1);
    }
};

QTEST_MAIN(TestWatchList)
#include "tst_watchlist.moc"
