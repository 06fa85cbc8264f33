// SPDX-License-Identifier: MIT
// Loading and saving websites.ini of a small and of a full watch list, beside a plain read and
// plain writes of the same bytes in the same directory.
#include "benchmain.h"
#include "datetimetext.h"
#include "pagetext.h"
#include "watchlist.h"
#include "watchlistfile.h"
#include "wholefile.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace benchtext;

const char* const Names[] = {"weather", "news",    "council", "football", "markets", "city",
                             "schools", "library", "theatre", "railway",  "gazette", "museum",
                             "garden",  "harbour", "chess",   "cycling"};
const char* const Domains[] = {".com", ".co.uk", ".org", ".net", ".de"};
const char* const Paths[] = {"",         "/",           "/news/",       "/index.html", "/events/",
                             "/latest/", "/timetable/", "/results.php", "/blog/2024"};

// What the program itself writes after a few check runs: addresses of about thirty bytes as the
// user typed them, the locale's date and time of the last visit, and the page text's length.
std::vector<WatchList::Cells> realisticRecords(int count)
{
    Random random(0x77617463686c73ULL);
    const QLocale locale(QLocale::English, QLocale::UnitedKingdom);
    const QDateTime start(QDate(2026, 3, 1), QTime(8, 0, 0));
    std::vector<WatchList::Cells> rows(static_cast<size_t>(count));
    for (WatchList::Cells& row : rows) {
        QByteArray address = random.below(4) == 0 ? "" : "www.";
        address += random.pick(Names);
        address += random.below(3) == 0 ? "-" : "";
        address += random.pick(Names);
        address += random.pick(Domains);
        address += random.pick(Paths);
        row.text[WatchList::UrlColumn] = address;
        row.text[WatchList::LastVisitedColumn] =
            generalDateTimeText(start.addSecs(qint64(random.below(90 * 24 * 3600))), locale);
        row.text[WatchList::LengthColumn] =
            QByteArray::number(qint64(200 + random.below(random.below(2) ? 9'000 : 250'000)));
    }
    return rows;
}

// The temporary directory lives on the real disk beside the other temporary files, never in
// memory, so a commit's sync costs what it costs the user.
QTemporaryDir& workDirectory()
{
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("bench_watchlist-XXXXXX")));
    return dir;
}

QString websitesIni(int records)
{
    return workDirectory().filePath(QStringLiteral("websites-%1.ini").arg(records));
}

// The file's bytes for `records` sites, written to its own websites.ini once.
const QByteArray& fileBytes(int records)
{
    static std::map<int, QByteArray> bytes;
    auto it = bytes.find(records);
    if (it == bytes.end()) {
        WatchList list;
        list.replaceSiteRows(realisticRecords(records));
        QByteArray serialized = serializeWatchList(list, list.Rows());
        QFile file(websitesIni(records));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !writeAllBytes(file, serialized) || !file.flush()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
        it = bytes.emplace(records, std::move(serialized)).first;
    }
    return it->second;
}

// Start-up: a fresh list filled from the file. Making the list and freeing it stay outside the
// timing, as they are no part of reading the file.
void load(benchmark::State& state, int records)
{
    const qsizetype size = fileBytes(records).size();
    const QString path = websitesIni(records);
    for (auto _ : state) {
        state.PauseTiming();
        auto list = std::make_unique<WatchList>();
        WatchListFile file(path);
        state.ResumeTiming();
        const LoadOutcome outcome = file.LoadResultsFromFile(*list);
        state.PauseTiming();
        if (outcome != LoadOutcome::Read || list->Rows() != records + 1) {
            state.SkipWithError("the list did not load whole");
            break;
        }
        list.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// The floor for the load: the same file's bytes read into memory.
void plainRead(benchmark::State& state, int records)
{
    const qsizetype size = fileBytes(records).size();
    const QString path = websitesIni(records);
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot open the file");
            break;
        }
        QByteArray bytes = file.readAll();
        benchmark::DoNotOptimize(bytes.constData());
        state.PauseTiming();
        if (bytes.size() != size) {
            state.SkipWithError("short read");
            break;
        }
        bytes = QByteArray();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// The save at the end of a check run: the whole list written anew and put in place atomically.
void save(benchmark::State& state, int records)
{
    const qsizetype size = fileBytes(records).size();
    const QString path = websitesIni(records);
    WatchList list;
    WatchListFile file(path);
    if (file.LoadResultsFromFile(list) != LoadOutcome::Read) {
        state.SkipWithError("the list did not load");
        return;
    }
    const auto totalurls = qint16(list.Rows());
    for (auto _ : state) {
        if (file.SaveResultsToFile(list, totalurls) != SaveOutcome::Saved) {
            state.SkipWithError("the save failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// The same bytes through QSaveFile (temporary file, sync, rename): the floor for an atomic save.
void plainSaveFile(benchmark::State& state, int records)
{
    const QByteArray& bytes = fileBytes(records);
    const QString path = workDirectory().filePath(QStringLiteral("savefile-%1.ini").arg(records));
    for (auto _ : state) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !writeAllBytes(file, bytes) || !file.commit()) {
            state.SkipWithError("QSaveFile failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// The same bytes over an existing file in place, without a sync: fast, but not atomic.
void plainWrite(benchmark::State& state, int records)
{
    const QByteArray& bytes = fileBytes(records);
    const QString path = workDirectory().filePath(QStringLiteral("plain-%1.ini").arg(records));
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !writeAllBytes(file, bytes) ||
            !file.flush()) {
            state.SkipWithError("QFile write failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (!workDirectory().isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    const std::pair<int, const char*> sizes[] = {{1000, "1000"}, {WatchList::MaxSites, "32766"}};
    const std::pair<void (*)(benchmark::State&, int), const char*> runs[] = {
        {load, "load"},
        {plainRead, "plain-read"},
        {save, "save"},
        {plainSaveFile, "plain-QSaveFile"},
        {plainWrite, "plain-QFile-write"}};
    for (const auto& [records, sizeName] : sizes) {
        for (const auto& [run, runName] : runs) {
            const std::string name = std::string(runName) + "/" + sizeName;
            benchmark::RegisterBenchmark(name.c_str(), run, records)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        }
    }
    return runRegisteredBenchmarks(argc, argv);
}
