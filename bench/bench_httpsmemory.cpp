// SPDX-License-Identifier: MIT
// The https memory's two files at the size Korvane keeps at most (10,000 entries each) and at a
// million entries each (about 40 and 60 MB, which only something else puts there): the first
// fetch of a run, which reads them, and the end of a run that learnt one site, which writes
// them. Both happen on the window's thread. "peak MiB" is the process's largest resident size
// so far: run one size at a time (--benchmark_filter) to read it for that size.
#include "benchmain.h"
#include "httpsmemory.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace {

// Lines as Korvane writes them, the redirects still within their 30 days; written as they are
// made, so that the benchmark's own memory stays small.
void writeMemory(const QString& directory, int entries)
{
    QFile hsts(QDir(directory).filePath(QStringLiteral("hsts.txt")));
    QFile redirects(QDir(directory).filePath(QStringLiteral("https-redirects.txt")));
    if (!hsts.open(QIODevice::WriteOnly) || !redirects.open(QIODevice::WriteOnly))
        std::abort();
    const QByteArray until = QByteArray::number(QDateTime::currentSecsSinceEpoch() + 29 * 86400);
    for (int i = 0; i < entries; ++i) {
        const QByteArray host = "h" + QByteArray::number(i) + ".example";
        hsts.write(host + " 1 20990101 00:00:00\n");
        redirects.write("http://" + host + "/page https://" + host + "/page " + until + '\n');
    }
}

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024;
}

void firstFetchReads(benchmark::State& state)
{
    QTemporaryDir directory;
    writeMemory(directory.path(), int(state.range(0)));
    const PageAddress page("http://www.example/");
    for (auto _ : state) {
        HttpsMemory memory(directory.path());
        benchmark::DoNotOptimize(memory.addressToFetch(page));
    }
    state.counters["peak MiB"] = peakMiB();
}
BENCHMARK(firstFetchReads)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void endOfRunWrites(benchmark::State& state)
{
    QTemporaryDir directory;
    writeMemory(directory.path(), int(state.range(0)));
    HttpsMemory memory(directory.path());
    memory.addressToFetch(PageAddress("http://www.example/"));
    int learnt = 0;
    for (auto _ : state) {
        const QByteArray site = "://new" + QByteArray::number(++learnt) + ".example/";
        memory.rememberRedirect(PageAddress("http" + site), PageAddress("https" + site));
        memory.save();
    }
    state.counters["peak MiB"] = peakMiB();
}
BENCHMARK(endOfRunWrites)
    ->Arg(10'000)
    ->Arg(1'000'000)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runRegisteredBenchmarks(argc, argv);
}
