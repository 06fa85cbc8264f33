// SPDX-License-Identifier: MIT
// The two small windows through which the user adds a site and edits a site's address. They are
// modeless, made once, and hidden (never destroyed) by their buttons.
#pragma once

#include <QPersistentModelIndex>
#include <QWidget>

class RunSession;
class QLabel;
class QLineEdit;
class QPushButton;
class WatchList;

class SiteDialog : public QWidget
{
    Q_OBJECT
public:
    QLineEdit* addressField() const { return m_text1; }
    QPushButton* actionButton() const { return m_command1; }
    QPushButton* closeButton() const { return m_command2; }

    // Shows the dialog without blocking the main window: centred on the screen the first time,
    // where the user left it afterwards.
    void showModeless();

    // Closes the dialog as the program ends: a press that still waits for a check run changes
    // the list, but tells nobody anything.
    void closeForEnd();

Q_SIGNALS:
    // The action button changed the list.
    void listChanged();

protected:
    // The action button passes through the run session: pressed during a check run, by whatever
    // means, it takes the field's text at once and hides the dialog, so the user sees the press was
    // taken, and acts with that text once the run has ended.
    SiteDialog(WatchList& list, RunSession& session, const QString& title,
               const QString& actionCaption, QWidget* parent);
    void keyPressEvent(QKeyEvent* event) override;
    virtual void action(const QString& typed) = 0;

    // Refuses `typed`: the dialog shows it again, with `text` in a message box, so that the user
    // can mend it; unless the program is ending.
    void refuse(const QString& typed, const QString& text);

    WatchList& m_list;

private:
    QLineEdit* m_text1;
    QPushButton* m_command1;
    QPushButton* m_command2;
    bool m_placed = false;
    bool m_ended = false;
};

class AddSiteDialog final : public SiteDialog
{
    Q_OBJECT
public:
    AddSiteDialog(WatchList& list, RunSession& session, QWidget* parent = nullptr);

protected:
    void action(const QString& typed) override;
};

class EditSiteDialog final : public SiteDialog
{
    Q_OBJECT
public:
    EditSiteDialog(WatchList& list, RunSession& session, QWidget* parent = nullptr);

    // Fills the field from the URL cell of `row` and remembers that row: "&Edit" writes there,
    // wherever the row has moved meanwhile, and nowhere once it has been removed.
    void editRow(int row);

protected:
    void action(const QString& typed) override;

private:
    QPersistentModelIndex m_row;
    QByteArray m_original;
};

inline const QString NotAValidUrlText = QStringLiteral("Not a valid URL - Please type another");
