// SPDX-License-Identifier: MIT
// Builds the main window and wires its events to start-up, shut-down and the list commands.
#include "mainwindow.h"

#include "backgroundpicture.h"
#include "clickarea.h"
#include "korvaneversion.h"
#include "listatstartandend.h"
#include "sitegrid.h"
#include "statewords.h"
#include "statusline.h"
#include "twips.h"
#include "urlopener.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QStandardPaths>

#include <cstdio>
#include <utility>

MainWindow::MainWindow(const QString& dataDirectory, std::unique_ptr<UrlOpener> opener,
                       CheckTools checkTools, const Options& options, QWidget* parent)
    : QMainWindow(parent), m_file(watchListPath(dataDirectory), options.settleTime),
      m_recovery(recoveryPlaces(), options.now),
      m_session(m_list, m_file, m_recovery, std::move(checkTools), *this, options),
      m_end(m_list, m_file, m_session, m_recovery, *this)
{
    // The artwork is compiled into this static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(artwork);
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Korvane"));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/korvane.svg")));

    m_list.setNoteWords(checkNoteText);
    m_list.setAddressWords([this](const QByteArray& urlCell) {
        return siteFindingText(m_session.findings().find(WatchList::siteAddress(urlCell)));
    });
    m_loadOutcome = startUpWatchList(m_list, m_file);
    m_commands = std::make_unique<ListCommands>(m_list, m_session, std::move(opener), this);
    connect(&m_session, &RunSession::saved, this, &MainWindow::showSaveOutcome);
    connect(&m_session, &RunSession::readAgain, this, &MainWindow::showReadAgain);
    connect(&m_session, &RunSession::fileSettled, this, &MainWindow::showFileSettled);
    connect(&m_session, &RunSession::fileIsNotAList, this, &MainWindow::showNotAList);
    connect(&m_session, &RunSession::runStarted, this, &MainWindow::checkRunStarted);
    connect(&m_session, &RunSession::stateChanged, this, [this] {
        if (!m_session.walksTheList())
            m_grid->setCheckingRow(0);
    });
    connect(m_commands.get(), &ListCommands::couldNotOpen, this, [this](const QByteArray& address) {
        say(NoBrowserStatusText + WatchList::displayText(address));
    });
    // A session manager that asks before a logout gets the list on disk, whatever happens
    // after.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_end.saveWithoutAsking(); });
    // A list that could not be read is never taken or written: there is nothing to watch.
    if (m_loadOutcome == LoadOutcome::Unreadable)
        QMetaObject::invokeMethod(this, &MainWindow::reportUnreadableList, Qt::QueuedConnection);
    else
        m_session.watchTheFile();

    buildMenus();
    buildFace();
    pointOutRecoveryFile();

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
                                auto command) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, command);
    };
    ListCommands* commands = m_commands.get();
    // Captions without access keys: a "&" would mark a letter in them.
    QMenu* watchList = addMenu(QStringLiteral("mainmenu"), QStringLiteral("Watch List"));
    addItem(watchList, QStringLiteral("addmenu"), QStringLiteral("Add Website"),
            [commands] { commands->addCommand(); });
    addItem(watchList, QStringLiteral("removemenu"), QStringLiteral("Remove Selected"),
            [commands] { commands->removeCommand(); });
    addItem(watchList, QStringLiteral("editmenu"), QStringLiteral("Edit Selected"),
            [commands] { commands->editCommand(); });
    QMenu* options = addMenu(QStringLiteral("korvane"), QStringLiteral("Options"));
    addItem(options, QStringLiteral("golook"), QStringLiteral("Go look"),
            [commands] { commands->goLookCommand(); });
    addItem(options, QStringLiteral("exitkorvane"), QStringLiteral("Exit Korvane"),
            [this] { m_end.request(EndOfLife::Cause::Exit); });
    QMenu* help = addMenu(QStringLiteral("help"), QStringLiteral("Help"));
    addItem(help, QStringLiteral("onlinehelp"), QStringLiteral("Online Help"),
            [commands] { commands->onlineHelpCommand(); });

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
    m_status = new StatusLine(ReadyStatusText, client);
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
    ListCommands* commands = m_commands.get();
    const auto addArea = [this, commands](const QString& name, const QRect& geometry,
                                          void (ListCommands::*command)(), const QString& caption,
                                          const QString& description) {
        auto* area = new ClickArea(m_picture);
        area->setObjectName(name);
        area->setGeometry(geometry);
        area->setAccessibleName(caption);
        area->setAccessibleDescription(description);
        connect(area, &ClickArea::clicked, commands, command);
    };
    // Back to front as well: where two areas overlap, the one on the right takes the click.
    addArea(QStringLiteral("Label3"), twipRect(0, 840, 1575, 855), &ListCommands::goLookCommand,
            QStringLiteral("Go Look!"),
            QStringLiteral("Check every website on the list for changes"));
    addArea(QStringLiteral("Label4"), twipRect(1920, 840, 615, 855), &ListCommands::addCommand,
            QStringLiteral("add"), QStringLiteral("Add a website to the list"));
    addArea(QStringLiteral("Label5"), twipRect(2520, 840, 615, 855), &ListCommands::editCommand,
            QStringLiteral("edit"), QStringLiteral("Edit the address of the selected website"));
    addArea(QStringLiteral("Label6"), twipRect(3120, 840, 735, 855), &ListCommands::removeCommand,
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
    connect(m_grid, &SiteGrid::gridDoubleClicked, commands, &ListCommands::openSiteCommand);
    connect(m_grid, &SiteGrid::openRequested, commands, &ListCommands::openSiteCommand);
    // A site just added is shown, so the user sees it arrive at the end of a long list.
    // Not the rows another program's edit brings: the view stays where the user left it.
    connect(&m_list, &WatchList::siteAdded, m_grid, &SiteGrid::showRow);
}

void MainWindow::showStatus(const QString& text, bool writing)
{
    m_saysWriting = writing;
    if (m_status->text() != text)
        m_status->setText(text);
    // The line is narrow: a long text, such as a path, is read whole in its tooltip.
    m_status->setToolTip(text.trimmed());
}

void MainWindow::say(const QString& text)
{
    m_quietStatus = text;
    if (!m_notSaved)
        showStatus(text);
}

void MainWindow::showSaveOutcome(SaveOutcome outcome)
{
    switch (outcome) {
    case SaveOutcome::Saved:
        // The list on disk has caught up: said, where it had not.
        if (std::exchange(m_notSaved, false))
            m_quietStatus = SavedAgainStatusText;
        showStatus(m_quietStatus);
        return;
    case SaveOutcome::FileUnsettled:
        if (!m_notSaved)
            showStatus(WritingStatusText, true);
        return;
    case SaveOutcome::FileSettling:
        // A moment's wait, which nothing else needs to hear of.
        return;
    case SaveOutcome::NotAList: {
        m_notSaved = true;
        const QString kept = m_recovery.path();
        showStatus(NotSavedStatusText +
                   (kept.isEmpty()
                        ? fileFailureShortText(m_file.failure())
                        : QStringLiteral("websites.ini is not a list Korvane can read; the "
                                         "list is kept in %1")
                              .arg(QDir::toNativeSeparators(kept))));
        return;
    }
    default:
        m_notSaved = true;
        showStatus(NotSavedStatusText + fileFailureShortText(m_file.failure()));
        return;
    }
}

void MainWindow::showReadAgain()
{
    say(ReadAgainStatusText);
}

void MainWindow::showFileSettled()
{
    if (m_saysWriting)
        showStatus(m_quietStatus);
}

void MainWindow::showNotAList()
{
    // The list the user may want back, when Korvane kept one at an earlier end.
    say(m_recoveryAtStart.isEmpty()
            ? NotAListStatusText
            : NotAListStatusText + QStringLiteral("; the list is kept in %1")
                                       .arg(QDir::toNativeSeparators(m_recoveryAtStart)));
}

void MainWindow::pointOutRecoveryFile()
{
    // Told once, as Korvane starts: a list that an earlier end could not save, and that the
    // user may want back. Newer than the list, since a later save would have caught up with it.
    m_recoveryAtStart = recoveryFileNewerThan(m_file.path(), recoveryPlaces());
    if (!m_recoveryAtStart.isEmpty())
        say(QStringLiteral(" Status:  A list Korvane could not save is kept in %1")
                .arg(QDir::toNativeSeparators(m_recoveryAtStart)));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_end.request(EndOfLife::Cause::Window))
        event->accept();
    else
        event->ignore();
}

void MainWindow::bringForward()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::endOnRequest()
{
    m_end.request(EndOfLife::Cause::Signal);
}

EndOfLife::Answer MainWindow::askAfterFailedSave(const QString& kept)
{
    const QString consequence =
        kept.isEmpty()
            ? QStringLiteral("If Korvane closes without saving, the changes made since the list "
                             "was last saved are lost.")
            : QStringLiteral("Korvane leaves that file as it is. The list as Korvane shows it is "
                             "kept in\n%1")
                  .arg(QDir::toNativeSeparators(kept));
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Korvane"),
                    QStringLiteral("Korvane could not save the watch list\n%1\n\n%2\n\n%3")
                        .arg(QDir::toNativeSeparators(m_file.path()),
                             fileFailureText(m_file.failure()), consequence),
                    QMessageBox::Retry | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.button(QMessageBox::Retry)->setText(QStringLiteral("Try Again"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Close Without Saving"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Keep Korvane Open"));
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Retry:
        return EndOfLife::Answer::TryAgain;
    case QMessageBox::Discard:
        return EndOfLife::Answer::CloseWithoutSaving;
    default:
        return EndOfLife::Answer::KeepOpen;
    }
}

void MainWindow::ended()
{
    // Does nothing while a close is already under way (its question still open, or the close
    // handler running): the end comes all the same.
    close();
    Q_EMIT finished();
}

void MainWindow::tellUnsaved(const QString& kept)
{
    std::fprintf(stderr, "%s\n",
                 qPrintable(unsavedListText(m_file.path(), m_file.failure(), kept)));
}

void MainWindow::reportUnreadableList()
{
    if (!m_end.isOpen())
        return;
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Korvane"),
        QStringLiteral("Korvane could not read the watch list\n%1\n\n%2\n\n"
                       "Korvane starts with an empty list and will not overwrite "
                       "this file until it is started again.")
            .arg(QDir::toNativeSeparators(m_file.path()), fileFailureText(m_file.failure())),
        QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::showRunStatus(RunStatus status)
{
    say(runStatusText(status));
}

void MainWindow::runSaved(SaveOutcome outcome, const FileFailure&)
{
    if (outcome == SaveOutcome::Saved || saveWaitsForTheFile(outcome))
        say(DoneStatusText);
    showSaveOutcome(outcome);
}

void MainWindow::setBusyPointer(bool busy)
{
    // Over the whole program, drawn buttons and dialogs included: the window still answers
    // during a run, but what changes the list waits for its end, and the pointer says so.
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

void MainWindow::waitingForSite(const SiteWait& wait)
{
    // The wait first: the status line is narrow, and a long host name is cut at its end.
    say(QStringLiteral(" Status:  Waiting %1 s, as %2 asked")
            .arg(wait.left.count())
            .arg(QString::fromUtf8(wait.host)));
}
