// SPDX-License-Identifier: MIT
// Layout and buttons of the add and edit dialogs.
#include "sitedialogs.h"

#include "runsession.h"
#include "twips.h"
#include "watchlist.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int MinimumAddressLength = 3;
const QString Scheme = QStringLiteral("http://");

QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    // Neither button answers Enter: only a click or the button's access key presses it.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(const QString& text, const QString& name, const QRect& geometry, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

} // namespace

SiteDialog::SiteDialog(WatchList& list, RunSession& session, const QString& title,
                       const QString& actionCaption, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_list(list)
{
    setWindowTitle(title);
    if (parent)
        setWindowIcon(parent->windowIcon());
    setFixedSize(pixels(5160), pixels(1440));

    makeLabel(QStringLiteral("Website URL:"), QStringLiteral("Label1"),
              twipRect(120, 120, 1695, 255), this);

    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(twipRect(120, 360, 3735, 375));
    QFont fieldFont;
    // MS Sans Serif where it exists; Liberation Sans is the nearest shape that Debian ships.
    fieldFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                           QStringLiteral("DejaVu Sans")});
    fieldFont.setPointSizeF(9.75);
    m_text1->setFont(fieldFont);

    m_command1 = makeButton(actionCaption, QStringLiteral("Command1"), this);
    m_command1->setGeometry(twipRect(3960, 360, 1095, 375));

    makeLabel(QStringLiteral("e.g. www.example.com"), QStringLiteral("Label2"),
              twipRect(120, 840, 4935, 255), this);
    makeLabel(QStringLiteral("e.g. www.example.com/news/today.shtml"), QStringLiteral("Label3"),
              twipRect(120, 1080, 4935, 255), this);

    m_command2 = makeButton(QStringLiteral("&Close"), QStringLiteral("Command2"), this);
    m_command2->setGeometry(twipRect(3960, 960, 1095, 375));

    setTabOrder(m_text1, m_command1);
    setTabOrder(m_command1, m_command2);
    m_text1->setFocus();

    connect(m_text1, &QLineEdit::textChanged, this, [this](const QString& text) {
        const QString kept = WatchList::oneLineText(text);
        if (kept != text)
            m_text1->setText(kept);
    });
    connect(m_command1, &QPushButton::clicked, this, [this, &session] {
        // What the field held at the press is what the user meant, whatever is typed after it.
        const QString typed = m_text1->text();
        if (session.walksTheList())
            hide();
        session.whenIdle([this, typed] { action(typed); });
    });
    connect(m_command2, &QPushButton::clicked, this, &QWidget::hide);
}

void SiteDialog::showModeless()
{
    if (!m_placed) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        m_placed = true;
    }
    m_ended = false;
    show();
    raise();
    activateWindow();
    m_text1->setFocus();
}

void SiteDialog::closeForEnd()
{
    m_ended = true;
    close();
}

void SiteDialog::refuse(const QString& typed, const QString& text)
{
    // A press that waited for a check run and is refused after the program began to end finds
    // nobody to tell.
    if (m_ended)
        return;
    m_text1->setText(typed);
    if (!isVisible())
        showModeless();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Korvane"), text, QMessageBox::Ok, this);
    box.exec();
}

void SiteDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape closes nothing and Enter presses nothing: the dialog only does what is clicked.
    event->ignore();
}

AddSiteDialog::AddSiteDialog(WatchList& list, RunSession& session, QWidget* parent)
    : SiteDialog(list, session, QStringLiteral(" Add Website to list"), QStringLiteral("&Add"),
                 parent)
{
    setObjectName(QStringLiteral("add"));
}

void AddSiteDialog::action(const QString& typed)
{
    const QString address =
        typed.startsWith(Scheme, Qt::CaseInsensitive) ? typed.mid(Scheme.size()) : typed;
    // Blanks alone make a site that looks empty and fails every check: refused as an empty
    // address is. Blanks around an address are the user's, and stay.
    if (address.toUcs4().size() < MinimumAddressLength || address.trimmed().isEmpty()) {
        refuse(address, NotAValidUrlText);
        return;
    }
    if (m_list.Rows() >= WatchList::MaxRows) {
        refuse(address, QStringLiteral("The watch list is full: it holds %1 sites, the most "
                                       "Korvane can check. Remove a site before adding another.")
                            .arg(QLocale().toString(WatchList::MaxSites)));
        return;
    }
    addressField()->setText(address);
    m_list.AddItem(address.toUtf8());
    hide();
    Q_EMIT listChanged();
}

EditSiteDialog::EditSiteDialog(WatchList& list, RunSession& session, QWidget* parent)
    : SiteDialog(list, session, QStringLiteral(" Edit Website on list"), QStringLiteral("&Edit"),
                 parent)
{
    setObjectName(QStringLiteral("update"));
}

void EditSiteDialog::editRow(int row)
{
    m_row = QPersistentModelIndex(
        m_list.index(WatchList::modelRowFromTableRow(row), WatchList::UrlColumn));
    m_original = m_list.cell(row, WatchList::UrlColumn);
    addressField()->setText(WatchList::displayText(m_original));
}

void EditSiteDialog::action(const QString& typed)
{
    // An address left as it was keeps its exact bytes, even those that are not UTF-8, and even
    // past the most the field can hold (a damaged list's endless line).
    const QString shown = WatchList::oneLineText(WatchList::displayText(m_original))
                              .left(addressField()->maxLength());
    if (!m_row.isValid()) {
        // The row went meanwhile (removed, or gone from a list edited by hand): a new address
        // typed for it is not thrown away without a word.
        if (typed != shown) {
            refuse(typed, QStringLiteral("The site being edited is no longer on the list. Add "
                                         "the address again to keep it."));
            return;
        }
        hide();
        return;
    }
    const QByteArray text = typed == shown ? m_original : typed.toUtf8();
    m_list.setCell(WatchList::tableRowFromModelRow(m_row.row()), WatchList::UrlColumn, text);
    hide();
    Q_EMIT listChanged();
}
