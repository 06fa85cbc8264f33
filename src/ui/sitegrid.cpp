// SPDX-License-Identifier: MIT
// Keeps the view and the watch list's current cell in step, and gives the grid its look.
#include "sitegrid.h"

#include "gridlooks.h"
#include "twips.h"
#include "watchlist.h"

#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Column widths in twips, the unit the grid's layout is designed in; the length column has the
// classic grid's default. The last visited time is hidden, not narrow: it is kept, checked and
// saved, but not shown.
constexpr std::array<int, WatchList::ColumnCount> ColumnTwips{2800, 0, 1200, 960};
constexpr int RowHeight = 17;
// A screen shows about sixty pictures a second: pages that come faster than that are painted
// together.
constexpr int FrameMs = 16;

QFont gridFont()
{
    QFont font;
    // Verdana where it is installed; otherwise DejaVu Sans, which shares its wide, open shapes.
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    return font;
}

} // namespace

SiteGrid::SiteGrid(WatchList& list, QWidget* parent)
    : QTableView(parent), m_list(list), m_looks(new GridLooks(list, this))
{
    setItemDelegate(m_looks);
    setObjectName(QStringLiteral("Grid1"));
    setModel(&list);
    setFont(gridFont());
    setEditTriggers(NoEditTriggers);
    setSelectionMode(ContiguousSelection);
    setSelectionBehavior(SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(RowHeight);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setFixedHeight(RowHeight + 1);
    horizontalHeader()->viewport()->installEventFilter(this);
    setStyleSheet(QStringLiteral(
        "QTableView { background-color: rgb(255,255,255); color: rgb(0,0,0);"
        " gridline-color: rgb(192,192,192); border: 1px solid rgb(128,128,128);"
        " selection-background-color: palette(highlight);"
        " selection-color: palette(highlighted-text); }"
        "QHeaderView { background-color: rgb(255,255,255); }"
        "QHeaderView::section { background-color: rgb(255,255,192); color: palette(button-text);"
        " border: none; border-right: 1px solid black; border-bottom: 1px solid black;"
        " padding-left: 2px; }"));

    for (int col = 0; col < WatchList::ColumnCount; ++col) {
        horizontalHeader()->resizeSection(col, pixels(ColumnTwips[size_t(col)]));
        horizontalHeader()->setSectionHidden(col, ColumnTwips[size_t(col)] == 0);
    }
    connect(&list, &WatchList::currentCellChanged, this, &SiteGrid::showCurrentCell);
    connect(&list, &QAbstractItemModel::modelReset, this,
            [this] { showCurrentCell(m_list.Row(), m_list.Col()); });
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &SiteGrid::showChangedRows);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SiteGrid::reportSelection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &SiteGrid::reportSelection);
    showCurrentCell(list.Row(), list.Col());
}

void SiteGrid::showCurrentCell(int row, int col)
{
    const QModelIndex index = m_list.index(WatchList::modelRowFromTableRow(row), col);
    if (!index.isValid())
        return;
    m_following = true;
    // The view's current index is the selection's moving end, RowSel; the list's current cell
    // is where the selection started.
    const QModelIndex selectionEnd =
        m_list.index(WatchList::modelRowFromTableRow(m_list.RowSel()), col);
    if (selectionEnd.isValid() && selectionEnd != index) {
        selectionModel()->setCurrentIndex(selectionEnd, QItemSelectionModel::NoUpdate);
        selectionModel()->select(QItemSelection(index, selectionEnd),
                                 QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    m_following = false;
}

void SiteGrid::reportSelection()
{
    if (m_following)
        return;
    const QModelIndex current = selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    // The list's current cell is where the selection started; the view's current index is
    // where it ends (the drag or the shift-key moved it there).
    int anchorRow = current.row();
    int anchorCol = current.column();
    const QItemSelection selection = selectionModel()->selection();
    if (!selection.isEmpty()) {
        const QItemSelectionRange range = selection.first();
        if (range.contains(current)) {
            anchorRow = current.row() == range.top() ? range.bottom() : range.top();
            anchorCol = current.column() == range.left() ? range.right() : range.left();
        }
    }
    m_list.setSelectionFromView(WatchList::tableRowFromModelRow(anchorRow), anchorCol,
                                WatchList::tableRowFromModelRow(current.row()));
}

// The view scrolls to a new current cell only when the user moved it there. The program moves
// it too (loading, a removed row, a command), and the view must stay where the user left it.
void SiteGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    const bool autoScrolls = hasAutoScroll();
    setAutoScroll(autoScrolls && m_userMoves);
    QTableView::currentChanged(current, previous);
    setAutoScroll(autoScrolls);
}

void SiteGrid::mousePressEvent(QMouseEvent* event)
{
    // A click on the blank area under the rows or right of the columns selects nothing and
    // leaves the selection as it is, as the grid control does: the view would clear the
    // highlight and leave a row chosen that nothing shows, for the next command to act on.
    m_pressedOutside = !indexAt(event->position().toPoint()).isValid();
    if (m_pressedOutside) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    m_userMoves = true;
    QTableView::mousePressEvent(event);
    m_userMoves = false;
}

void SiteGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressedOutside)
        return;
    m_userMoves = true;
    QTableView::mouseMoveEvent(event);
    m_userMoves = false;
}

void SiteGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (std::exchange(m_pressedOutside, false))
        return;
    QTableView::mouseReleaseEvent(event);
}

void SiteGrid::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        Q_EMIT openRequested();
        return;
    }
    m_userMoves = true;
    QTableView::keyPressEvent(event);
    m_userMoves = false;
}

void SiteGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    Q_EMIT gridDoubleClicked();
}

bool SiteGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonDblClick)
        Q_EMIT gridDoubleClicked();
    return QTableView::eventFilter(watched, event);
}

void SiteGrid::setCheckingRow(int row)
{
    const int modelRow = row > 0 ? WatchList::modelRowFromTableRow(row) : -1;
    if (m_looks->checkingModelRow == modelRow)
        return;
    const int previous = std::exchange(m_looks->checkingModelRow, modelRow);
    if (modelRow >= 0) {
        if (previous >= 0)
            markRowsChanged(previous, previous);
        markRowsChanged(modelRow, modelRow);
        return;
    }
    // The run is over: what it changed last shows now.
    m_frame.stop();
    showChangedRows();
    viewport()->update();
}

// A run's pages can come back faster than a screen shows pictures, and a paint after each one
// would cost the run more than the pages do: the rows are painted once a frame, the first
// change of a frame no later than a frame after it came.
void SiteGrid::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles)
{
    if (m_looks->checkingModelRow < 0 || !topLeft.isValid() || !bottomRight.isValid()) {
        QTableView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    markRowsChanged(topLeft.row(), bottomRight.row());
}

void SiteGrid::markRowsChanged(int firstModelRow, int lastModelRow)
{
    m_firstChanged = m_firstChanged < 0 ? firstModelRow : std::min(m_firstChanged, firstModelRow);
    m_lastChanged = std::max(m_lastChanged, lastModelRow);
    if (!m_frame.isActive())
        m_frame.start();
}

void SiteGrid::showChangedRows()
{
    const int first = std::exchange(m_firstChanged, -1);
    const int last = std::min(std::exchange(m_lastChanged, -1), model()->rowCount() - 1);
    if (first < 0 || first > last)
        return;
    QTableView::dataChanged(model()->index(first, 0),
                            model()->index(last, model()->columnCount() - 1));
}

void SiteGrid::showRow(int row)
{
    // A row appended a moment ago is not in the scroll range until the view lays itself out.
    executeDelayedItemsLayout();
    scrollTo(m_list.index(WatchList::modelRowFromTableRow(row), WatchList::UrlColumn));
}
