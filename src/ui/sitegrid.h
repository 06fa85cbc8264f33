// SPDX-License-Identifier: MIT
// The grid that shows the watch list. Its current cell and selection follow the list's, and
// the list's follow the user's clicks, drags and keys.
#pragma once

#include <QTableView>

class WatchList;

class SiteGrid final : public QTableView
{
    Q_OBJECT
public:
    explicit SiteGrid(WatchList& list, QWidget* parent = nullptr);

Q_SIGNALS:
    // A double click anywhere on the grid, its header row included.
    void gridDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyColumnWidth(int col);
    void showCurrentCell(int row, int col);
    void reportSelection();

    WatchList& m_list;
    bool m_following = false;
};
