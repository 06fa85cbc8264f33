// SPDX-License-Identifier: MIT
// Throughput of the HTML reducer on large pages. Target: at least 200 MB/s on both kinds of page,
// at 1 MiB and at 16 MiB alike (the time grows linearly with the page). A page reduces in a
// fraction of the time it takes to download, so there is nothing to gain beyond that.
#include "benchmain.h"
#include "pagetext.h"
#include "strip.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

namespace {

using namespace benchtext;

// A page as sites serve them today: mostly markup with long attribute lists, some scripts,
// indentation between the tags and comparatively little text.
QByteArray typicalPage(qsizetype size)
{
    Random random;
    QByteArray out;
    out.reserve(size + 4096);
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n  <meta charset=\"utf-8\">\n"
           "  <title>Example News &amp; Weather</title>\n</head>\n<body class=\"home\">";
    int id = 0;
    while (out.size() < size) {
        ++id;
        switch (random.below(10)) {
        case 0:
        case 1:
        case 2:
            appendIndent(out, random);
            out += "<div class=\"card card--featured col-md-4 js-track\" id=\"item-" +
                   QByteArray::number(id) + "\" data-component=\"teaser\" data-position=\"" +
                   QByteArray::number(random.below(100)) + "\">";
            appendIndent(out, random);
            out += "<span class=\"card__label\">";
            out += random.pick(Words);
            out += "</span>";
            appendIndent(out, random);
            out += "</div>";
            break;
        case 3:
        case 4:
            appendIndent(out, random);
            out += "<li class=\"nav__item\"><a class=\"nav__link\" href=\"https://www.example.com/"
                   "news/2024/06/";
            out += random.pick(Words);
            out += "-" + QByteArray::number(id) + ".html?ref=home&amp;utm_source=feed\">";
            appendSentence(out, random, int(1 + random.below(5)));
            out += "</a></li>";
            break;
        case 5:
        case 6:
            appendParagraph(out, random);
            break;
        case 7:
        case 8:
            appendScript(out, random, id);
            break;
        default:
            appendIndent(out, random);
            out += "<img src=\"/static/images/" + QByteArray::number(id) +
                   "/teaser-640x360.jpg\" srcset=\"/static/images/" + QByteArray::number(id) +
                   "/teaser-1280x720.jpg 2x\" alt=\"\" loading=\"lazy\" width=\"640\" "
                   "height=\"360\">";
            break;
        }
    }
    out.truncate(size);
    return out;
}

// A page that is nearly all text: short words, spaces, CR LF line ends and many references,
// with a paragraph tag now and then.
QByteArray textDensePage(qsizetype size)
{
    Random random;
    QByteArray out;
    out.reserve(size + 4096);
    out += "<html><body>\r\n<p>";
    qsizetype lineStart = out.size();
    while (out.size() < size) {
        const std::uint64_t roll = random.below(100);
        if (roll < 8)
            out += random.pick(References);
        else
            out += random.pick(Words);
        out += random.below(20) == 0 ? "  " : " ";
        if (out.size() - lineStart > 70) {
            out += random.below(30) == 0 ? "</p>\r\n<p>" : "\r\n";
            lineStart = out.size();
        }
    }
    out.truncate(size);
    return out;
}

enum class Kind
{
    Typical,
    TextDense
};

const QByteArray& page(Kind kind, qsizetype size)
{
    static QByteArray pages[2][2];
    QByteArray& slot = pages[kind == Kind::TextDense][size > (1 << 20)];
    if (slot.size() != size)
        slot = kind == Kind::Typical ? typicalPage(size) : textDensePage(size);
    return slot;
}

// The reducer consumes its argument, so every run gets a fresh copy, made outside the timing
// (as the fetcher moves in the text it has just read). The result is freed outside it too.
void reduce(benchmark::State& state, Kind kind, qsizetype size)
{
    const QByteArray& source = page(kind, size);
    qsizetype reducedSize = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QByteArray input(source.constData(), source.size());
        state.ResumeTiming();
        QByteArray reduced = ReduceHtml(std::move(input));
        state.PauseTiming();
        reducedSize = reduced.size();
        benchmark::DoNotOptimize(reduced.constData());
        reduced = QByteArray();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["kept"] = double(reducedSize) / double(size);
}

// What a caller that keeps its own copy of the page pays on top of the reducer.
void copy(benchmark::State& state, Kind kind, qsizetype size)
{
    const QByteArray& source = page(kind, size);
    for (auto _ : state) {
        QByteArray input(source.constData(), source.size());
        benchmark::DoNotOptimize(input.constData());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

} // namespace

int main(int argc, char** argv)
{
    const std::pair<Kind, const char*> kinds[] = {{Kind::Typical, "typical"},
                                                  {Kind::TextDense, "text-dense"}};
    const std::pair<qsizetype, const char*> sizes[] = {{qsizetype(1) << 20, "1MiB"},
                                                       {qsizetype(16) << 20, "16MiB"}};
    const std::pair<void (*)(benchmark::State&, Kind, qsizetype), const char*> runs[] = {
        {reduce, "ReduceHtml"}, {copy, "copy"}};
    for (const auto& [kind, kindName] : kinds) {
        for (const auto& [size, sizeName] : sizes) {
            for (const auto& [run, runName] : runs) {
                const std::string name = std::string(runName) + "/" + kindName + "/" + sizeName;
                benchmark::RegisterBenchmark(name.c_str(), run, kind, size)
                    ->Unit(benchmark::kMicrosecond)
                    ->UseRealTime();
            }
        }
    }
    return runRegisteredBenchmarks(argc, argv);
}
