// SPDX-License-Identifier: MIT
// Builds the main window and wires its events to start-up, shut-down and the list commands.
#include "mainwindow.h"

#include "backgroundpicture.h"
#include "clickarea.h"
#include "helppage.h"
#include "korvaneversion.h"
#include "lifecycle.h"
#include "sitedialogs.h"
#include "sitegrid.h"
#include "twips.h"
#include "urlopener.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QStandardPaths>

#include <cstdio>
#include <utility>

namespace {

// Several writes of one save by another program (an editor, a script appending) come as
// several signals: the list is read once they have settled.
constexpr int OutsideEditSettleMs = 100;

} // namespace

MainWindow::MainWindow(const QString& dataDirectory, std::unique_ptr<UrlOpener> opener,
                       CheckTools checkTools, QWidget* parent)
    : QMainWindow(parent), m_file(watchListPath(dataDirectory)), m_opener(std::move(opener)),
      m_checkTools(std::move(checkTools))
{
    // The artwork is compiled into this static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(artwork);
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Korvane"));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/korvane.svg")));

    m_loadOutcome = startUpWatchList(m_list, m_file);
    // A session manager that asks before a logout gets the list on disk, whatever happens
    // after.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { saveWithoutAsking(); });
    m_outsideEdit.setSingleShot(true);
    m_outsideEdit.setInterval(OutsideEditSettleMs);
    connect(&m_outsideEdit, &QTimer::timeout, this, &MainWindow::takeOutsideEditNow);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_outsideEdit,
            qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_outsideEdit,
            qOverload<>(&QTimer::start));
    // A list that could not be read is never taken or written: there is nothing to watch.
    if (m_loadOutcome == LoadOutcome::Unreadable)
        QMetaObject::invokeMethod(this, &MainWindow::reportUnreadableList, Qt::QueuedConnection);
    else
        watchTheFile();

    buildMenus();
    buildFace();

    // The layout is fixed: a larger window shows more background, a smaller one cuts it off.
    const QSize client(pixels(3960), pixels(5160));
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    m_grid->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    const auto addMenu = [bar](const QString& name, const QString& caption) {
        QMenu* menu = bar->addMenu(caption);
        menu->setObjectName(name);
        return menu;
    };
    const auto addItem = [this](QMenu* menu, const QString& name, const QString& caption,
                                void (MainWindow::*command)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, command);
    };
    // Captions without access keys: a "&" would mark a letter in them.
    QMenu* watchList = addMenu(QStringLiteral("mainmenu"), QStringLiteral("Watch List"));
    addItem(watchList, QStringLiteral("addmenu"), QStringLiteral("Add Website"),
            &MainWindow::addCommand);
    addItem(watchList, QStringLiteral("removemenu"), QStringLiteral("Remove Selected"),
            &MainWindow::removeCommand);
    addItem(watchList, QStringLiteral("editmenu"), QStringLiteral("Edit Selected"),
            &MainWindow::editCommand);
    QMenu* options = addMenu(QStringLiteral("korvane"), QStringLiteral("Options"));
    addItem(options, QStringLiteral("golook"), QStringLiteral("Go look"),
            &MainWindow::goLookCommand);
    addItem(options, QStringLiteral("exitkorvane"), QStringLiteral("Exit Korvane"),
            &MainWindow::exitCommand);
    QMenu* help = addMenu(QStringLiteral("help"), QStringLiteral("Help"));
    addItem(help, QStringLiteral("onlinehelp"), QStringLiteral("Online Help"),
            &MainWindow::onlineHelpCommand);

    // Without access keys in the captions, F10 is how the keyboard reaches the menus, as in
    // other desktop programs.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, bar,
            [bar] { bar->setActiveAction(bar->actions().value(0)); });
}

void MainWindow::buildFace()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    // Made back to front: the status line, the picture with its labels, the grid in front.
    m_status = new QLabel(ReadyStatusText, client);
    m_status->setObjectName(QStringLiteral("Label1"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setGeometry(twipRect(0, 4920, 3975, 255));
    m_status->setAutoFillBackground(true);
    QPalette statusColours = m_status->palette();
    statusColours.setColor(QPalette::Window, QColor(0, 0, 0));
    statusColours.setColor(QPalette::WindowText, QColor(128, 128, 128));
    m_status->setPalette(statusColours);
    // No fixed name: a screen reader reads the label's changing text, which names it already.
    m_status->setAccessibleDescription(QStringLiteral("Status line"));

    m_picture = new BackgroundPicture(client);
    m_picture->setObjectName(QStringLiteral("Picture1"));
    m_picture->setGeometry(twipRect(0, 0, 3975, 4935));

    // The buttons are drawn in the picture, so assistive technology learns them from here.
    const auto addArea = [this](const QString& name, const QRect& geometry,
                                void (MainWindow::*command)(), const QString& caption,
                                const QString& description) {
        auto* area = new ClickArea(m_picture);
        area->setObjectName(name);
        area->setGeometry(geometry);
        area->setAccessibleName(caption);
        area->setAccessibleDescription(description);
        connect(area, &ClickArea::clicked, this, command);
    };
    // Back to front as well: where two areas overlap, the one on the right takes the click.
    addArea(QStringLiteral("Label3"), twipRect(0, 840, 1575, 855), &MainWindow::goLookCommand,
            QStringLiteral("Go Look!"),
            QStringLiteral("Check every website on the list for changes"));
    addArea(QStringLiteral("Label4"), twipRect(1920, 840, 615, 855), &MainWindow::addCommand,
            QStringLiteral("add"), QStringLiteral("Add a website to the list"));
    addArea(QStringLiteral("Label5"), twipRect(2520, 840, 615, 855), &MainWindow::editCommand,
            QStringLiteral("edit"), QStringLiteral("Edit the address of the selected website"));
    addArea(QStringLiteral("Label6"), twipRect(3120, 840, 735, 855), &MainWindow::removeCommand,
            QStringLiteral("remove"), QStringLiteral("Remove the selected website from the list"));

    auto* version = new QLabel(QStringLiteral("v" KORVANE_VERSION), m_picture);
    version->setObjectName(QStringLiteral("Label2"));
    version->setGeometry(twipRect(3240, 480, 615, 255));
    version->setAlignment(Qt::AlignCenter);
    version->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette white = version->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    version->setPalette(white);

    m_grid = new SiteGrid(m_list, client);
    m_grid->setGeometry(twipRect(120, 1800, 3735, 2895));
    m_grid->setAccessibleName(QStringLiteral("Watch list"));
    m_grid->setAccessibleDescription(
        QStringLiteral("The watched websites; double click a website, or press Enter on it, to "
                       "open it in the browser"));
    connect(m_grid, &SiteGrid::gridDoubleClicked, this, &MainWindow::openSiteCommand);
    connect(m_grid, &SiteGrid::openRequested, this, &MainWindow::openSiteCommand);
    // A site just added is shown, so the user sees it arrive at the end of a long list.
    // Not the rows another program's edit brings: the view stays where the user left it.
    connect(&m_list, &WatchList::siteAdded, m_grid, &SiteGrid::showRow);
}

QPersistentModelIndex MainWindow::siteRowAt(int row) const
{
    return QPersistentModelIndex(m_list.index(WatchList::modelRowFromTableRow(row), 0));
}

void MainWindow::addCommand()
{
    m_guard.whenFree([this] {
        // Asked for before an end that came during a check run: there is nobody to show it to.
        if (m_life != Life::Open)
            return;
        if (!m_add) {
            m_add = std::make_unique<AddSiteDialog>(m_list, m_guard, this);
            connect(m_add.get(), &SiteDialog::listChanged, this, &MainWindow::saveChange);
        }
        m_add->addressField()->clear();
        m_add->showModeless();
    });
}

void MainWindow::editCommand()
{
    // The rows the user chose when asking, wherever earlier commands that waited for a check
    // run have moved them by the time this one is carried out.
    const QPersistentModelIndex chosen = siteRowAt(m_list.Row());
    m_guard.whenFree([this, chosen] {
        if (m_life != Life::Open || !chosen.isValid())
            return;
        const int row = WatchList::tableRowFromModelRow(chosen.row());
        m_list.setCurrentCell(row, WatchList::UrlColumn);
        if (!m_update) {
            m_update = std::make_unique<EditSiteDialog>(m_list, m_guard, this);
            connect(m_update.get(), &SiteDialog::listChanged, this, &MainWindow::saveChange);
        }
        m_update->editRow(row);
        m_update->showModeless();
    });
}

void MainWindow::removeCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.RowSel());
    m_guard.whenFree([this, chosen] {
        if (!chosen.isValid())
            return;
        if (m_list.Rows() < 3) {
            if (m_life != Life::Open)
                return;
            QMessageBox box(QMessageBox::Information, QStringLiteral("Korvane Information"),
                            QStringLiteral("You must have at least on website. You can edit this "
                                           "site to change it"),
                            QMessageBox::Ok, this);
            box.exec();
            return;
        }
        m_list.RemoveItem(WatchList::tableRowFromModelRow(chosen.row()));
        saveChange();
    });
}

void MainWindow::goLookCommand()
{
    // One run per request: a second Go Look! during a run would check every page again and
    // overwrite what the first run found before the user has seen it.
    if (m_guard.isHeld())
        return;
    checkAllSites();
}

void MainWindow::saveChange()
{
    // Kept on disk at once, so that a crash or a lost display loses nothing. A save that fails
    // leaves the list unsaved: the status line says so, and the close asks what to do.
    showSaveOutcome(saveWatchList(m_list, m_file));
}

void MainWindow::showSaveOutcome(SaveOutcome outcome)
{
    if (outcome != SaveOutcome::Saved)
        m_status->setText(NotSavedStatusText + m_file.shortReason());
    else if (m_status->text().startsWith(NotSavedStatusText))
        m_status->setText(m_quietStatus);
}

void MainWindow::watchTheFile()
{
    // A file replaced by renaming another over it (as editors and Korvane itself save) drops
    // out of the watch: it is watched again, and its folder tells when it comes back.
    const QString path = m_file.path();
    if (QFileInfo::exists(path) && !m_watcher.files().contains(path))
        m_watcher.addPath(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
}

void MainWindow::takeOutsideEditNow()
{
    watchTheFile();
    // A check run takes an outside edit at its end, before it saves; an end saves its own way.
    if (m_life != Life::Open || m_guard.isHeld())
        return;
    if (!takeOutsideEdit(m_list, m_file))
        return;
    m_quietStatus = ReadAgainStatusText;
    if (!m_status->text().startsWith(NotSavedStatusText))
        m_status->setText(ReadAgainStatusText);
}

void MainWindow::checkAllSites()
{
    if (!m_checkTools.fetcher || m_life != Life::Open)
        return;
    m_guard.hold();
    CheckRunHost& host = *this;
    m_run =
        std::make_unique<CheckRun>(m_list, m_file, *m_checkTools.fetcher, host, m_checkTools.now);
    connect(m_run.get(), &CheckRun::finished, this, &MainWindow::checkRunEnded);
    connect(m_run.get(), &CheckRun::stopped, this, &MainWindow::checkRunEnded);
    m_run->VisitALL();
}

void MainWindow::checkRunEnded()
{
    m_grid->setCheckingRow(0);
    if (m_life == Life::Stopping)
        closeDialogs();
    // What the user asked for during the run is carried out now, in order; before an end that
    // came meanwhile, only what changes the list.
    m_guard.release();
    if (m_life == Life::Stopping) {
        m_life = Life::Open;
        requestEnd(m_stopCause);
    }
}

void MainWindow::openSiteCommand()
{
    const QPersistentModelIndex chosen = siteRowAt(m_list.Row());
    m_guard.whenFree([this, chosen] {
        if (!chosen.isValid())
            return;
        const int row = WatchList::tableRowFromModelRow(chosen.row());
        m_list.setCurrentCell(row, WatchList::UrlColumn);
        m_opener->open(WatchList::siteAddress(m_list.Text()));
    });
}

void MainWindow::onlineHelpCommand()
{
    m_guard.whenFree([this] {
        const QByteArray page = helpPageAddress(QCoreApplication::applicationDirPath());
        if (!page.isEmpty())
            m_opener->open(page);
    });
}

void MainWindow::exitCommand()
{
    requestEnd(EndCause::Exit);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (requestEnd(EndCause::Window))
        event->accept();
    else
        event->ignore();
}

void MainWindow::endOnRequest()
{
    requestEnd(EndCause::Signal);
}

bool MainWindow::requestEnd(EndCause cause)
{
    switch (m_life) {
    case Life::Ended:
        return true;
    case Life::Stopping:
        // The run's end ends the program; a signal meanwhile makes it an end without questions.
        if (cause == EndCause::Signal)
            m_stopCause = cause;
        return false;
    case Life::Closing:
    case Life::ClosingWithoutSaving:
        if (cause == EndCause::Window) {
            // Exit Korvane closes the window once it has saved: the close saves once more,
            // without asking again.
            if (m_life == Life::Closing)
                saveWatchListAtShutDown(m_list, m_file);
            endNow();
            return true;
        }
        break;
    case Life::Open:
        break;
    }

    if (m_guard.isHeld()) {
        // Nobody waits for a run over a slow web to end, neither a logout nor the user who
        // closes the window: the run stops at the page it is fetching and keeps what it found,
        // then the end follows.
        if (m_life == Life::Open) {
            m_life = Life::Stopping;
            m_stopCause = cause;
            if (m_run)
                m_run->stop();
        }
        return false;
    }
    if (cause == EndCause::Signal) {
        endWithoutAsking();
        return m_life == Life::Ended;
    }
    if (m_life != Life::Open)
        return false;

    m_life = Life::Closing;
    if (!saveBeforeClosing()) {
        m_life = Life::Open;
        return false;
    }
    // An end signal that came while the question was open has ended everything already.
    if (m_life == Life::Ended)
        return true;
    closeDialogs();
    if (cause == EndCause::Exit) {
        // Closing the window runs the close handler, which saves once more and ends.
        close();
        return true;
    }
    endNow();
    return true;
}

void MainWindow::closeDialogs()
{
    if (m_add)
        m_add->closeForEnd();
    if (m_update)
        m_update->closeForEnd();
}

bool MainWindow::saveBeforeClosing()
{
    for (;;) {
        if (saveWatchListAtShutDown(m_list, m_file) == SaveOutcome::Saved)
            return true;
        // A list that is as it was loaded or last saved loses nothing: a read-only list that
        // was only looked at closes without a word.
        if (!m_file.hasUnsavedChanges(m_list))
            return true;

        QMessageBox box(QMessageBox::Warning, QStringLiteral("Korvane"),
                        QStringLiteral("Korvane could not save the watch list\n%1\n\n%2\n\n"
                                       "If Korvane closes without saving, the changes made since "
                                       "the list was last saved are lost.")
                            .arg(QDir::toNativeSeparators(m_file.path()), m_file.errorString()),
                        QMessageBox::Retry | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.button(QMessageBox::Retry)->setText(QStringLiteral("Try Again"));
        box.button(QMessageBox::Discard)->setText(QStringLiteral("Close Without Saving"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Keep Korvane Open"));
        box.setDefaultButton(QMessageBox::Retry);
        box.setEscapeButton(QMessageBox::Cancel);
        const int choice = box.exec();
        // An end signal that came while the question was open has saved what it could.
        if (m_life == Life::Ended)
            return true;
        if (choice == QMessageBox::Discard) {
            m_life = Life::ClosingWithoutSaving;
            return true;
        }
        if (choice != QMessageBox::Retry)
            return false;
    }
}

void MainWindow::endWithoutAsking()
{
    // Nobody can be asked: one try, and the program ends whatever came of it. A file that
    // already holds the list is left as it is.
    saveWithoutAsking();
    endNow();
}

void MainWindow::saveWithoutAsking()
{
    const SaveOutcome outcome = saveWatchListAtShutDown(m_list, m_file);
    if (outcome == SaveOutcome::Saved || !m_file.hasUnsavedChanges(m_list))
        return;
    const QStringList places = {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                                QDir::homePath(), QDir::tempPath()};
    const QString kept = writeRecoveryFile(m_list, m_file, places, QDateTime::currentDateTime());
    const QString list = QDir::toNativeSeparators(m_file.path());
    if (kept.isEmpty())
        std::fprintf(stderr,
                     "Korvane could not save the watch list %s (%s), nor keep it anywhere "
                     "else: the changes since it was last saved are lost.\n",
                     qPrintable(list), qPrintable(m_file.shortReason()));
    else
        std::fprintf(stderr,
                     "Korvane could not save the watch list %s (%s). The list is kept in %s.\n",
                     qPrintable(list), qPrintable(m_file.shortReason()),
                     qPrintable(QDir::toNativeSeparators(kept)));
}

void MainWindow::endNow()
{
    if (m_life == Life::Ended)
        return;
    m_life = Life::Ended;
    m_guard.shutForGood();
    closeDialogs();
    // Does nothing while a close is already under way (its question still open, or the close
    // handler running): the end comes all the same.
    close();
    Q_EMIT finished();
}

void MainWindow::reportUnreadableList()
{
    if (m_life != Life::Open)
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Korvane"),
                    QStringLiteral("Korvane could not read the watch list\n%1\n\n%2\n\n"
                                   "Korvane starts with an empty list and will not overwrite "
                                   "this file until it is started again.")
                        .arg(QDir::toNativeSeparators(m_file.path()), m_file.errorString()),
                    QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::setStatusText(const QString& text)
{
    m_status->setText(text);
    if (!text.startsWith(NotSavedStatusText))
        m_quietStatus = text;
}

void MainWindow::setBusyPointer(bool busy)
{
    // Over the whole program, drawn buttons and dialogs included: nothing answers until the
    // run ends.
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void MainWindow::repaintNow()
{
    repaint();
}

void MainWindow::checkingRow(int row)
{
    // The grid stays where the user left it; a tint shows where the run is.
    m_grid->setCheckingRow(row);
}
