// SPDX-License-Identifier: MIT
// The grid that shows the watch list. Its current cell and selection follow the list's, and
// the list's follow the user's clicks, drags and keys.
#pragma once

#include <QTableView>
#include <QTimer>

class GridLooks;
class WatchList;

class SiteGrid final : public QTableView
{
    Q_OBJECT
public:
    explicit SiteGrid(WatchList& list, QWidget* parent = nullptr);

    // Tints the site row (table numbering) whose page a check run is fetching, so that the user
    // sees where the run is without the selection or the view moving; 0 for none. While a row
    // is tinted, what the list changes is painted once a frame, not once a change.
    void setCheckingRow(int row);

    // Scrolls a site row (table numbering) into view, also one that was just appended.
    void showRow(int row);

Q_SIGNALS:
    // A double click anywhere on the grid, its header row included.
    void gridDoubleClicked();
    // Enter or Return on a site row: the keyboard's double click.
    void openRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;

private:
    void markRowsChanged(int firstModelRow, int lastModelRow);
    void showChangedRows();
    void showCurrentCell(int row, int col);
    void reportSelection();

    WatchList& m_list;
    GridLooks* m_looks;
    bool m_following = false;
    bool m_userMoves = false;
    bool m_pressedOutside = false;
    // The model rows changed since the last frame, while a run goes on.
    int m_firstChanged = -1;
    int m_lastChanged = -1;
    QTimer m_frame;
};
