// SPDX-License-Identifier: MIT
// The main window offscreen: its layout, every route from a click or a menu item to its
// command, the dialogs, opening addresses, the check run, and the end of the program.
#include "checkrunfixtures.h"
#include "checktools.h"
#include "clickarea.h"
#include "gridlooks.h"
#include "helppage.h"
#include "helpwindow.h"
#include "korvaneversion.h"
#include "mainwindow.h"
#include "messageboxanswerer.h"
#include "recordingopener.h"
#include "responsegate.h"
#include "sitedialogs.h"
#include "sitegrid.h"
#include "testfiles.h"
#include "testserver.h"
#include "urlopener.h"
#include "windowclicks.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Counts how many times a file in `directory` is replaced by a rename, as every save does. The
// temporary names differ from save to save, so the kernel never merges two of these events.
class ReplaceCounter
{
public:
    explicit ReplaceCounter(const QString& directory)
        : m_fd(inotify_init1(IN_NONBLOCK)),
          m_watch(inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), IN_MOVED_FROM))
    {}
    ~ReplaceCounter() { ::close(m_fd); }
    int count(const QByteArray& name)
    {
        alignas(inotify_event) char buffer[8192];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len && QByteArray(event->name).startsWith(name + '.'))
                    ++m_count;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return m_count;
    }

private:
    int m_fd;
    int m_watch;
    int m_count = 0;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArrayList m_opened;
    std::unique_ptr<MainWindow> m_window;

    QString listPath() const { return m_dir.filePath("websites.ini"); }

    void writeList(const QByteArrayList& addresses)
    {
        QByteArray bytes;
        for (const QByteArray& address : addresses)
            bytes += address + "\r\n07/12/2026 10:00:00\r\n" + QByteArray::number(address.size()) +
                     "\r\n";
        QFile file(listPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    MainWindow& openWindow(const QByteArrayList& addresses,
                           std::unique_ptr<UrlOpener> opener = nullptr)
    {
        writeList(addresses);
        if (!opener)
            opener = std::make_unique<RecordingOpener>(m_opened);
        m_window = std::make_unique<MainWindow>(m_dir.path(), std::move(opener),
                                                curlCheckTools(m_dir.path(), fixedClock));
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qWarning("window not exposed");
        return *m_window;
    }

    WatchList& list() { return m_window->watchList(); }

    // A command that starts a check run returns at once: these come back once it has ended.
    void clickAt(QWidget* widget, QPoint point)
    {
        clickInWindow(*m_window, widget, point);
        QVERIFY(waitForCheckRun(*m_window));
    }
    void clickArea(const char* name)
    {
        clickDrawnButton(*m_window, name);
        QVERIFY(waitForCheckRun(*m_window));
    }

    void trigger(const char* item)
    {
        auto* action = m_window->findChild<QAction*>(item);
        QVERIFY(action);
        action->trigger();
        QVERIFY(waitForCheckRun(*m_window));
    }

    QByteArrayList addresses()
    {
        QByteArrayList result;
        for (int row = 1; row < list().Rows(); ++row)
            result << list().cell(row, 0);
        return result;
    }

    void selectRow(int row) { clickCell(*m_window, row, 0); }

private Q_SLOTS:
    void init()
    {
        m_opened.clear();
        QFile::remove(listPath());
    }

    void cleanup()
    {
        if (m_window) {
            m_window->hide();
            m_window.reset();
        }
    }

    void layoutAsDesigned()
    {
        MainWindow& window = openWindow({"a.example", "b.example"});
        QCOMPARE(window.windowTitle(), QStringLiteral("Korvane"));
        QCOMPARE(window.centralWidget()->size(), QSize(264, 344));
        QVERIFY(!window.windowIcon().isNull());

        const std::pair<const char*, QRect> controls[] = {
            {"Grid1", {8, 120, 249, 193}}, {"Picture1", {0, 0, 265, 329}},
            {"Label1", {0, 328, 265, 17}}, {"Label2", {216, 32, 41, 17}},
            {"Label3", {0, 56, 105, 57}},  {"Label4", {128, 56, 41, 57}},
            {"Label5", {168, 56, 41, 57}}, {"Label6", {208, 56, 49, 57}},
        };
        for (const auto& [name, geometry] : controls) {
            auto* widget = window.findChild<QWidget*>(name);
            QVERIFY2(widget, name);
            QCOMPARE(widget->geometry(), geometry);
        }
        QCOMPARE(window.findChild<QLabel*>("Label2")->text(), QStringLiteral("v" KORVANE_VERSION));
        QCOMPARE(window.statusLine()->text(), QStringLiteral(" Status : Ready..."));
        QCOMPARE(window.statusLine()->palette().color(QPalette::Window), QColor(0, 0, 0));
        QCOMPARE(window.statusLine()->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QVERIFY(window.grid()->hasFocus());
    }

    void menusAsDesigned()
    {
        MainWindow& window = openWindow({"a.example"});
        const QList<QPair<QString, QStringList>> expected = {
            {"Watch List", {"Add Website", "Remove Selected", "Edit Selected"}},
            {"Options", {"Go look", "Exit Korvane"}},
            {"Help", {"Online Help"}},
        };
        const QList<QAction*> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), expected.size());
        for (int i = 0; i < menus.size(); ++i) {
            QCOMPARE(menus[i]->text(), expected[i].first);
            QStringList items;
            for (QAction* item : menus[i]->menu()->actions()) {
                QVERIFY(!item->isSeparator());
                items << item->text();
            }
            QCOMPARE(items, expected[i].second);
        }
        // The keyboard reaches every command: F10 opens the first menu.
        QTest::keyClick(window.windowHandle(), Qt::Key_F10);
        QTRY_VERIFY(menus[0]->menu()->isVisible());
        menus[0]->menu()->close();
    }

    // Added to a list longer than the grid shows, a site is scrolled into view.
    void addedSiteIsShown()
    {
        QByteArrayList sites;
        for (int i = 0; i < 40; ++i)
            sites << "site" + QByteArray::number(i) + ".example";
        MainWindow& window = openWindow(sites);
        window.grid()->scrollToTop();
        clickArea("Label4");
        window.addDialog()->addressField()->setText("new.example");
        QTest::mouseClick(window.addDialog()->actionButton(), Qt::LeftButton);
        const QRect added = window.grid()->visualRect(list().index(40, 0));
        QVERIFY(window.grid()->viewport()->rect().contains(added));
    }

    void startUpShowsTheListWithItsColumns()
    {
        MainWindow& window = openWindow({"a.example", "b.example", "c.example"});
        QHeaderView* header = window.grid()->horizontalHeader();
        QCOMPARE(header->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Website"));
        QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("Updated"));
        QCOMPARE(header->sectionSize(0), 186);
        QVERIFY(header->isSectionHidden(1));
        QCOMPARE(header->sectionSize(2), 80);
        QCOMPARE(header->sectionSize(3), 64);
        QCOMPARE(window.grid()->currentIndex(), list().index(2, 3));
        QCOMPARE(list().Row(), 3);
    }

    // A mark found by the run reads bold; a mark reads left even where it looks like a number,
    // and a length goes right.
    void cellsLookAsOnTheGrid()
    {
        WatchList list;
        list.setCell(1, WatchList::UpdatedColumn, "12");
        list.setCell(1, WatchList::LengthColumn, "1234");
        list.setBold(1, WatchList::UpdatedColumn, true);
        const GridLooks looks(list, nullptr);
        const auto cell = [&](int col) { return looks.looksOf(list.index(0, col)); };
        QVERIFY(cell(WatchList::UpdatedColumn).font.bold());
        QVERIFY(!cell(WatchList::LengthColumn).font.bold());
        QCOMPARE(cell(WatchList::LengthColumn).displayAlignment, Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(cell(WatchList::UpdatedColumn).displayAlignment, Qt::AlignLeft | Qt::AlignVCenter);
    }

    void clickAreasRunTheirCommands()
    {
        openWindow({"a.example", "b.example", "c.example"});
        selectRow(2);

        clickArea("Label4");
        QVERIFY(m_window->addDialog() && m_window->addDialog()->isVisible());
        m_window->addDialog()->hide();

        clickArea("Label5");
        QVERIFY(m_window->editDialog() && m_window->editDialog()->isVisible());
        QCOMPARE(m_window->editDialog()->addressField()->text(), QStringLiteral("b.example"));
        m_window->editDialog()->hide();

        clickArea("Label6");
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "c.example"}));
    }

    void overlapsAndDeadSpace_data()
    {
        QTest::addColumn<QPoint>("point"); // in the picture's coordinates
        QTest::addColumn<QString>("effect");
        QTest::newRow("add/edit overlap goes to edit") << QPoint(168, 80) << "edit";
        QTest::newRow("edit/remove overlap goes to remove") << QPoint(208, 80) << "remove";
        QTest::newRow("last pixel of add") << QPoint(167, 80) << "add";
        QTest::newRow("first pixel of add") << QPoint(128, 80) << "add";
        QTest::newRow("last pixel of Go Look! strip") << QPoint(104, 60) << "go";
        QTest::newRow("dead strip") << QPoint(115, 80) << "nothing";
        QTest::newRow("dead strip, right edge") << QPoint(127, 80) << "nothing";
        QTest::newRow("banner") << QPoint(60, 20) << "nothing";
        QTest::newRow("version label") << QPoint(230, 40) << "nothing";
        QTest::newRow("right of remove") << QPoint(260, 80) << "nothing";
        QTest::newRow("below the buttons") << QPoint(60, 116) << "nothing";
        QTest::newRow("hint") << QPoint(200, 320) << "nothing";
    }

    void overlapsAndDeadSpace()
    {
        QFETCH(QPoint, point);
        QFETCH(QString, effect);
        // Two unreachable sites fail at once, so a check run is quick and visible in the grid.
        openWindow({"127.0.0.1:1/a", "127.0.0.1:1/b"});
        selectRow(1);
        clickAt(m_window->findChild<QWidget*>("Picture1"), point);
        const bool addShown = m_window->addDialog() && m_window->addDialog()->isVisible();
        const bool editShown = m_window->editDialog() && m_window->editDialog()->isVisible();
        const bool removed = list().Rows() == 2;
        const bool ran = m_window->statusLine()->text() == DoneStatusText;
        QCOMPARE(addShown, effect == "add");
        QCOMPARE(editShown, effect == "edit");
        QCOMPARE(removed, effect == "remove");
        QCOMPARE(ran, effect == "go");
    }

    void statusLineDoesNotReact()
    {
        openWindow({"a.example", "b.example"});
        clickAt(m_window->statusLine(), {20, 8});
        QCOMPARE(list().Rows(), 3);
        QVERIFY(!m_window->addDialog());
        QVERIFY(!m_window->editDialog());
    }

    // What a screen reader finds walking the window's accessible tree: each drawn button under
    // its caption with a word on its command, the grid, and the status line under its text.
    void screenReadersFindTheControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("nameAfterARun");
        QTest::newRow("Go Look!") << "Label3"
                                  << "Go Look!"
                                  << "Go Look!";
        QTest::newRow("add") << "Label4"
                             << "add"
                             << "add";
        QTest::newRow("edit") << "Label5"
                              << "edit"
                              << "edit";
        QTest::newRow("remove") << "Label6"
                                << "remove"
                                << "remove";
        QTest::newRow("grid") << "Grid1"
                              << "Watch list"
                              << "Watch list";
        QTest::newRow("status line") << "Label1" << ReadyStatusText << DoneStatusText;
    }

    void screenReadersFindTheControls()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QFETCH(QString, nameAfterARun);
        openWindow({"127.0.0.1:1/a"});
        auto* widget = m_window->findChild<QWidget*>(control);
        QVERIFY(widget);
        const auto found = [&]() -> QAccessibleInterface* {
            QList<QAccessibleInterface*> pending{
                QAccessible::queryAccessibleInterface(m_window.get())};
            while (!pending.isEmpty()) {
                QAccessibleInterface* face = pending.takeFirst();
                if (face->object() == widget)
                    return face;
                for (int i = 0; i < face->childCount(); ++i)
                    if (QAccessibleInterface* child = face->child(i))
                        pending << child;
            }
            return nullptr;
        };
        QAccessibleInterface* face = found();
        QVERIFY2(face, "not reachable from the window");
        QCOMPARE(face->text(QAccessible::Name), name);
        QVERIFY(!face->text(QAccessible::Description).isEmpty());
        QVERIFY(!face->state().invisible);
        trigger("golook");
        QCOMPARE(found()->text(QAccessible::Name), nameAfterARun);
    }

    // Each drawn button is a button to a screen reader, and its press action runs the command.
    void screenReadersPressTheDrawnButtons()
    {
        openWindow({"a.example", "b.example", "c.example"});
        auto* remove = m_window->findChild<ClickArea*>("Label6");
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(remove);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::Button);
        QAccessibleActionInterface* actions = face->actionInterface();
        QVERIFY(actions);
        QCOMPARE(actions->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
        QSignalSpy clicked(remove, &ClickArea::clicked);
        actions->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(clicked.wait());
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "b.example"}));
    }

    void menuItemsRunTheirCommands()
    {
        openWindow({"a.example", "b.example"});
        trigger("addmenu");
        QVERIFY(m_window->addDialog()->isVisible());
        trigger("editmenu");
        QVERIFY(m_window->editDialog()->isVisible());
        trigger("removemenu");
        QCOMPARE(addresses(), QByteArrayList{"a.example"});
        // Help that comes with the program: a page on this computer, never a stranger's host.
        trigger("onlinehelp");
        QCOMPARE(m_opened.size(), 1);
        const QUrl help = QUrl::fromEncoded(m_opened.front());
        QVERIFY2(help.isLocalFile(), m_opened.front().constData());
        QVERIFY(readFile(help.toLocalFile()).contains("<title>Korvane help</title>"));
    }

    // A copy of the program without the page beside it opens the page it carries within.
    void helpWithoutTheShippedPage()
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath("cache")));
        const QUrl help = QUrl::fromEncoded(helpPageAddress(m_dir.path()));
        qunsetenv("XDG_CACHE_HOME");
        QVERIFY2(help.toLocalFile().startsWith(m_dir.filePath("cache")), qPrintable(help.url()));
        QCOMPARE(readFile(help.toLocalFile()),
                 readFile(shippedHelpPage(QCoreApplication::applicationDirPath())));
    }

    // A desktop without a browser: the status line says so, and the help page shows in a window
    // of Korvane's own, whose links work.
    void noBrowserIsToldAndHelpShowsItself()
    {
        const QString bin = m_dir.filePath("no-browser");
        QVERIFY(QDir().mkpath(bin) && writeFile(bin + "/xdg-open", "#!/bin/sh\nexit 3\n"));
        QVERIFY(QFile::setPermissions(bin + "/xdg-open", QFile::ReadOwner | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ":" + path);
        openWindow({"a.example"}, std::make_unique<XdgOpener>());
        QTest::keyClick(m_window->grid(), Qt::Key_Return);
        QTRY_COMPARE(m_window->statusLine()->text(), NoBrowserStatusText + "http://a.example");
        trigger("onlinehelp");
        qputenv("PATH", path);
        QTRY_VERIFY(m_window->findChild<HelpWindow*>());
        auto* help = m_window->findChild<HelpWindow*>();
        QTRY_VERIFY(help->isVisible());
        QVERIFY(m_window->statusLine()->text().endsWith("/help.html"));
        QCOMPARE(help->documentTitle(), QStringLiteral("Korvane help"));
        QTest::keyClick(help, Qt::Key_Tab);
        QTest::keyClick(help, Qt::Key_Return);
        QCOMPARE(help->source().fragment(), QStringLiteral("buttons"));
    }

    void removingTheLastSiteIsRefused()
    {
        openWindow({"only.example"});
        MessageBoxAnswerer answerer;
        clickArea("Label6");
        QCOMPARE(answerer.seen.count, 1);
        QCOMPARE(answerer.seen.title, QStringLiteral("Korvane Information"));
        QCOMPARE(answerer.seen.text,
                 QStringLiteral(
                     "You must have at least on website. You can edit this site to change it"));
        QCOMPARE(answerer.seen.icon, QMessageBox::Information);
        QCOMPARE(answerer.seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(addresses(), QByteArrayList{"only.example"});
    }

    void rangeSelection()
    {
        openWindow({"a.example", "b.example", "c.example", "d.example", "e.example"});
        const auto selectTwoToFour = [this] {
            selectRow(2);
            QTest::keyClick(m_window->grid(), Qt::Key_Down, Qt::ShiftModifier);
            QTest::keyClick(m_window->grid(), Qt::Key_Down, Qt::ShiftModifier);
        };
        selectTwoToFour();
        QCOMPARE(list().Row(), 2);
        QCOMPARE(list().RowSel(), 4);

        // Edit and open act on where the selection started; remove on its far end.
        trigger("editmenu");
        QCOMPARE(m_window->editDialog()->addressField()->text(), QStringLiteral("b.example"));
        m_window->editDialog()->hide();
        selectTwoToFour();
        QTest::keyClick(m_window->grid(), Qt::Key_Return);
        QCOMPARE(m_opened, QByteArrayList{"http://b.example"});
        selectTwoToFour();
        trigger("removemenu");
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "b.example", "c.example", "e.example"}));
        // The selection shrinks to the rows that were selected, and the view shows it.
        QCOMPARE(list().Row(), 2);
        QCOMPARE(list().RowSel(), 3);
        QCOMPARE(m_window->grid()->currentIndex().row(), 2);
        trigger("removemenu");
        trigger("removemenu");
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "e.example"}));

        // One row selected: the row below moves up into the current row.
        openWindow({"a.example", "b.example", "c.example", "d.example"});
        selectRow(2);
        trigger("removemenu");
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "c.example", "d.example"}));
        QCOMPARE(list().Row(), 2);
        QCOMPARE(list().RowSel(), 2);
        QCOMPARE(m_window->grid()->currentIndex().row(), 1);
    }

    void doubleClickOnADrawnButtonIsOneClick()
    {
        openWindow({"a.example", "b.example", "c.example", "d.example"});
        auto* remove = m_window->findChild<ClickArea*>("Label6");
        QTest::mouseDClick(m_window->windowHandle(), Qt::LeftButton, {},
                           remove->mapTo(m_window.get(), remove->rect().center()));
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "b.example", "c.example"}));
    }

    void doubleClickOpensTheSite_data()
    {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QByteArray>("opened");
        QTest::newRow("no scheme")
            << QByteArray("b.example/page?x=1 y") << QByteArray("http://b.example/page?x=1 y");
        QTest::newRow("https pasted from a browser")
            << QByteArray("https://b.example/") << QByteArray("https://b.example/");
        QTest::newRow("http in capitals")
            << QByteArray("HTTP://b.example") << QByteArray("HTTP://b.example");
        QTest::newRow("another scheme is never handed on")
            << QByteArray("file:///etc/passwd") << QByteArray("http://file:///etc/passwd");
        QTest::newRow("pasted with blanks around it")
            << QByteArray("\t https://b.example/a b ") << QByteArray("https://b.example/a b");
    }

    void doubleClickOpensTheSite()
    {
        QFETCH(QByteArray, cell);
        QFETCH(QByteArray, opened);
        openWindow({"a.example", cell, ""});
        SiteGrid* grid = m_window->grid();
        const QRect cellRect = grid->visualRect(list().index(1, 2));
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cellRect.center());
        QCOMPARE(m_opened, QByteArrayList{opened});
        QCOMPARE(list().Col(), 0);
        QCOMPARE(list().Row(), 2);
        QCOMPARE(list().cell(2, 0), cell);

        // An empty address opens the scheme alone, and the header row counts as the grid.
        selectRow(3);
        QTest::mouseDClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, {20, 5});
        QCOMPARE(m_opened.last(), QByteArray("http://"));

        // The keyboard's way: Enter on a row.
        selectRow(2);
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(m_opened.last(), opened);
    }

    void addDialog_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("stored"); // the field after pressing "&Add"
        QTest::newRow("scheme removed")
            << "http://www.example.com/x" << true << "www.example.com/x";
        QTest::newRow("scheme in capitals removed, case of the rest kept")
            << "HTTP://Example.COM/Page" << true << "Example.COM/Page";
        QTest::newRow("scheme alone is refused") << "http://" << false << "";
        QTest::newRow("two characters refused") << "ab" << false << "ab";
        QTest::newRow("three characters accepted") << "abc" << true << "abc";
        QTest::newRow("three spaces refused") << "   " << false << "   ";
        QTest::newRow("blanks around an address kept") << " a.b " << true << " a.b ";
        QTest::newRow("two spaces refused") << "  " << false << "  ";
        QTest::newRow("other scheme kept as typed")
            << "https://secure.example" << true << "https://secure.example";
        QTest::newRow("scheme then two characters refused") << "http://ab" << false << "ab";
    }

    void addDialog()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(QString, stored);
        openWindow({"a.example"});
        trigger("addmenu");
        AddSiteDialog* dialog = m_window->addDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral(" Add Website to list"));
        QVERIFY(dialog->addressField()->text().isEmpty());
        QTest::keyClicks(dialog->addressField(), typed);

        MessageBoxAnswerer answerer;
        dialog->actionButton()->click();
        QCOMPARE(dialog->addressField()->text(), stored);
        if (accepted) {
            QCOMPARE(answerer.seen.count, 0);
            QVERIFY(!dialog->isVisible());
            QCOMPARE(addresses(), (QByteArrayList{"a.example", stored.toUtf8()}));
        } else {
            QCOMPARE(answerer.seen.count, 1);
            QCOMPARE(answerer.seen.title, QStringLiteral("Korvane"));
            QCOMPARE(answerer.seen.text, QStringLiteral("Not a valid URL - Please type another"));
            QCOMPARE(answerer.seen.icon, QMessageBox::NoIcon);
            QCOMPARE(answerer.seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(dialog->isVisible());
            QCOMPARE(addresses(), QByteArrayList{"a.example"});
            // Pressed again unchanged, it is refused again.
            dialog->actionButton()->click();
            QCOMPARE(answerer.seen.count, 2);
        }
    }

    void addingTwiceGivesTwoRowsAndTheFieldStartsEmpty()
    {
        openWindow({"a.example"});
        for (int i = 0; i < 2; ++i) {
            trigger("addmenu");
            QVERIFY(m_window->addDialog()->addressField()->text().isEmpty());
            m_window->addDialog()->addressField()->setText("same.example");
            m_window->addDialog()->actionButton()->click();
        }
        QCOMPARE(addresses(), (QByteArrayList{"a.example", "same.example", "same.example"}));
    }

    void fullListRefusesAnotherSite()
    {
        openWindow({"a.example"});
        while (list().AddItem("filler")) {
        }
        QCOMPARE(list().Rows(), WatchList::MaxRows);
        trigger("addmenu");
        m_window->addDialog()->addressField()->setText("one.more");
        MessageBoxAnswerer answerer;
        m_window->addDialog()->actionButton()->click();
        QCOMPARE(answerer.seen.count, 1);
        QVERIFY(answerer.seen.text.contains("32,766") || answerer.seen.text.contains("32766"));
        QCOMPARE(list().Rows(), WatchList::MaxRows);
    }

    void editDialogWritesExactlyWhatWasTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("new address") << "new.example/path";
        QTest::newRow("with a scheme") << "http://kept.example";
        QTest::newRow("empty") << "";
        QTest::newRow("spaces") << "  spaced  ";
    }

    void editDialogWritesExactlyWhatWasTyped()
    {
        QFETCH(QString, typed);
        openWindow({"a.example", "b.example"});
        selectRow(1);
        list().setCell(1, 3, "77");
        trigger("editmenu");
        EditSiteDialog* dialog = m_window->editDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral(" Edit Website on list"));
        dialog->addressField()->setText(typed);
        dialog->actionButton()->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(addresses(), (QByteArrayList{typed.toUtf8(), "b.example"}));
        QCOMPARE(list().cell(1, 3), QByteArray("77"));
    }

    void editFollowsItsRow()
    {
        openWindow({"a.example", "b.example", "c.example"});
        selectRow(3);
        trigger("editmenu");
        // The user removes a row above while the dialog is open, and selects another row.
        selectRow(1);
        trigger("removemenu");
        selectRow(1);
        m_window->editDialog()->addressField()->setText("c2.example");
        m_window->editDialog()->actionButton()->click();
        QCOMPARE(addresses(), (QByteArrayList{"b.example", "c2.example"}));

        // Once its row is gone, the dialog writes nowhere, and says so: the typed address stays
        // in the field for the user to add.
        selectRow(2);
        trigger("editmenu");
        trigger("removemenu");
        m_window->editDialog()->addressField()->setText("lost.example");
        MessageBoxAnswerer answerer;
        m_window->editDialog()->actionButton()->click();
        QCOMPARE(addresses(), QByteArrayList{"b.example"});
        QCOMPARE(answerer.seen.count, 1);
        QVERIFY(m_window->editDialog()->isVisible());
        QCOMPARE(m_window->editDialog()->addressField()->text(), QStringLiteral("lost.example"));
    }

    void editKeepsBytesThatAreNotUtf8WhenLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::newRow("not UTF-8") << QByteArray("b\xfc"
                                                 "cher.example");
        // Longer than a text field holds: what it shows is cut, the address is not.
        QTest::newRow("40,000 characters") << "long.example/" + QByteArray(40'000, 'x');
    }

    void editKeepsBytesThatAreNotUtf8WhenLeftAlone()
    {
        QFETCH(QByteArray, address);
        openWindow({address});
        trigger("editmenu");
        m_window->editDialog()->actionButton()->click();
        QCOMPARE(addresses(), QByteArrayList{address});
    }

    void closeButtonsChangeNothing()
    {
        openWindow({"a.example"});
        trigger("editmenu");
        m_window->editDialog()->addressField()->setText("changed");
        m_window->editDialog()->closeButton()->click();
        trigger("addmenu");
        m_window->addDialog()->addressField()->setText("added.example");
        m_window->addDialog()->closeButton()->click();
        QVERIFY(!m_window->editDialog()->isVisible());
        QVERIFY(!m_window->addDialog()->isVisible());
        QCOMPARE(addresses(), QByteArrayList{"a.example"});
        QCOMPARE(list().Col(), 0);
    }

    void enterAndEscapePressNothing()
    {
        openWindow({"a.example"});
        trigger("addmenu");
        AddSiteDialog* dialog = m_window->addDialog();
        QTest::keyClicks(dialog->addressField(), "typed.example");
        MessageBoxAnswerer answerer;
        QTest::keyClick(dialog->addressField(), Qt::Key_Return);
        QTest::keyClick(dialog->addressField(), Qt::Key_Enter);
        QTest::keyClick(dialog->addressField(), Qt::Key_Escape);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QCOMPARE(addresses(), QByteArrayList{"a.example"});
        QCOMPARE(answerer.seen.count, 0);
        // Only the access keys press the buttons.
        QCOMPARE(dialog->actionButton()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));
        QCOMPARE(dialog->closeButton()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
    }

    void dialogsAsDesigned()
    {
        openWindow({"a.example", "b.example"});
        trigger("addmenu");
        trigger("editmenu");
        for (SiteDialog* dialog : {static_cast<SiteDialog*>(m_window->addDialog()),
                                   static_cast<SiteDialog*>(m_window->editDialog())}) {
            QCOMPARE(dialog->size(), QSize(344, 96));
            QVERIFY(!dialog->isModal());
            QVERIFY(!(dialog->windowFlags() & Qt::WindowMaximizeButtonHint));
            QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
            QCOMPARE(dialog->addressField()->geometry(), QRect(8, 24, 249, 25));
            QCOMPARE(dialog->actionButton()->geometry(), QRect(264, 24, 73, 25));
            QCOMPARE(dialog->closeButton()->geometry(), QRect(264, 64, 73, 25));
            QCOMPARE(dialog->closeButton()->text(), QStringLiteral("&Close"));
            QVERIFY(!dialog->actionButton()->isDefault());
            QVERIFY(!dialog->actionButton()->autoDefault());
            QWidgetList tabOrder;
            for (QWidget* w = dialog->addressField(); tabOrder.size() < 3;
                 w = w->nextInFocusChain())
                if (w->focusPolicy() & Qt::TabFocus)
                    tabOrder << w;
            QCOMPARE(tabOrder, (QWidgetList{dialog->addressField(), dialog->actionButton(),
                                            dialog->closeButton()}));
            QCOMPARE(dialog->findChild<QLabel*>("Label1")->text(), QStringLiteral("Website URL:"));
            QVERIFY(dialog->findChild<QLabel*>("Label2")->text().startsWith("e.g. www."));
            QVERIFY(dialog->findChild<QLabel*>("Label3")->text().endsWith(".shtml"));
        }
        QCOMPARE(m_window->addDialog()->actionButton()->text(), QStringLiteral("&Add"));
        QCOMPARE(m_window->editDialog()->actionButton()->text(), QStringLiteral("&Edit"));
        // The main window stays usable while a dialog is open.
        trigger("removemenu");
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void goLookChecksEverySiteAndSaves()
    {
        TestServer server;
        server.http().Get("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><p>Twelve chars</p></body></html>", "text/html");
        });
        server.start();
        const QByteArray good = server.hostAndPort() + "/page";
        const QByteArray missing = server.hostAndPort() + "/missing";
        openWindow({good, missing});
        list().setCell(2, 3, "0");
        trigger("golook");
        QCOMPARE(list().cell(1, 2), QByteArray("Yes"));
        QCOMPARE(list().cell(1, 3), QByteArray("12"));
        QCOMPARE(list().cell(2, 2), QByteArray("Error"));
        // A screen reader learns why from the mark itself.
        QAccessibleInterface* cells = QAccessible::queryAccessibleInterface(m_window->grid());
        QCOMPARE(cells->tableInterface()->cellAt(1, 2)->text(QAccessible::Description),
                 QStringLiteral("The server answered 404 Not Found"));
        QCOMPARE(m_window->statusLine()->text(), QStringLiteral(" Status:  Done"));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(readFile(listPath()).startsWith(good + "\r\n"));
        QVERIFY(readFile(listPath()).contains("\r\n12\r\n" + missing + "\r\n"));
    }

    // Exit saves, and the close it leads to finds the file holding the list already.
    void exitSavesOnceAndClosesEverything()
    {
        openWindow({"a.example"});
        trigger("addmenu");
        trigger("editmenu");
        list().AddItem("added.example");
        ReplaceCounter saves(m_dir.path());
        trigger("exitkorvane");
        QCOMPARE(saves.count("websites.ini"), 1);
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->addDialog()->isVisible());
        QVERIFY(!m_window->editDialog()->isVisible());
        QCOMPARE(readFile(listPath()),
                 QByteArray("a.example\r\n07/12/2026 10:00:00\r\n9\r\nadded.example\r\n\r\n\r\n"));
    }

    // The removal is on disk at once; the close has nothing left to write.
    void removeSavesAtOnceAndTheCloseWritesNothingMore()
    {
        openWindow({"a.example", "b.example"});
        ReplaceCounter saves(m_dir.path());
        trigger("removemenu");
        QCOMPARE(saves.count("websites.ini"), 1);
        m_window->close();
        QCOMPARE(saves.count("websites.ini"), 1);
        QCOMPARE(readFile(listPath()), QByteArray("a.example\r\n07/12/2026 10:00:00\r\n9\r\n"));
    }

    void failedSaveAtTheClose_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("answer"); // the button pressed in the question
        QTest::addColumn<bool>("throughExit");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");

        QTest::newRow("unchanged read-only list closes without a word")
            << false << int(QMessageBox::NoButton) << false << 0 << true << false;
        QTest::newRow("unchanged, through Exit Korvane")
            << false << int(QMessageBox::NoButton) << true << 0 << true << false;
        QTest::newRow("changed: keep Korvane open")
            << true << int(QMessageBox::Cancel) << false << 1 << false << false;
        QTest::newRow("changed: close without saving")
            << true << int(QMessageBox::Discard) << false << 1 << true << false;
        QTest::newRow("changed: close without saving, through Exit Korvane")
            << true << int(QMessageBox::Discard) << true << 1 << true << false;
        QTest::newRow("changed: keep open, through Exit Korvane")
            << true << int(QMessageBox::Cancel) << true << 1 << false << false;
        // The user makes the file writable again, then tries again.
        QTest::newRow("changed: try again")
            << true << int(QMessageBox::Retry) << false << 1 << true << true;
    }

    void failedSaveAtTheClose()
    {
        QFETCH(bool, changed);
        QFETCH(int, answer);
        QFETCH(bool, throughExit);
        QFETCH(int, messages);
        QFETCH(bool, closed);
        QFETCH(bool, saved);

        openWindow({"a.example"});
        const QByteArray before = readFile(listPath());
        QVERIFY(QFile::setPermissions(listPath(), QFile::ReadOwner));
        if (changed)
            list().AddItem("added.example");
        MessageBoxAnswerer answerer{QMessageBox::StandardButton(answer)};
        answerer.beforeAnswer = [this, answer] {
            if (answer == QMessageBox::Retry)
                QFile::setPermissions(listPath(), QFile::ReadOwner | QFile::WriteOwner);
        };
        QSignalSpy finished(m_window.get(), &MainWindow::finished);
        if (throughExit)
            trigger("exitkorvane");
        else
            m_window->close();

        QCOMPARE(answerer.seen.count, messages);
        if (messages) {
            QCOMPARE(answerer.seen.icon, QMessageBox::Warning);
            QVERIFY2(answerer.seen.text.contains(listPath()), qPrintable(answerer.seen.text));
            QVERIFY2(answerer.seen.text.contains("read-only"), qPrintable(answerer.seen.text));
            QCOMPARE(answerer.seen.buttons,
                     QMessageBox::Retry | QMessageBox::Discard | QMessageBox::Cancel);
        }
        QCOMPARE(m_window->isVisible(), !closed);
        QCOMPARE(finished.count(), closed ? 1 : 0);
        QVERIFY(QFile::setPermissions(listPath(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(readFile(listPath()), saved ? before + "added.example\r\n\r\n\r\n" : before);
    }

    void unreadableListIsToldOnceAtTheStart()
    {
        QVERIFY(QDir().mkdir(listPath()));
        MessageBoxAnswerer answerer;
        m_window =
            std::make_unique<MainWindow>(m_dir.path(), std::make_unique<RecordingOpener>(m_opened),
                                         curlCheckTools(m_dir.path()));
        m_window->show();
        QTRY_COMPARE(answerer.seen.count, 1);
        QCOMPARE(answerer.seen.icon, QMessageBox::Warning);
        QVERIFY2(answerer.seen.text.contains(listPath()), qPrintable(answerer.seen.text));
        QVERIFY2(answerer.seen.text.contains("folder"), qPrintable(answerer.seen.text));
        QCOMPARE(addresses(), QByteArrayList{""});
        // Left as it was loaded, the list closes without another word and the folder stays.
        m_window->close();
        QCOMPARE(answerer.seen.count, 1);
        QVERIFY(!m_window->isVisible());
        QVERIFY(QFileInfo(listPath()).isDir());
        QVERIFY(QDir().rmdir(listPath()));
    }

    // A run over a list longer than the grid, with a page in the middle that the server holds
    // back: meanwhile the window handles what is not the user's input (here a timer) and shows
    // the rows already checked, but never scrolls. The user's click on a row and on "remove"
    // during the hold wait, and are carried out after the run where they were made, as the
    // window system delivers them: so the site the user saw under the pointer is removed.
    void windowAnswersDuringTheRun()
    {
        ResponseGate gate;
        TestServer server;
        server.http().Get("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><p>Twelve chars</p></body></html>", "text/html");
        });
        server.http().Get("/held", [&gate](const httplib::Request&, httplib::Response& res) {
            gate.wait();
            res.set_content("<html><body><p>Held back</p></body></html>", "text/html");
        });
        server.start();
        QByteArrayList sites;
        for (int i = 1; i <= 40; ++i)
            sites << server.hostAndPort() +
                         (i == 20 ? "/held" : "/page?site=" + QByteArray::number(i));
        openWindow(sites);
        SiteGrid* grid = m_window->grid();
        grid->scrollTo(list().index(5, 0), QAbstractItemView::PositionAtTop);

        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        } counter;
        grid->viewport()->installEventFilter(&counter);

        bool handledWhileHeld = false;
        QByteArray rowBeforeHeld;
        int paintsWhileChecking = 0;
        const QPoint firstShownRow(grid->columnWidth(0) / 2, grid->rowHeight(0) / 2);
        QByteArray siteUnderPointer;
        QTimer timer;
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, [&] {
            if (!gate.isHolding() || handledWhileHeld)
                return;
            handledWhileHeld = true;
            rowBeforeHeld = list().cell(19, WatchList::UpdatedColumn);
            paintsWhileChecking = counter.paints;
            QCOMPARE(m_window->statusLine()->text(), QStringLiteral(" Status:  Running..."));
            siteUnderPointer =
                list().cell(WatchList::tableRowFromModelRow(grid->indexAt(firstShownRow).row()), 0);
            gate.release();
        });
        timer.start();
        counter.paints = 0;
        trigger("golook");
        gate.release();
        QVERIFY2(handledWhileHeld, "no event was handled while the page was held back");
        QCOMPARE(rowBeforeHeld, QByteArray("Yes"));
        QVERIFY(paintsWhileChecking > 0);
        QCOMPARE(list().cell(40, WatchList::UpdatedColumn), QByteArray("Yes"));
        QCOMPARE(m_window->statusLine()->text(), QStringLiteral(" Status:  Done"));

        clickAt(grid->viewport(), firstShownRow);
        clickArea("Label6");
        QCOMPARE(siteUnderPointer, sites[5]);
        sites.removeAt(5);
        QCOMPARE(addresses(), sites);
    }

    // A page's result is painted while the run waits for the next page, not at the run's end.
    void eachResultIsPaintedAsItComes()
    {
        ResponseGate gate;
        TestServer server;
        server.http().Get("/page", [&gate](const httplib::Request& req, httplib::Response& res) {
            if (req.has_param("held"))
                gate.wait();
            res.set_content("<html><body><p>Twelve chars</p></body></html>", "text/html");
        });
        server.start();
        openWindow({server.hostAndPort() + "/page", server.hostAndPort() + "/page?held=1"});
        struct : QObject
        {
            MainWindow* window;
            QRegion painted; // of row 1's result, during the run
            bool eventFilter(QObject*, QEvent* event) override
            {
                const WatchList& list = window->watchList();
                if (event->type() == QEvent::Paint && window->runUnderWay() &&
                    list.cell(1, WatchList::UpdatedColumn) == "Yes")
                    painted += static_cast<QPaintEvent*>(event)->region() &
                               window->grid()->visualRect(list.index(0, WatchList::UpdatedColumn));
                return false;
            }
        } watch;
        watch.window = m_window.get();
        m_window->grid()->viewport()->installEventFilter(&watch);
        clickDrawnButton(*m_window, "Label3");
        QTRY_VERIFY(!watch.painted.isEmpty());
        gate.release();
        QVERIFY(waitForCheckRun(*m_window));
        // The watch asks the window: it stops before the window starts to go.
        m_window->grid()->viewport()->removeEventFilter(&watch);
        m_window.reset(); // its connections go before the server
    }

    // A screen reader's press on the edit dialog's button and a close, during a run: the run
    // walks the list unchanged and stops at the page the server holds, without waiting for it;
    // then the address is written, the list saved and the window closed, in that order.
    void closeDuringTheRunStopsItAtItsPage()
    {
        ResponseGate gate;
        TestServer server;
        server.http().Get("/held", [&gate](const httplib::Request&, httplib::Response& res) {
            gate.wait();
            res.set_content("<html><body><p>Held back</p></body></html>", "text/html");
        });
        server.start();
        const QByteArray held = server.hostAndPort() + "/held";
        openWindow({server.hostAndPort() + "/missing", held});
        QByteArray heldRecord = readFile(listPath()).split('\n').mid(3).join('\n');
        QSignalSpy finished(m_window.get(), &MainWindow::finished);
        trigger("editmenu");
        m_window->editDialog()->addressField()->setText("edited.example");
        QAbstractButton* editButton = m_window->editDialog()->actionButton();
        QSignalSpy pressed(editButton, &QAbstractButton::clicked);

        bool pressAsked = false;
        bool unchangedAfterPress = false;
        QTimer timer;
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, [&] {
            if (!gate.isHolding())
                return;
            // The button's press action clicks it on a timer of its own.
            if (!std::exchange(pressAsked, true))
                QAccessible::queryAccessibleInterface(editButton)
                    ->actionInterface()
                    ->doAction(QAccessibleActionInterface::pressAction());
            if (pressed.isEmpty())
                return;
            timer.stop();
            // The dialog shows that the press was taken, and the list waits for the run's end.
            unchangedAfterPress = list().cell(2, 0) == held && !m_window->editDialog()->isVisible();
            m_window->windowHandle()->close();
        });
        timer.start();
        trigger("golook");

        QVERIFY(unchangedAfterPress);
        QVERIFY(gate.isHolding());
        gate.release();
        QVERIFY(!m_window->isVisible());
        QCOMPARE(finished.count(), 1);
        const QByteArray saved = readFile(listPath());
        QVERIFY2(saved.startsWith(server.hostAndPort() + "/missing\r\n" + Now), saved.constData());
        QVERIFY2(saved.endsWith("\r\n" + heldRecord.replace(held, "edited.example")),
                 saved.constData());
        // Its open connection would keep the server waiting for another request.
        m_window.reset();
    }

    void realOpenerPassesHostileTextAsOneArgument()
    {
        // A fake xdg-open first on PATH adds the arguments of each call to a record, each
        // argument ended by a NUL byte and each call by a line feed.
        const QString bin = m_dir.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        const QByteArray record = QFile::encodeName(m_dir.filePath("xdg-open-args"));
        QFile script(bin + "/xdg-open");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nline=$(for a in \"$@\"; do printf '%s\\0' \"$a\"; done | od -An "
                     "-v -tx1 | tr -d ' \\n')\necho \"$line\" >> \"" +
                     record + "\"\n");
        script.close();
        QVERIFY(QFile::setPermissions(script.fileName(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ":" + oldPath);

        const QString pwned = m_dir.filePath("pwned");
        const QByteArray hostile = "-x a b'\"; touch " + QFile::encodeName(pwned) + "; $(touch " +
                                   QFile::encodeName(pwned) + ") `touch " +
                                   QFile::encodeName(pwned) + "` | & > <";
        // An address with a NUL byte would reach the browser cut short: it is not opened at all.
        XdgOpener().open(QByteArray("http://a.example/\0b", 19));
        XdgOpener().open("http://" + hostile);
        const QByteArray expected = ("http://" + hostile + '\0').toHex() + '\n';
        // Starting a program returns once it runs, so when no fake xdg-open runs any more, a
        // wrongly started second call has written its line too.
        const QByteArray fake = QFile::encodeName(script.fileName());
        const auto fakeRunning = [&] {
            for (const QString& process :
                 QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                if (readFile("/proc/" + process + "/cmdline").contains(fake))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(readFile(record).contains(expected) && !fakeRunning(), 10000);
        qputenv("PATH", oldPath);
        QCOMPARE(readFile(record), expected);
        QVERIFY(!QFile::exists(pwned));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
