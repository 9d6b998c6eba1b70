// Our own time in a run, offscreen: reading the result page into the grid, and a whole run
// against pages on 127.0.0.1 that answer at once (pauses set to zero).

#include "ResultPages.h"
#include "TestWeb.h"

#include <FetchPage.h>
#include <FormMain.h>

#include <QApplication>
#include <QTest>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace vantorel;

namespace {

QString ManyResultsPage(int results, qsizetype targetChars)
{
    const qsizetype padding = std::max<qsizetype>(0, targetChars / results - 60);
    QString page = QStringLiteral("<div>找到相关网页约%1篇，用时0.1秒</div>").arg(results);
    page.reserve(targetChars + 1024);
    for (int i = 0; i < results; ++i) {
        page += QStringLiteral("<a onmousedown=\"c({'F':'1'})\" href=\"http://www.site%1.com/p.html\" t>").arg(i);
        page += QString(padding, u'x');
    }
    return page;
}

void ParseInto(benchmark::State &state, const QString &page)
{
    FormMain window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    for (auto _ : state) {
        window.Operations().PageSource() = page;
        window.Analysis().ParseSearchResults(QStringLiteral("example.com"));
    }
    state.counters["rows"] = window.Operations().Grid().GetRowCount() - 1;
}

void BM_ParseFiftyResults(benchmark::State &state)
{
    ParseInto(state, SearchResultPage(QStringLiteral("约50"), [] {
                  std::vector<SearchResult> results;
                  for (int i = 0; i < 50; ++i)
                      results.push_back({QStringLiteral("www.site%1.com/index.html").arg(i), i % 10 == 9});
                  return results;
              }()));
}
BENCHMARK(BM_ParseFiftyResults)->Unit(benchmark::kMillisecond);

void BM_ParseHostilePage(benchmark::State &state)
{
    ParseInto(state, ManyResultsPage(100'000, 10 * 1024 * 1024));
}
BENCHMARK(BM_ParseHostilePage)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WholeRunFiftyRows(benchmark::State &state)
{
    TestWeb web;
    std::vector<SearchResult> results;
    for (int i = 0; i < 50; ++i) {
        const std::string path = "/page" + std::to_string(i);
        web.SetPage(path, std::string(20'000, 'x') + (i % 2 ? "example.com" : "elsewhere"));
        results.push_back({web.Address(path)});
    }
    web.SetResultPage(SearchResultPage(QStringLiteral("约50"), results));

    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.Operations().SetDomainText(QStringLiteral("example.com"));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    for (auto _ : state)
        window.Analysis().RunAnalysis();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["rows"] = window.Operations().Grid().GetRowCount() - 1;
}
BENCHMARK(BM_WholeRunFiftyRows)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!InitNetwork())
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
