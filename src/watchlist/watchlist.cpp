// SPDX-License-Identifier: MIT
// The watch list table: its cells, current cell and selection, and the changes of rows.
#include "watchlist.h"

#include <algorithm>

WatchList::WatchList(QObject* parent) : QAbstractTableModel(parent), m_rows(2) {}

bool WatchList::validCell(int row, int col) const
{
    return row >= 0 && row < Rows() && col >= 0 && col < ColumnCount;
}

void WatchList::setRow(int row)
{
    if (row < 0 || row >= Rows())
        return;
    setCurrentCell(row, m_col);
}

void WatchList::setCol(int col)
{
    if (col < 0 || col >= ColumnCount)
        return;
    setCurrentCell(m_row, col);
}

void WatchList::setCurrentCell(int row, int col)
{
    if (!validCell(row, col))
        return;
    m_row = row;
    m_col = col;
    m_rowSel = row;
    Q_EMIT currentCellChanged(row, col);
}

void WatchList::setSelectionFromView(int row, int col, int rowSel)
{
    if (!validCell(row, col) || rowSel < 0 || rowSel >= Rows())
        return;
    m_row = row;
    m_col = col;
    m_rowSel = rowSel;
}

const QByteArray& WatchList::cell(int row, int col) const
{
    static const QByteArray none;
    return validCell(row, col) ? m_rows[size_t(row)].text[size_t(col)] : none;
}

void WatchList::setCell(int row, int col, const QByteArray& text)
{
    if (!validCell(row, col))
        return;
    QByteArray& slot = m_rows[size_t(row)].text[size_t(col)];
    if (slot == text)
        return;
    slot = text;
    cellChanged(row, col);
}

bool WatchList::isBold(int row, int col) const
{
    return validCell(row, col) && (m_rows[size_t(row)].boldMask & (1u << col));
}

void WatchList::setBold(int row, int col, bool bold)
{
    if (!validCell(row, col) || isBold(row, col) == bold)
        return;
    m_rows[size_t(row)].boldMask ^= 1u << col;
    cellChanged(row, col);
}

QVariant WatchList::checkNote(int row) const
{
    return row >= 1 && row < Rows() ? m_rows[size_t(row)].checkNote : QVariant();
}

QString WatchList::markNote(int row) const
{
    const QVariant note = checkNote(row);
    return note.isValid() && m_noteWords ? m_noteWords(note) : QString();
}

QString WatchList::addressNote(int row) const
{
    const QByteArray& address = cell(row, UrlColumn);
    return row >= 1 && !address.isEmpty() && m_addressWords ? m_addressWords(address) : QString();
}

void WatchList::setCheckNote(int row, const QVariant& note)
{
    // A run clears every row's note as it starts: most have none.
    if (row < 1 || row >= Rows() || (!note.isValid() && !m_rows[size_t(row)].checkNote.isValid()))
        return;
    m_rows[size_t(row)].checkNote = note;
    // A check also adds to what is known of the site, shown on its address.
    const int modelRow = modelRowFromTableRow(row);
    Q_EMIT dataChanged(index(modelRow, UrlColumn), index(modelRow, UpdatedColumn),
                       {Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

void WatchList::cellChanged(int row, int col)
{
    if (row == 0) {
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const QModelIndex changed = index(modelRowFromTableRow(row), col);
    Q_EMIT dataChanged(changed, changed);
}

bool WatchList::AddItem(const QByteArray& url)
{
    if (Rows() >= MaxRows)
        return false;
    const int modelRow = rowCount();
    beginInsertRows({}, modelRow, modelRow);
    RowData added;
    added.text[UrlColumn] = url;
    m_rows.push_back(std::move(added));
    endInsertRows();
    Q_EMIT siteAdded(Rows() - 1);
    return true;
}

bool WatchList::RemoveItem(int row)
{
    if (row < 1 || row >= Rows())
        return false;
    // A view moves its current index off a removed row by itself and reports that move back;
    // the table's current cell is the one that counts, so it is put back afterwards and the
    // views are told to follow it.
    // The selection keeps the rows it held, less the one removed: an end on a later row moves
    // up with its row, and an end on the removed row steps towards the other end, so that the
    // selection never takes in a row the user did not choose. A selection of the removed row
    // alone goes to the row that takes its place.
    const auto keptEnd = [row](int end, int otherEnd) {
        if (end > row || (end == row && otherEnd < row && row > 1))
            return end - 1;
        return end;
    };
    const int keptRow = keptEnd(m_row, m_rowSel);
    const int keptCol = m_col;
    const int keptRowSel = keptEnd(m_rowSel, m_row);
    const int modelRow = modelRowFromTableRow(row);
    beginRemoveRows({}, modelRow, modelRow);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
    m_row = keptRow;
    m_col = keptCol;
    m_rowSel = keptRowSel;
    clampCurrentCell();
    Q_EMIT currentCellChanged(m_row, m_col);
    return true;
}

void WatchList::clampCurrentCell()
{
    const int last = Rows() - 1;
    const int row = std::min(m_row, last);
    const int rowSel = std::min(m_rowSel, last);
    m_row = row;
    m_rowSel = rowSel;
}

void WatchList::replaceSiteRows(std::vector<Cells> rows)
{
    beginResetModel();
    RowData header = std::move(m_rows.front());
    m_rows.clear();
    m_rows.reserve(std::max<size_t>(rows.size(), 1) + 1);
    m_rows.push_back(std::move(header));
    for (Cells& cells : rows) {
        RowData row;
        row.text = std::move(cells.text);
        m_rows.push_back(std::move(row));
    }
    if (m_rows.size() == 1)
        m_rows.emplace_back();
    clampCurrentCell();
    endResetModel();
}

void WatchList::takeRows(std::vector<Cells> rows, const std::vector<int>& from)
{
    if (rows.empty() || rows.size() != from.size())
        return takeRows({Cells()}, {0});
    const int n = int(rows.size());
    const auto carries = [&](int i) { return from[size_t(i)] > 0 && from[size_t(i)] < Rows(); };

    for (int r = 1; r < Rows(); ++r) {
        const RowData& had = m_rows[size_t(r)];
        RowData& mark = m_markOf[had.text[UrlColumn]];
        mark.text[UpdatedColumn] = had.text[UpdatedColumn];
        mark.boldMask = had.boldMask & (1u << UpdatedColumn);
        mark.checkNote = had.checkNote;
    }

    // The rows as they will be: each one carried on keeps its marks and note, and a row that
    // comes back gets those it had.
    std::vector<RowData> result(size_t(n) + 1);
    result[0] = m_rows[0];
    // Where each row that stays goes (0: it goes away).
    std::vector<int> target(size_t(Rows()), 0);
    for (int i = 0; i < n; ++i) {
        RowData& to = result[size_t(i) + 1];
        if (carries(i)) {
            to = m_rows[size_t(from[size_t(i)])];
            target[size_t(from[size_t(i)])] = i + 1;
            to.text = std::move(rows[size_t(i)].text);
            continue;
        }
        const auto known = m_markOf.constFind(rows[size_t(i)].text[UrlColumn]);
        if (known != m_markOf.cend())
            to = *known;
        const QByteArray mark = to.text[UpdatedColumn];
        to.text = std::move(rows[size_t(i)].text);
        to.text[UpdatedColumn] = mark;
    }
    const auto follow = [&](int row) {
        return row > 0 && row < Rows() && target[size_t(row)] > 0 ? target[size_t(row)]
                                                                  : std::min(row, n);
    };
    const int row = follow(m_row);
    const int rowSel = follow(m_rowSel);

    // Views and persistent indexes are told of every removal, move and insertion, so that they
    // stay on their rows. Removals from the bottom up, in runs, so that the rows above keep
    // their numbers.
    for (int last = Rows() - 1; last >= 1;) {
        if (target[size_t(last)] > 0) {
            --last;
            continue;
        }
        int first = last;
        while (first > 1 && target[size_t(first - 1)] == 0)
            --first;
        beginRemoveRows({}, modelRowFromTableRow(first), modelRowFromTableRow(last));
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        target.erase(target.begin() + first, target.begin() + last + 1);
        endRemoveRows();
        last = first - 1;
    }
    // Then each place is filled in order: by the row that belongs there, moved up from below
    // it, or by a new row. A list that a hand edit turned upside down would take too many
    // moves: it is shown anew instead.
    constexpr int MostMoves = 1000;
    int moves = 0;
    for (int place = 1; place <= n && moves <= MostMoves; ++place) {
        const auto at =
            std::find(target.begin() + std::min(place, int(target.size())), target.end(), place);
        if (at == target.end()) {
            beginInsertRows({}, modelRowFromTableRow(place), modelRowFromTableRow(place));
            m_rows.insert(m_rows.begin() + place, RowData());
            target.insert(target.begin() + place, place);
            endInsertRows();
            continue;
        }
        const int current = int(at - target.begin());
        if (current == place)
            continue;
        ++moves;
        beginMoveRows({}, modelRowFromTableRow(current), modelRowFromTableRow(current), {},
                      modelRowFromTableRow(place));
        std::rotate(m_rows.begin() + place, m_rows.begin() + current, m_rows.begin() + current + 1);
        std::rotate(target.begin() + place, target.begin() + current, target.begin() + current + 1);
        endMoveRows();
    }
    const bool followed = moves <= MostMoves && Rows() == n + 1;
    if (!followed)
        beginResetModel();
    m_rows = std::move(result);
    m_row = row;
    m_rowSel = rowSel;
    clampCurrentCell();
    if (followed)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    else
        endResetModel();
    Q_EMIT currentCellChanged(m_row, m_col);
}

QByteArray WatchList::siteAddress(const QByteArray& urlCell)
{
    // Pasted from a mail or a document, an address often brings a space or a tab that the grid
    // does not show; only those around it are let go, those inside are part of it.
    qsizetype begin = 0;
    qsizetype end = urlCell.size();
    const auto blank = [&urlCell](qsizetype at) {
        return urlCell[at] == ' ' || urlCell[at] == '\t';
    };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    const QByteArray address = urlCell.sliced(begin, end - begin);
    const QByteArray lower = address.left(8).toLower();
    if (lower.startsWith("http://") || lower.startsWith("https://"))
        return address;
    return "http://" + address;
}

QString WatchList::oneLineText(const QString& text)
{
    const auto lineBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    QStringView line = text;
    if (std::any_of(text.begin(), text.end(), lineBreak)) {
        line = {};
        for (auto begin = text.begin(); begin != text.end();) {
            const auto end = std::find_if(begin, text.end(), lineBreak);
            const auto first = std::find_if_not(begin, end, blank);
            if (first != end) {
                auto last = end;
                while (blank(*(last - 1)))
                    --last;
                line = QStringView(first, last);
                break;
            }
            begin = end == text.end() ? end : end + 1;
        }
    }
    QString kept = line.toString();
    kept.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return kept;
}
