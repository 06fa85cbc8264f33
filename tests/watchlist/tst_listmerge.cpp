// SPDX-License-Identifier: MIT
// Another program's edit of the list meeting changes made in Korvane that are not saved yet:
// each side's adds, edits, removes and reorders survive the merge.
#include "listmerge.h"
#include "watchlist.h"

#include <QTest>

namespace {

// "a b=5 c": rows by address, with a stored length after "=".
std::vector<WatchList::Cells> rowsOf(const QString& text)
{
    std::vector<WatchList::Cells> rows;
    for (const QString& token : text.split(u' ', Qt::SkipEmptyParts)) {
        WatchList::Cells& row = rows.emplace_back();
        row.text[WatchList::UrlColumn] = token.section(u'=', 0, 0).toUtf8();
        row.text[WatchList::LengthColumn] = token.section(u'=', 1).toUtf8();
    }
    return rows;
}

QString textOf(const std::vector<WatchList::Cells>& rows)
{
    QStringList tokens;
    for (const WatchList::Cells& row : rows) {
        const QByteArray& length = row.text[WatchList::LengthColumn];
        tokens << QString::fromUtf8(row.text[WatchList::UrlColumn] +
                                    (length.isEmpty() ? "" : "=" + length));
    }
    return tokens.join(u' ');
}

} // namespace

class TestListMerge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bothSidesAreKept_data()
    {
        QTest::addColumn<QString>("base");   // the file as Korvane last read or wrote it
        QTest::addColumn<QString>("ours");   // the list in Korvane now
        QTest::addColumn<QString>("theirs"); // the file as the other program left it
        QTest::addColumn<QString>("merged");
        QTest::newRow("local add meets outside add") << "a b c"
                                                     << "a b c x"
                                                     << "d a b c"
                                                     << "d a b c x";
        QTest::newRow("local edit meets outside add") << "a b c"
                                                      << "a B c"
                                                      << "a b c d"
                                                      << "a B c d";
        QTest::newRow("local remove meets outside add") << "a b c"
                                                        << "a c"
                                                        << "a b c d"
                                                        << "a c d";
        QTest::newRow("outside reorder and remove") << "a b c"
                                                    << "a b c"
                                                    << "c a"
                                                    << "c a";
        QTest::newRow("outside reorder meets local add") << "a b c"
                                                         << "a b c x"
                                                         << "c b a"
                                                         << "c x b a";
        QTest::newRow("a check's lengths meet an outside add") << "a=1 b=2"
                                                               << "a=5 b=2"
                                                               << "a=1 n b=3"
                                                               << "a=5 n b=3";
        QTest::newRow("one of two alike removed locally") << "a a b"
                                                          << "a b"
                                                          << "a a b d"
                                                          << "a b d";
        QTest::newRow("outside duplicate of a local row") << "a b"
                                                          << "a b"
                                                          << "a b a"
                                                          << "a b a";
    }

    void bothSidesAreKept()
    {
        QFETCH(QString, base);
        QFETCH(QString, ours);
        QFETCH(QString, theirs);
        QFETCH(QString, merged);
        WatchList list;
        list.replaceSiteRows(rowsOf(ours));
        const MergedList result = mergeOutsideEdit({rowsOf(base), {}}, list, {rowsOf(theirs), {}});
        QCOMPARE(textOf(result.rows), merged);
        QCOMPARE(result.from.size(), result.rows.size());
    }
};

QTEST_GUILESS_MAIN(TestListMerge)
#include "tst_listmerge.moc"
