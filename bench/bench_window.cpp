// SPDX-License-Identifier: MIT
// The program as the user meets it, in an offscreen window: a click on Go Look! over a
// thousand pages until the list is saved, beside the curl tool over the same pages; a close
// that saves a full list of 32,766 sites; and the peak memory of the real program kept open on
// that list and then ended.
#include "benchmain.h"
#include "checkrun.h"
#include "clickarea.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "mainwindow.h"
#include "pageserver.h"
#include "urlopener.h"
#include "watchlist.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

using namespace benchpages;

constexpr int FullList = 32'766;

// Where the program under test is, and where its memory figure comes from.
QString programPath;

class NoBrowser final : public UrlOpener
{
public:
    void open(const QByteArray&) override {}
};

CheckTools tools(const QString& dataDirectory)
{
    CheckTools made;
    made.downloads = std::make_unique<CurlDownloadService>();
    made.fetcher =
        std::make_unique<PageFetcher>(*made.downloads, temporaryDownloadPath(dataDirectory));
    return made;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A list of `sites` records; the addresses are the served pages' for the first PageCount.
QByteArray listBytes(int sites)
{
    QByteArray bytes;
    for (int i = 0; i < sites; ++i) {
        bytes += i < PageCount ? server().address(i)
                               : "www.site" + QByteArray::number(i) + ".example/news/";
        bytes += "\r\n01/03/2026 08:00:00\r\n1\r\n";
    }
    return bytes;
}

// Handles events until `done` or the limit; false on the limit.
template <typename Done> bool handleEventsUntil(Done done, int limitMs = 120'000)
{
    const QDeadlineTimer deadline(limitMs);
    QTimer wake;
    wake.start(50);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// A window on `bytes`, written to `listPath` first, shown as at start-up; null, with the
// benchmark told why, when it could not be.
std::unique_ptr<MainWindow> windowOn(benchmark::State& state, const QString& listPath,
                                     const QByteArray& bytes)
{
    if (!writeBytes(listPath, bytes)) {
        state.SkipWithError("cannot write the list");
        return nullptr;
    }
    const QString folder = QFileInfo(listPath).absolutePath();
    auto window =
        std::make_unique<MainWindow>(folder, std::make_unique<NoBrowser>(), tools(folder));
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        state.SkipWithError("the window was not shown");
        return nullptr;
    }
    return window;
}

// From the click on Go Look! to the saved list, a new window each time as at start-up, the
// curl tool run right after each; the ratio is the median of the run-by-run ratios.
void goLook(benchmark::State& state)
{
    BesideCurl runs;
    for (auto _ : state) {
        QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("bench_window-XXXXXX")));
        const QString listPath = dir.filePath(QStringLiteral("websites.ini"));
        const QByteArray before = listBytes(PageCount);
        const std::unique_ptr<MainWindow> shown = windowOn(state, listPath, before);
        if (!shown)
            return;
        MainWindow& window = *shown;
        auto* goLook = window.findChild<ClickArea*>(QStringLiteral("Label3"));
        const QPoint at = goLook->mapTo(&window, goLook->rect().center());

        const auto start = Clock::now();
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
        const bool ended =
            handleEventsUntil([&] { return window.statusLine()->text() == DoneStatusText; });
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);

        const QByteArray after = readBytes(listPath);
        if (!ended || after == before || after.contains("\r\n1\r\n")) {
            state.SkipWithError("the run did not save every page's length");
            return;
        }
        if (!runs.add(state, seconds))
            return;
    }
    runs.report(state);
}

// A close of the window with a full list that holds one change not yet saved, until the
// window says it has ended.
void closeWithSave(benchmark::State& state)
{
    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("bench_window-XXXXXX")));
    const QString listPath = dir.filePath(QStringLiteral("websites.ini"));
    const QByteArray bytes = listBytes(FullList);
    std::vector<double> times;
    for (auto _ : state) {
        const std::unique_ptr<MainWindow> shown = windowOn(state, listPath, bytes);
        if (!shown)
            return;
        MainWindow& window = *shown;
        window.watchList().setCell(FullList / 2, WatchList::LengthColumn, "2");
        bool ended = false;
        QObject::connect(&window, &MainWindow::finished, [&ended] { ended = true; });

        const auto start = Clock::now();
        window.close();
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        if (!ended || readBytes(listPath) == bytes) {
            state.SkipWithError("the close did not save the list");
            return;
        }
        times.push_back(seconds);
    }
    state.counters["sites"] = FullList;
    state.counters["median_ms"] = 1000 * median(times);
}

// The real program on a full list: started offscreen, given two seconds to load and show it,
// then ended as a logout ends it. The peak is the largest resident size the kernel saw, as
// /usr/bin/time reports it: the program is time's child, so the figure is the program's alone
// (a child that this process started directly would count this process's own memory, which
// it shares until the program is loaded).
void programPeakMemory(benchmark::State& state)
{
    // A copy of the program keeps its list beside itself, as a build does.
    QTemporaryDir home(QDir::temp().filePath(QStringLiteral("bench_window-XXXXXX")));
    const QString program = home.filePath(QStringLiteral("korvane"));
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    const QString figures = home.filePath(QStringLiteral("maxrss"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!QFile::copy(programPath, program) ||
        !writeBytes(home.filePath(QStringLiteral("websites.ini")), listBytes(FullList))) {
        state.SkipWithError("cannot set up the program and its list");
        return;
    }
    std::vector<double> peaks;
    for (auto _ : state) {
        QProcess time;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        time.setProcessEnvironment(environment);
        const auto start = Clock::now();
        time.start(QStringLiteral("/usr/bin/time"), {QStringLiteral("-f"), QStringLiteral("%M"),
                                                     QStringLiteral("-o"), figures, program});
        QTest::qWait(2000);
        // The program is time's one child.
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(time.processId()));
        const qint64 pid =
            children.open(QIODevice::ReadOnly) ? children.readAll().trimmed().toLongLong() : 0;
        if (pid <= 0 || ::kill(pid_t(pid), SIGTERM) != 0 || !time.waitForFinished(10'000) ||
            time.exitStatus() != QProcess::NormalExit || time.exitCode() != 0) {
            state.SkipWithError("the program did not start or end well");
            return;
        }
        state.SetIterationTime(secondsSince(start));
        peaks.push_back(readBytes(figures).trimmed().toDouble() / 1024);
    }
    state.counters["sites"] = FullList;
    state.counters["peak_MiB"] = median(peaks);
}

} // namespace

int main(int argc, char** argv)
{
    // Before QApplication: the benchmark needs no display, and paints all the same.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    programPath = QCoreApplication::applicationDirPath() + QStringLiteral("/korvane");
    if (!workDirectory().isValid() || runCurl() < 0) {
        std::fprintf(stderr, "the curl tool cannot fetch the pages\n");
        return 1;
    }
    benchmark::RegisterBenchmark("window/go-look-1000-pages", goLook)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark("window/close-with-save-32766-sites", closeWithSave)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark("program/peak-memory-32766-sites", programPeakMemory)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    return runRegisteredBenchmarks(argc, argv);
}
