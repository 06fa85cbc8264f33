// SPDX-License-Identifier: MIT
// Random sequences of what a user does with the real main window, offscreen, against a small
// model of the list: the rows, the selection and the marks. After every step the grid equals
// the model, websites.ini holds the model's list, and nothing else beside it has changed.
#include "checkrunfixtures.h"
#include "checktools.h"
#include "mainwindow.h"
#include "messageboxanswerer.h"
#include "recordingopener.h"
#include "responsegate.h"
#include "sitedialogs.h"
#include "testfiles.h"
#include "testserver.h"
#include "urlopener.h"
#include "windowclicks.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <rapidcheck.h>
#include <rapidcheck/state.h>

#include <mutex>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <tuple>
#include <unistd.h>

namespace {

// What the test server serves at /p0 to /p2: a page of that many characters of text, or a
// missing page (-1).
constexpr int Pages = 3;
const std::vector<int> PageLengths = {-1, 0, 1, 7, 30};
// Few enough rows for the grid to show them all: every row can be clicked where it is.
constexpr size_t MostRows = 8;
// Files of the user's beside the list: the program must never touch them.
const std::map<QString, QByteArray> UserFiles = {{"websites.ini.backup", "mine\r\n"},
                                                 {"websites.ini.before", "also mine\r\n"},
                                                 {"notes.txt", "keep"}};

// One server for the whole test, so that addresses keep their meaning while a failing
// sequence is shrunk. It may hold one request of a run back.
struct PageServer
{
    TestServer http;
    ResponseGate gate;
    std::mutex lock;
    std::array<int, Pages> pages{};
    int requests = 0, holdRequest = 0;
};
PageServer* g_server = nullptr;
std::string g_host; // "127.0.0.1:<port>"
// Root writes through any file mode: a folder is made read-only for root by mounting it so.
const bool g_asRoot = ::geteuid() == 0;
bool g_readOnlyWorks = false;

// How another program ends the lines of the list it writes: as Korvane does, as a Linux editor
// does, or both in one file (a record appended with echo to a list Korvane wrote).
enum class LineEnds
{
    CrLf,
    Lf,
    Mixed
};

struct Row
{
    std::string address, visited, stored, mark;
    bool operator==(const Row&) const = default;
};

struct Model
{
    std::vector<Row> rows;
    int row = 0, col = 3, rowSel = 0; // table rows: 1 is the first site
    std::array<int, Pages> pages{};
    bool fileMissing = false;
    // What websites.ini holds; the folder refuses every write; a save failed since the last
    // that succeeded (the status line says so).
    std::vector<Row> saved;
    // The line ends of the file: Korvane's CR LF, or another program's, kept until a save.
    LineEnds savedEnds = LineEnds::CrLf;
    bool readOnly = false, notSaved = false;
    // The mark each address had when an outside edit last replaced its row, since the last run
    // began: a row that comes back gets it.
    std::map<std::string, std::string> markOf;
    // The lists that ends kept in recovery files, as they were written.
    std::multiset<QByteArray> recovered;

    int last() const { return int(rows.size()); }
    // Every change, run end and close saves the whole list, or fails to.
    void save()
    {
        if (readOnly) {
            notSaved = true;
            return;
        }
        saved = rows;
        savedEnds = LineEnds::CrLf;
        notSaved = fileMissing = false;
    }
    // The save of an end writes only a list that the file does not hold already.
    void saveAtTheEnd()
    {
        const auto unmarked = [](std::vector<Row> list) {
            for (Row& r : list)
                r.mark.clear();
            return list;
        };
        if (fileMissing || notSaved || unmarked(rows) != unmarked(saved))
            save();
    }
    void startUp()
    {
        rows = saved;
        for (Row& r : rows)
            r.mark.clear();
        row = rowSel = last();
        col = 3;
        notSaved = false;
        markOf.clear();
    }
    // Another program's list `theirs` meets the list, whose rows are still those of `saved`
    // (an outside edit comes only when nothing waits to be saved). Rows meet by address, the
    // n-th row with an address the n-th with it: a row keeps its marks, and the visit times and
    // lengths a check changed since `saved`; a row only the file has gets the mark its address
    // last had.
    void takeOutsideEdit(const std::vector<Row>& theirs, LineEnds ends)
    {
        savedEnds = ends;
        for (const Row& r : rows)
            markOf[r.address] = r.mark;
        std::map<std::string, std::vector<int>> places;
        for (int i = 0; i < last(); ++i)
            places[rows[size_t(i)].address].push_back(i + 1);
        std::map<std::string, size_t> seen;
        std::vector<Row> merged;
        std::vector<int> from;
        for (Row r : theirs) {
            const size_t k = seen[r.address]++;
            const std::vector<int>& candidates = places[r.address];
            from.push_back(k < candidates.size() ? candidates[k] : 0);
            r.mark = markOf.count(r.address) ? markOf[r.address] : "";
            if (from.back() > 0) {
                const Row &mine = rows[size_t(from.back() - 1)],
                          &b = saved[size_t(from.back() - 1)];
                r.visited = mine.visited != b.visited ? mine.visited : r.visited;
                r.stored = mine.stored != b.stored ? mine.stored : r.stored;
                r.mark = mine.mark;
            }
            merged.push_back(r);
        }
        const auto follow = [&](int r) {
            const auto it = std::find(from.begin(), from.end(), r);
            return it != from.end() ? int(it - from.begin()) + 1 : std::min(r, int(merged.size()));
        };
        row = follow(row);
        rowSel = follow(rowSel);
        rows = merged;
        saved = theirs;
    }
    // The page text length a row's address leads to: 0 when it fails.
    int lengthFor(const std::string& address) const
    {
        for (int k = 0; k < Pages; ++k)
            if (address == g_host + "/p" + std::to_string(k) ||
                address == "http://" + g_host + "/p" + std::to_string(k))
                return std::max(pages[size_t(k)], 0);
        return 0;
    }
    bool reachesServer(const Row& r) const { return r.address.find(g_host) != std::string::npos; }
    int served() const
    {
        return int(std::count_if(rows.begin(), rows.end(),
                                 [this](const Row& r) { return reachesServer(r); }));
    }
    // A run begins: its marks are the only ones.
    void checkAll()
    {
        markOf.clear();
        for (Row& r : rows)
            check(r);
    }
    // The check of one row, as the run does it.
    void check(Row& r) const
    {
        const int length = lengthFor(r.address);
        bool isNumber =
            !r.stored.empty() && r.stored.find_first_not_of("0123456789") == std::string::npos;
        const int stored = isNumber ? std::stoi(r.stored) : 0;
        r.visited = Now.toStdString();
        if (length != stored) {
            r.mark = length < 1 ? "Not Found" : "Yes";
            if (length > 1)
                r.stored = std::to_string(length);
        } else {
            r.mark = length < 1 ? "Error" : "No";
        }
    }
    // Removes the row at the selection's far end; the selection shrinks to what is left of it.
    void remove()
    {
        if (rows.size() < 2)
            return;
        const int gone = rowSel;
        rows.erase(rows.begin() + (gone - 1));
        const auto kept = [gone](int end, int other) {
            return end > gone || (end == gone && other < gone) ? end - 1 : end;
        };
        std::tie(row, rowSel) = std::pair(kept(row, rowSel), kept(rowSel, row));
        row = std::min(row, last());
        rowSel = std::min(rowSel, last());
        save();
    }
    // What a dialog's field keeps of a text typed or pasted: the first line that holds more
    // than blanks, without them.
    static std::string oneLine(const std::string& typed)
    {
        std::string kept = typed;
        if (typed.find_first_of("\r\n") != std::string::npos) {
            kept.clear();
            std::istringstream lines(typed);
            for (std::string line; kept.empty() && std::getline(lines, line);) {
                line.erase(0, std::min(line.find_first_not_of(" \t\r"), line.size()));
                kept = line.substr(0, line.find_last_not_of(" \t\r") + 1);
            }
        }
        std::erase(kept, '\t');
        return kept;
    }
    // What the add dialog adds: that line without its "http://".
    static std::string added(const std::string& typed)
    {
        const std::string kept = oneLine(typed);
        return kept.rfind("http://", 0) == 0 ? kept.substr(7) : kept;
    }
    QByteArray fileBytes() const { return bytesOf(saved, savedEnds); }
    static QByteArray bytesOf(const std::vector<Row>& rows, LineEnds ends = LineEnds::CrLf)
    {
        QByteArray bytes;
        int line = 0;
        for (const Row& r : rows)
            for (const std::string* field : {&r.address, &r.visited, &r.stored}) {
                const bool lf = ends == LineEnds::Lf || (ends == LineEnds::Mixed && line++ % 2);
                bytes += QByteArray::fromStdString(*field) + (lf ? "\n" : "\r\n");
            }
        return bytes;
    }
};

// The system under test: the real window on a list in a folder of its own.
class Sut
{
public:
    PageServer& server = *g_server;
    QTemporaryDir dir;
    // Where recovery files go: the per-user data folder.
    QTemporaryDir data;
    QByteArrayList opened;
    std::unique_ptr<MainWindow> window;
    MessageBoxAnswerer answerer;
    bool m_mounted = false;

    QString listPath() const { return dir.filePath("websites.ini"); }
    WatchList& list() { return window->watchList(); }

    Sut() { qputenv("XDG_DATA_HOME", QFile::encodeName(data.path())); }
    ~Sut() { setReadOnly(false); }
    // Another program's list is taken a moment after it is written, and saved if need be.
    void waitUntilShown(const Model& after)
    {
        const auto taken = [&] {
            if (list().Rows() != after.last() + 1 || readFile(listPath()) != after.fileBytes() ||
                window->statusLine()->text().startsWith(NotSavedStatusText) != after.notSaved)
                return false;
            for (int r = 1; r <= after.last(); ++r)
                if (list().cell(r, 0).toStdString() != after.rows[size_t(r - 1)].address ||
                    list().cell(r, 1).toStdString() != after.rows[size_t(r - 1)].visited)
                    return false;
            return true;
        };
        for (int i = 0; i < 2000 && !taken(); ++i)
            QTest::qWait(1);
    }
    std::multiset<QByteArray> recoveryFiles() const
    {
        std::multiset<QByteArray> kept;
        QDirIterator it(data.path(), {"websites-unsaved-*.ini"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            kept.insert(readFile(it.next()));
        return kept;
    }
    // The list's folder turns read-only, as a disk that was remounted so, or back.
    bool setReadOnly(bool on)
    {
        const QByteArray path = QFile::encodeName(dir.path());
        if (g_asRoot && on)
            return ::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0 &&
                   ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                           nullptr) == 0 &&
                   (m_mounted = true);
        if (g_asRoot)
            return !std::exchange(m_mounted, false) || ::umount2(path.constData(), MNT_DETACH) == 0;
        return QFile::setPermissions(listPath(), on ? QFile::ReadOwner
                                                    : QFile::ReadOwner | QFile::WriteOwner) &&
               QFile::setPermissions(dir.path(),
                                     QFile::ReadOwner | QFile::ExeOwner |
                                         (on ? QFile::Permissions() : QFile::WriteOwner));
    }

    void open()
    {
        Options options;
        options.settleTime = std::chrono::milliseconds(1);
        options.saveRetryTime = std::chrono::milliseconds(10);
        window = std::make_unique<MainWindow>(dir.path(), std::make_unique<RecordingOpener>(opened),
                                              curlCheckTools(dir.path(), fixedClock), options);
        window->show();
        // Without qWaitForWindowExposed, which sleeps 10 ms between its looks.
        for (int i = 0; i < 1000 && !window->windowHandle()->isExposed(); ++i)
            QCoreApplication::processEvents();
        RC_ASSERT(window->windowHandle()->isExposed());
    }

    // Whatever the program did, websites.ini is the model's list and the user's files are
    // untouched; the grid shows the model.
    void checkAgainst(const Model& m)
    {
        if (m.fileMissing)
            RC_ASSERT(!QFile::exists(listPath()));
        else
            RC_ASSERT(readFile(listPath()) == m.fileBytes());
        QStringList expected{"websites.ini"};
        for (const auto& [name, bytes] : UserFiles) {
            expected << name;
            RC_ASSERT(readFile(dir.filePath(name)) == bytes);
        }
        if (m.fileMissing)
            expected.removeFirst();
        expected.sort();
        RC_ASSERT(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden) == expected);
        RC_ASSERT(recoveryFiles() == m.recovered);
        if (!window)
            return;
        RC_ASSERT(window->statusLine()->text().startsWith(NotSavedStatusText) == m.notSaved);
        RC_ASSERT(list().Rows() == m.last() + 1);
        for (int r = 1; r <= m.last(); ++r) {
            const Row& want = m.rows[size_t(r - 1)];
            const Row got{list().cell(r, 0).toStdString(), list().cell(r, 1).toStdString(),
                          list().cell(r, 3).toStdString(), list().cell(r, 2).toStdString()};
            RC_ASSERT(got == want);
        }
        RC_ASSERT(list().Row() == m.row);
        RC_ASSERT(list().Col() == m.col);
        RC_ASSERT(list().RowSel() == m.rowSel);
        RC_ASSERT(window->grid()->currentIndex().row() == m.rowSel - 1);
        // What a command acts on is what the grid shows selected.
        for (int r = 1; r <= m.last(); ++r)
            RC_ASSERT(window->grid()->selectionModel()->isSelected(list().index(r - 1, m.col)) ==
                      (r >= std::min(m.row, m.rowSel) && r <= std::max(m.row, m.rowSel)));
    }

    // Go Look! by one of its three ways: the drawn button, the menu item, a screen reader.
    void goLook(int way)
    {
        if (way == 0)
            clickDrawnButton(*window, "Label3");
        else if (way == 1)
            window->findChild<QAction*>("golook")->trigger();
        else {
            // The press clicks on a timer: the click comes before the test goes on.
            auto* area = window->findChild<ClickArea*>("Label3");
            QSignalSpy clicked(area, &ClickArea::clicked);
            QAccessible::queryAccessibleInterface(area)->actionInterface()->doAction(
                QAccessibleActionInterface::pressAction());
            RC_ASSERT(clicked.wait());
        }
    }

    // Starts a run that the server holds at its `holdAt`-th request; `whileHeld` runs then.
    void runHeld(int holdAt, int way, const std::function<void()>& whileHeld)
    {
        {
            std::lock_guard guard(server.lock);
            server.requests = 0;
            server.holdRequest = holdAt;
        }
        server.gate.close();
        bool done = false;
        QTimer timer;
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (done || !server.gate.isHolding())
                return;
            done = true;
            whileHeld();
            server.gate.release();
        });
        timer.start();
        goLook(way);
        RC_ASSERT(waitForCheckRun(*window));
        server.gate.release();
        {
            std::lock_guard guard(server.lock);
            server.holdRequest = 0;
        }
        RC_ASSERT(done);
    }
};

using Command = rc::state::Command<Model, Sut>;

// A step of the user's: it acts on the window, which must then match the model.
struct Step : Command
{
    virtual void act(const Model& m, Sut& s) const = 0;
    void run(const Model& m, Sut& s) const final
    {
        act(m, s);
        Model after = m;
        apply(after);
        s.checkAgainst(after);
    }
};

// Any number of [min, max) alike: RapidCheck's own range narrows with the sequence's size.
rc::Gen<int> anyIn(int min, int max)
{
    return rc::gen::resize(100, rc::gen::inRange(min, max));
}

const auto AddressGen = [] {
    return rc::gen::oneOf(
        rc::gen::map(anyIn(0, Pages), [](int k) { return g_host + "/p" + std::to_string(k); }),
        rc::gen::element<std::string>("dead..example", ""));
};

struct Select final : Step
{
    int row = 0, col = 0, extend = 0;
    explicit Select(const Model& m)
        : row(*anyIn(1, m.last() + 1)), col(*rc::gen::element(0, 2)), extend(*anyIn(-2, 3))
    {}
    // A shrunk sequence may have fewer rows than this step was made for.
    void checkPreconditions(const Model& m) const override { RC_PRE(row <= m.last()); }
    void apply(Model& m) const override
    {
        m.row = row;
        m.col = col;
        m.rowSel = std::clamp(row + extend, 1, m.last());
    }
    void act(const Model&, Sut& s) const override
    {
        clickCell(*s.window, row, col);
        for (int i = 0; i < std::abs(extend); ++i)
            QTest::keyClick(s.window->grid(), extend > 0 ? Qt::Key_Down : Qt::Key_Up,
                            Qt::ShiftModifier);
    }
    void show(std::ostream& os) const override
    {
        os << "Select row " << row << " col " << col << " extend " << extend;
    }
};

// An address as typed, or as pasted with the line ends and blanks it was copied with.
const auto TypedGen = [] {
    return rc::gen::apply(
        [](std::string address, std::string before, std::string after) {
            return before + address + after;
        },
        rc::gen::oneOf(AddressGen(),
                       rc::gen::element<std::string>("http://" + g_host + "/p1", "ab")),
        rc::gen::element<std::string>("", "", "\r\n", " \n\t"),
        rc::gen::element<std::string>("", "", "\r\n", "\n", "\t\r\n", "\r\nsecond line\r\n"));
};

struct Add final : Step
{
    std::string typed = *TypedGen();
    explicit Add(const Model& m) { RC_PRE(m.rows.size() < MostRows); }
    std::string kept() const { return Model::added(typed); }
    void apply(Model& m) const override
    {
        if (kept().size() < 3)
            return;
        m.rows.push_back({kept(), "", "", ""});
        m.save();
    }
    void act(const Model&, Sut& s) const override
    {
        clickDrawnButton(*s.window, "Label4");
        s.window->addDialog()->addressField()->insert(QString::fromStdString(typed));
        QTest::mouseClick(s.window->addDialog()->actionButton(), Qt::LeftButton);
        s.window->addDialog()->hide();
    }
    void show(std::ostream& os) const override { os << "Add \"" << typed << '"'; }
};

struct Edit final : Step
{
    std::string typed = *AddressGen();
    void apply(Model& m) const override
    {
        m.rows[size_t(m.row - 1)].address = typed;
        m.col = 0;
        m.rowSel = m.row;
        m.save();
    }
    void act(const Model&, Sut& s) const override
    {
        clickDrawnButton(*s.window, "Label5");
        s.window->editDialog()->addressField()->setText(QString::fromStdString(typed));
        QTest::mouseClick(s.window->editDialog()->actionButton(), Qt::LeftButton);
    }
    void show(std::ostream& os) const override { os << "Edit to \"" << typed << '"'; }
};

struct Remove final : Step
{
    int times = *rc::gen::element(1, 1, 2, 3);
    void apply(Model& m) const override
    {
        for (int i = 0; i < times; ++i)
            m.remove();
    }
    void act(const Model&, Sut& s) const override
    {
        for (int i = 0; i < times; ++i)
            clickDrawnButton(*s.window, "Label6");
    }
    void show(std::ostream& os) const override { os << "Remove " << times << " times"; }
};

// A click on the grid's blank area under the rows selects nothing.
struct ClickBelowTheRows final : Step
{
    void apply(Model&) const override {}
    void act(const Model& m, Sut& s) const override
    {
        const QRect last = s.window->grid()->visualRect(s.list().index(m.last() - 1, 0));
        clickInWindow(*s.window, s.window->grid()->viewport(), last.center() + QPoint(0, 30));
    }
    void show(std::ostream& os) const override { os << "Click below the rows"; }
};

// The user opens the add or edit dialog, presses Go Look!, and while a page is held types an
// address and presses the dialog's button; then, if the dialog is still there, types another
// and presses again, as one does when a press seems not taken.
struct PressDuringRun final : Step
{
    bool edit = *rc::gen::arbitrary<bool>();
    std::string first = *TypedGen(), second = *AddressGen();
    int holdAt = 0;
    explicit PressDuringRun(const Model& m)
    {
        RC_PRE(!m.readOnly && m.served() > 0 && m.rows.size() < MostRows);
        holdAt = *anyIn(1, m.served() + 1);
    }
    void checkPreconditions(const Model& m) const override
    {
        RC_PRE(!m.readOnly && holdAt <= m.served() && m.rows.size() < MostRows);
    }
    void apply(Model& m) const override
    {
        m.checkAll();
        m.save();
        if (edit) {
            m.rows[size_t(m.row - 1)].address = Model::oneLine(first);
            m.col = 0;
            m.rowSel = m.row;
            m.save();
        } else if (Model::added(first).size() >= 3) {
            m.rows.push_back({Model::added(first), "", "", ""});
            m.save();
        }
    }
    void act(const Model&, Sut& s) const override
    {
        clickDrawnButton(*s.window, edit ? "Label5" : "Label4");
        SiteDialog* dialog =
            edit ? static_cast<SiteDialog*>(s.window->editDialog()) : s.window->addDialog();
        s.runHeld(holdAt, 0, [&] {
            for (const std::string* typed : {&first, &second}) {
                if (!dialog->isVisible())
                    break;
                dialog->addressField()->clear();
                dialog->addressField()->insert(QString::fromStdString(*typed));
                QTest::mouseClick(dialog->actionButton(), Qt::LeftButton);
            }
        });
        dialog->hide();
    }
    void show(std::ostream& os) const override
    {
        os << (edit ? "Edit" : "Add") << " during a run held at request " << holdAt << ": \""
           << first << "\", then \"" << second << '"';
    }
};

struct ChangePage final : Step
{
    int page = *anyIn(0, Pages);
    int length = *rc::gen::elementOf(PageLengths);
    void apply(Model& m) const override { m.pages[size_t(page)] = length; }
    void act(const Model&, Sut& s) const override
    {
        std::lock_guard guard(s.server.lock);
        s.server.pages[size_t(page)] = length;
    }
    void show(std::ostream& os) const override { os << "Page " << page << " becomes " << length; }
};

// What another program writes to websites.ini: the list with a row added, or a new list; in
// place, or as a new file renamed over it, as editors save.
struct OutsideWrite
{
    bool newList = *rc::gen::arbitrary<bool>();
    bool byRename = *rc::gen::arbitrary<bool>();
    LineEnds ends = *rc::gen::element(LineEnds::CrLf, LineEnds::Lf, LineEnds::Mixed);
    int at = *anyIn(0, int(MostRows));
    std::vector<std::string> addresses =
        *rc::gen::container<std::vector<std::string>>(size_t(*anyIn(1, 4)), AddressGen());

    static bool possible(const Model& m)
    {
        return !m.readOnly && !m.notSaved && !m.fileMissing && m.saved.size() < MostRows;
    }
    std::vector<Row> theirs(const Model& m) const
    {
        if (!newList) {
            std::vector<Row> rows = m.saved;
            rows.insert(rows.begin() + std::min(size_t(at), rows.size()),
                        Row{addresses.front(), "", "", ""});
            return rows;
        }
        std::vector<Row> rows;
        for (size_t i = 0; i < addresses.size(); ++i)
            rows.push_back({addresses[i], "by hand", std::to_string(5 * i), ""});
        return rows;
    }
    void write(const Model& m, Sut& s) const
    {
        const QByteArray bytes = Model::bytesOf(theirs(m), ends);
        if (!byRename) {
            RC_ASSERT(writeFile(s.listPath(), bytes));
            return;
        }
        RC_ASSERT(writeFile(s.listPath() + ".new", bytes));
        RC_ASSERT(std::rename(QFile::encodeName(s.listPath() + ".new").constData(),
                              QFile::encodeName(s.listPath()).constData()) == 0);
    }
    void show(std::ostream& os) const
    {
        static const char* const endNames[] = {"CR LF", "LF", "mixed"};
        os << (newList ? "a new list of " + std::to_string(addresses.size()) + " rows"
                       : "the list with " + addresses.front() + " at " + std::to_string(at))
           << (byRename ? ", renamed over it" : ", in place") << ", " << endNames[int(ends)]
           << " line ends";
    }
};

// A whole run; when `held`, the server holds one of its requests, and meanwhile the user asks
// for another run and maybe removes the selected site.
struct GoLook final : Step
{
    int way = *rc::gen::element(0, 1, 2);
    int secondWay = *rc::gen::element(0, 1, 2);
    // Held runs cost the most time: one in three.
    bool held = *rc::gen::element(true, false, false);
    bool removeWhileHeld = *rc::gen::arbitrary<bool>();
    // Another program writes the list while a page is held.
    bool outsideEdit = *rc::gen::element(false, false, true);
    OutsideWrite outside;
    int holdAt = 0;
    explicit GoLook(const Model& m)
    {
        RC_PRE(!m.readOnly);
        if (held) {
            RC_PRE(m.served() > 0);
            holdAt = *anyIn(1, m.served() + 1);
        }
        outsideEdit = outsideEdit && held && OutsideWrite::possible(m);
        removeWhileHeld = removeWhileHeld && !outsideEdit;
    }
    void checkPreconditions(const Model& m) const override
    {
        RC_PRE(!m.readOnly && (!held || holdAt <= m.served()));
        RC_PRE(!outsideEdit || OutsideWrite::possible(m));
    }
    std::vector<Row> outsideList(const Model& m) const { return outside.theirs(m); }
    void apply(Model& m) const override
    {
        m.checkAll();
        if (outsideEdit)
            m.takeOutsideEdit(outsideList(m), outside.ends);
        m.save();
        if (held && removeWhileHeld)
            m.remove();
    }
    void act(const Model& m, Sut& s) const override
    {
        const int scrolled = s.window->grid()->horizontalScrollBar()->value();
        if (!held) {
            s.goLook(way);
            RC_ASSERT(waitForCheckRun(*s.window));
        } else {
            s.runHeld(holdAt, way, [&] {
                RC_ASSERT(s.list().Row() == m.row && s.list().RowSel() == m.rowSel);
                s.goLook(secondWay);
                if (removeWhileHeld)
                    clickDrawnButton(*s.window, "Label6");
                if (outsideEdit) {
                    outside.write(m, s);
                    QTest::qWait(5);
                }
            });
        }
        // The run's save waits until Korvane has seen the other program's file settle.
        if (outsideEdit) {
            Model after = m;
            apply(after);
            s.waitUntilShown(after);
        }
        RC_ASSERT(s.window->grid()->horizontalScrollBar()->value() == scrolled);
    }
    void show(std::ostream& os) const override
    {
        os << "Go Look " << way;
        if (held)
            os << ", held at request " << holdAt << ": Go Look " << secondWay
               << (removeWhileHeld ? " and Remove" : "");
        if (outsideEdit) {
            os << "; another program writes ";
            outside.show(os);
        }
    }
};

// The end of the program, then a start on the same list. `during`: the end comes while the
// server holds a page of a run, which stops there.
struct EndAndRestart final : Step
{
    enum Way
    {
        Close,
        Exit,
        Signal,
        Crash
    };
    Way way = *rc::gen::element(Close, Exit, Signal, Crash);
    bool during = *rc::gen::element(true, false, false);
    int holdAt = 0;
    explicit EndAndRestart(const Model& m)
    {
        // A crash with the list deleted starts from a new default list. A close that cannot
        // save asks what to do, and the other steps answer no questions.
        RC_PRE(way != Crash || !m.fileMissing);
        RC_PRE(!m.readOnly);
        during = during && way != Crash && m.served() > 0;
        if (during)
            holdAt = *anyIn(1, m.served() + 1);
    }
    void checkPreconditions(const Model& m) const override
    {
        RC_PRE((way != Crash || !m.fileMissing) && !m.readOnly);
        RC_PRE(!during || holdAt <= m.served());
    }
    void apply(Model& m) const override
    {
        if (during) {
            int request = 0;
            for (Row& r : m.rows) {
                if (m.reachesServer(r) && ++request == holdAt)
                    break;
                m.check(r);
            }
        }
        // A run that stops saves what it found, however little; an end saves only a list
        // that the file does not hold.
        if (during)
            m.save();
        else if (way != Crash)
            m.saveAtTheEnd();
        m.startUp();
    }
    void end(Sut& s) const
    {
        if (way == Close)
            s.window->close();
        else if (way == Exit)
            s.window->findChild<QAction*>("exitkorvane")->trigger();
        else if (way == Signal)
            s.window->endOnRequest();
    }
    void act(const Model& m, Sut& s) const override
    {
        const FileStamp before = stampOf(s.listPath());
        const bool unchanged =
            !m.fileMissing && !m.notSaved && readFile(s.listPath()) == m.fileBytes();
        QSignalSpy finished(s.window.get(), &MainWindow::finished);
        if (during)
            s.runHeld(holdAt, 0, [&] { end(s); });
        else
            end(s);
        RC_ASSERT(finished.count() == (way == Crash ? 0 : 1));
        if (!during && way != Crash && unchanged)
            RC_ASSERT(stampOf(s.listPath()) == before);
        s.window.reset();
        s.open();
    }
    void show(std::ostream& os) const override
    {
        static const char* const names[] = {"Close", "Exit", "Signal", "Crash"};
        os << names[way]
           << (during ? " during a run held at request " + std::to_string(holdAt) : "")
           << ", start again";
    }
};

// Another program writes the list while Korvane is open and idle: Korvane takes it.
struct OutsideEdit final : Step
{
    OutsideWrite outside;
    explicit OutsideEdit(const Model& m) { RC_PRE(OutsideWrite::possible(m)); }
    void checkPreconditions(const Model& m) const override { RC_PRE(OutsideWrite::possible(m)); }
    void apply(Model& m) const override { m.takeOutsideEdit(outside.theirs(m), outside.ends); }
    void act(const Model& m, Sut& s) const override
    {
        outside.write(m, s);
        Model after = m;
        apply(after);
        s.waitUntilShown(after);
    }
    void show(std::ostream& os) const override
    {
        os << "Another program writes ";
        outside.show(os);
    }
};

// Another program writes the list in two steps with a pause between, holding the file open: a
// shell's `>` empties the file and writes later, other tools write half and then the rest. The
// pause is far longer than the settle time: only the kernel says that the file is still being
// written. In the pause the program ends, a run ends, or nothing happens: the half-written
// file is never taken or written over, and an end that changed nothing writes nothing.
struct WriteInTwoSteps final : Step
{
    enum Between
    {
        Nothing,
        RunEnds,
        Close,
        Exit,
        Signal
    };
    OutsideWrite outside;
    bool emptiedFirst = *rc::gen::arbitrary<bool>();
    Between between = *rc::gen::element(Nothing, RunEnds, Close, Exit, Signal);
    explicit WriteInTwoSteps(const Model& m) { RC_PRE(OutsideWrite::possible(m)); }
    void checkPreconditions(const Model& m) const override { RC_PRE(OutsideWrite::possible(m)); }
    void apply(Model& m) const override
    {
        if (between >= Close) {
            m.saved = outside.theirs(m);
            m.savedEnds = outside.ends;
            m.startUp();
            return;
        }
        if (between == RunEnds)
            m.checkAll();
        m.takeOutsideEdit(outside.theirs(m), outside.ends);
        if (between == RunEnds)
            m.save();
    }
    void act(const Model& m, Sut& s) const override
    {
        const QByteArray bytes = Model::bytesOf(outside.theirs(m), outside.ends);
        const qsizetype first = emptiedFirst ? 0 : bytes.size() / 2;
        QFile file(s.listPath());
        RC_ASSERT(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        RC_ASSERT(file.write(bytes.left(first)) == first && file.flush());
        QTest::qWait(20);
        if (between == RunEnds) {
            s.goLook(0);
            RC_ASSERT(waitForCheckRun(*s.window));
            RC_ASSERT(s.window->statusLine()->text() == WritingStatusText);
        } else if (between >= Close) {
            s.answerer.answerWith(QMessageBox::Discard);
            if (between == Close)
                s.window->close();
            else if (between == Exit)
                s.window->findChild<QAction*>("exitkorvane")->trigger();
            else
                s.window->endOnRequest();
            s.answerer.answerWith(QMessageBox::Ok);
            s.window.reset();
        }
        RC_ASSERT(file.write(bytes.mid(first)) == bytes.size() - first && file.flush());
        file.close();
        if (!s.window) {
            s.open();
            return;
        }
        Model after = m;
        apply(after);
        s.waitUntilShown(after);
    }
    void show(std::ostream& os) const override
    {
        static const char* const names[] = {"nothing", "a run ends", "Close", "Exit", "Signal"};
        os << "Another program writes in two steps (" << (emptiedFirst ? "empty" : "half")
           << " first; between them " << names[between] << ") ";
        outside.show(os);
    }
};

struct SetReadOnly final : Step
{
    explicit SetReadOnly(const Model&) { RC_PRE(g_readOnlyWorks); }
    void apply(Model& m) const override
    {
        m.readOnly = !m.readOnly;
        // A save that failed is tried again until one succeeds.
        if (!m.readOnly && m.notSaved)
            m.save();
    }
    void act(const Model& m, Sut& s) const override
    {
        RC_ASSERT(s.setReadOnly(!m.readOnly));
        if (m.readOnly && m.notSaved) {
            Model after = m;
            apply(after);
            s.waitUntilShown(after);
        }
    }
    void show(std::ostream& os) const override { os << "The folder turns read-only or back"; }
};

struct DeleteList final : Step
{
    explicit DeleteList(const Model& m) { RC_PRE(!m.readOnly); }
    void apply(Model& m) const override { m.fileMissing = true; }
    void act(const Model&, Sut& s) const override { QFile::remove(s.listPath()); }
    void show(std::ostream& os) const override { os << "Delete websites.ini"; }
};

} // namespace

class TestNothingLost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userJourneys()
    {
        // Reproducible by default; RC_PARAMS given from outside wins.
        if (qEnvironmentVariableIsEmpty("RC_PARAMS"))
            qputenv("RC_PARAMS", "seed=20261208 max_success=200 max_size=29");
        Model initial;
        initial.rows = {{"", "never", "7", ""}, {"", "never", "", ""}, {"", "never", "0", ""}};
        initial.pages = {30, 7, -1};

        PageServer server;
        g_server = &server;
        server.http.http().Get(R"(/p(\d))",
                               [&server](const httplib::Request& req, httplib::Response& res) {
                                   int length;
                                   {
                                       std::unique_lock guard(server.lock);
                                       if (++server.requests == server.holdRequest) {
                                           guard.unlock();
                                           server.gate.wait();
                                           guard.lock();
                                       }
                                       length = server.pages[size_t(std::stoi(req.matches[1]))];
                                   }
                                   if (length < 0)
                                       res.status = 404;
                                   else
                                       res.set_content(pageOfTextLength(length), "text/html");
                               });
        server.http.start();
        g_host = server.http.hostAndPort().toStdString();
        for (int k = 0; k < Pages; ++k)
            initial.rows[size_t(k)].address = g_host + "/p" + std::to_string(k);
        initial.saved = initial.rows;
        initial.startUp();
        {
            Sut probe;
            g_readOnlyWorks = probe.setReadOnly(true) && !writeFile(probe.listPath(), "x") &&
                              probe.setReadOnly(false);
            if (!g_readOnlyWorks)
                qWarning(
                    "the list's folder cannot be made read-only here: those steps are left out");
        }

        std::unique_ptr<Sut> sut;
        const bool held = rc::check("nothing the user did is lost", [&] {
            sut = std::make_unique<Sut>();
            Sut& s = *sut;
            {
                std::lock_guard guard(server.lock);
                server.pages = initial.pages;
            }
            RC_ASSERT(writeFile(s.listPath(), initial.fileBytes()));
            for (const auto& [name, bytes] : UserFiles)
                RC_ASSERT(writeFile(s.dir.filePath(name), bytes));
            s.open();
            rc::state::check(
                initial, s,
                rc::state::gen::execOneOfWithArgs<Select, Add, Edit, Remove, ChangePage, GoLook,
                                                  EndAndRestart, DeleteList, ClickBelowTheRows,
                                                  PressDuringRun, OutsideEdit, SetReadOnly,
                                                  WriteInTwoSteps>());
            s.window.reset();
        });
        sut.reset();
        QVERIFY(held);
    }
};

QTEST_MAIN(TestNothingLost)
#include "tst_nothinglost.moc"
