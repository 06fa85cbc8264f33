// SPDX-License-Identifier: MIT
// How the grid shows a cell: a mark in bold, numbers to the right, and the row being checked on
// a tint of its own. The list holds what the cells say; this holds how they look.
#pragma once

#include <QStyledItemDelegate>

class WatchList;

class GridLooks final : public QStyledItemDelegate
{
public:
    GridLooks(const WatchList& list, QObject* parent);

    // The model row (-1 for none) whose page a check run is fetching.
    int checkingModelRow = -1;

    // The options a cell is painted with.
    QStyleOptionViewItem looksOf(const QModelIndex& index) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    const WatchList& m_list;
};
