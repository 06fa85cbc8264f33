// SPDX-License-Identifier: MIT
// The watch list: a table of text cells with one fixed header row, addressed the way the grid
// on the main window addresses it (a current cell, a selection end, rows appended and removed),
// and shown to Qt views as a table model whose header is that fixed row.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QVariant>

#include <array>
#include <functional>
#include <vector>

class WatchList final : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int ColumnCount = 4;
    enum Column
    {
        UrlColumn = 0,
        LastVisitedColumn = 1,
        UpdatedColumn = 2,
        LengthColumn = 3
    };

    // The check run and the file writer count rows, header included, in a 16-bit signed integer,
    // so the list never grows past what that integer holds.
    static constexpr int MaxRows = 32767;
    static constexpr int MaxSites = MaxRows - 1;

    struct Cells
    {
        std::array<QByteArray, ColumnCount> text;
    };

    explicit WatchList(QObject* parent = nullptr);

    // Grid members. Row numbers count the header row as row 0.
    int Rows() const { return int(m_rows.size()); }
    int Row() const { return m_row; }
    int Col() const { return m_col; }
    int RowSel() const { return m_rowSel; }
    void setRow(int row);
    void setCol(int col);
    QByteArray Text() const { return cell(m_row, m_col); }
    void setText(const QByteArray& text) { setCell(m_row, m_col, text); }
    bool cellFontBold() const { return isBold(m_row, m_col); }
    void setCellFontBold(bool bold) { setBold(m_row, m_col, bold); }
    // Returns false, changing nothing, when the list is full.
    bool AddItem(const QByteArray& url);
    // Returns false, changing nothing, for the header row or a row that does not exist.
    bool RemoveItem(int row);

    // Direct cell access, without moving the current cell.
    // An empty text for a cell that does not exist.
    const QByteArray& cell(int row, int col) const;
    void setCell(int row, int col, const QByteArray& text);
    bool isBold(int row, int col) const;
    void setBold(int row, int col, bool bold);
    // What the row's last check found (a value of the check run's, such as why the page gave
    // no text, or the stored length before and after), and the words views show for it on the
    // row's "Updated" cell. Like the mark itself it belongs to this run of the program and is
    // never saved. The list holds no words of its own: whoever shows it hands them over
    // (setNoteWords).
    QVariant checkNote(int row) const;
    void setCheckNote(int row, const QVariant& note);
    QString markNote(int row) const;
    using NoteWords = std::function<QString(const QVariant& note)>;
    void setNoteWords(NoteWords words) { m_noteWords = std::move(words); }
    // What is known of the row's site, by its address, in the words views show on its address
    // cell beside the address. It follows the address wherever the row goes, and an address
    // edited is another site. Kept apart from the list, and handed over as words, as notes are.
    QString addressNote(int row) const;
    using AddressWords = std::function<QString(const QByteArray& urlCell)>;
    void setAddressWords(AddressWords words) { m_addressWords = std::move(words); }
    void setCurrentCell(int row, int col);

    // Replaces every site row at once (loading): row 1 gets the first entry, or empty cells when
    // there is none. Bold marks are cleared; the header row and column settings stay.
    void replaceSiteRows(std::vector<Cells> rows);

    // Replaces the site rows with `rows`, where `from[i]` is the table row that rows[i] carries
    // on (it keeps that row's bold marks and note, and views and persistent indexes follow it),
    // or 0 for a new row. Rows that nothing carries on are removed. The current cell and the
    // selection's end stay on their rows while those remain. At least one row is kept.
    void takeRows(std::vector<Cells> rows, const std::vector<int>& from);
    // Marks follow their address through other programs' edits: a row that one edit took away
    // and another brought back (a writer that pauses halfway) gets the mark it had. forgetMarks()
    // ends that memory, as a new check run does.
    void forgetMarks() { m_markOf.clear(); }

    // The user moved the current cell or the selection in a view: `row`/`col` is where the
    // selection started, `rowSel` the row at its other end.
    void setSelectionFromView(int row, int col, int rowSel);

    // What a view shows of a cell's bytes: UTF-8 when they are valid UTF-8, otherwise one
    // character per byte, so that no byte is ever hidden from the user.
    static QString displayText(const QByteArray& bytes);

    // The web address a URL cell stands for, without the spaces and tabs around it. A cell is
    // normally kept without its scheme and gets "http://" in front; one that already begins
    // with "http://" or "https://", in any letter case (pasted from a browser, or typed into
    // the edit dialog), is used as it stands. The cell itself is never changed.
    static QByteArray siteAddress(const QByteArray& urlCell);

    // What a field that takes one address keeps of a text typed or pasted into it: no line
    // break and no other control character, which would split its record in websites.ini. Of
    // a text of several lines (an address copied with its line end, or a few lines of a mail)
    // the first one that holds more than blanks is kept, without the blanks around it.
    static QString oneLineText(const QString& text);

    // Views show (and lay out) at most this many of a cell's first bytes, so that a damaged list
    // with megabytes in one cell stays usable. The cell itself keeps all of them.
    static constexpr qsizetype MaxShownBytes = 4096;

    // Model rows are the site rows only; the fixed header row is the horizontal header.
    static int tableRowFromModelRow(int modelRow) { return modelRow + 1; }
    static int modelRowFromTableRow(int tableRow) { return tableRow - 1; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // Emitted when the program (not a view) moves the current cell or the selection's other
    // end (RowSel), so views can follow.
    void currentCellChanged(int row, int col);
    // AddItem appended a site row (table numbering): the user added it, and wants to see it.
    void siteAdded(int row);

private:
    struct RowData
    {
        std::array<QByteArray, ColumnCount> text;
        unsigned boldMask = 0;
        QVariant checkNote;
    };

    bool validCell(int row, int col) const;
    void cellChanged(int row, int col);
    void clampCurrentCell();

    std::vector<RowData> m_rows;
    // The mark, bold type and note of the last row with each address that an edit of another
    // program's replaced, since the marks were last forgotten.
    QHash<QByteArray, RowData> m_markOf;
    NoteWords m_noteWords;
    AddressWords m_addressWords;
    int m_row = 1;
    int m_col = 0;
    int m_rowSel = 1;
};
