// SPDX-License-Identifier: MIT
// The watch list as Qt's views see it: the text each cell shows, and the note on a mark.
#include "watchlist.h"

#include <QStringDecoder>

namespace {

// The display text of a cell as a view shows it: of a cell longer than MaxShownBytes only the
// beginning. A character that the cut splits is left out, rather than taken for bytes that are
// not UTF-8.
QString shownText(const QByteArray& bytes)
{
    if (bytes.size() <= WatchList::MaxShownBytes)
        return WatchList::displayText(bytes);
    const QByteArrayView beginning = QByteArrayView(bytes).first(WatchList::MaxShownBytes);
    // Not stateless: a sequence cut off at the end waits for bytes that never come, and
    // counts as no error.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8(beginning);
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(beginning);
}

} // namespace

QString WatchList::displayText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(bytes);
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(bytes);
}

int WatchList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Rows() - 1;
}

int WatchList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant WatchList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const int row = tableRowFromModelRow(index.row());
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return shownText(cell(row, col));
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole: {
        // Screen readers are not handed tooltips: the reason reaches them from here too.
        const QString note = col == UpdatedColumn ? markNote(row)
                             : col == UrlColumn   ? addressNote(row)
                                                  : QString();
        if (note.isEmpty())
            return role == Qt::ToolTipRole ? QVariant(shownText(cell(row, col))) : QVariant();
        // The address itself comes first: the cell is narrow, and a long one is read here.
        if (col == UrlColumn && role == Qt::ToolTipRole)
            return QString(shownText(cell(row, col)) + u'\n' + note);
        return note;
    }
    default:
        return {};
    }
}

QVariant WatchList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return shownText(cell(0, section));
    default:
        return {};
    }
}

Qt::ItemFlags WatchList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}
