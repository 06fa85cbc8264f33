// SPDX-License-Identifier: MIT
// A cell's font, alignment and background, from what the list says of it.
#include "gridlooks.h"

#include "watchlist.h"

namespace {

bool looksNumeric(const QByteArray& text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

} // namespace

GridLooks::GridLooks(const WatchList& list, QObject* parent)
    : QStyledItemDelegate(parent), m_list(list)
{}

QStyleOptionViewItem GridLooks::looksOf(const QModelIndex& index) const
{
    QStyleOptionViewItem option;
    initStyleOption(&option, index);
    return option;
}

void GridLooks::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const int row = WatchList::tableRowFromModelRow(index.row());
    const int col = index.column();
    // Only the weight is set, so the view's own font fills in the rest.
    if (m_list.isBold(row, col))
        option->font.setBold(true);
    // The marks read as words, left; elsewhere numbers go right and text left, as a grid does.
    const bool right = col != WatchList::UpdatedColumn && looksNumeric(m_list.cell(row, col));
    option->displayAlignment = (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    // A selected cell keeps the selection's colours, so the two never read as one.
    if (index.row() == checkingModelRow)
        option->backgroundBrush = QColor(255, 236, 160);
}
