// Our own time in a run, offscreen: reading the result page into the grid, and a whole run
// against pages on 127.0.0.1 that answer at once (pauses set to zero); lists of 1,000 and
// 100,000 addresses; importing a 100,000-row export. The history window opened
// on 1,000 runs of 50 rows: until its first paint (target under 200 ms), and until it shows the
// latest run's changes. The chart of a site's runs drawn from a year of daily runs (target
// under 100 ms).

#include "AhrefsExport.h"
#include "BigHistory.h"
#include "LoopbackServer.h"
#include "PageServer.h"
#include "ResultPages.h"
#include "TestWeb.h"

#include <Network.h>
#include <FormMain.h>
#include <GridActions.h>
#include <RunChart.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

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
        window.Analysis().ParseSearchResults(page, QStringLiteral("example.com"));
        QApplication::processEvents(); // the listing's paint
    }
    state.counters["rows"] = static_cast<double>(window.Analysis().Rows().size());
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

double CpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
           usage.ru_stime.tv_usec / 1e3;
}

double PeakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Calls start() and runs the event loop until done(); the longest time, in milliseconds, that
// the window's thread stayed away from its event loop meanwhile (a 2 ms timer notes how late
// each of its ticks comes), or -1 when done() never came.
qint64 LongestGapUntil(const std::function<void()> &start, const std::function<bool()> &done)
{
    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(2);
    start();
    if (!QTest::qWaitFor(done, 1'800'000)) // a list of 100,000 takes minutes
        return -1;
    return longestGapMs;
}

// Starts a run as "分  析" does and runs the event loop until it ends.
qint64 RunToEnd(FormMain &window, const std::function<void()> &start)
{
    return LongestGapUntil(start, [&window] { return !window.Analysis().Running(); });
}

// A window with the settings, shown; the longest event-loop gap of the runs that start() starts,
// one an iteration, as a counter. The window's analysis, for what the caller counts after.
void MeasureGaps(benchmark::State &state, const AnalysisSettings &settings,
                 const std::function<void(BacklinkAnalysis &)> &start,
                 const std::function<void(const BacklinkAnalysis &)> &after = {}, const QString &historyPath = {})
{
    FormMain window(settings, historyPath);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    qint64 longestGapMs = 0;
    for (auto _ : state)
        longestGapMs = std::max(longestGapMs, RunToEnd(window, [&] { start(window.Analysis()); }));
    state.counters["longest_gap_ms"] = static_cast<double>(longestGapMs);
    if (after)
        after(window.Analysis());
}

// Fifty linked pages of 20 KB with a link each, half of them to the domain; the 26th row may
// list another address instead.
void ServeFiftyPages(TestWeb &web, const QString &row26 = {})
{
    std::vector<SearchResult> results;
    for (int i = 0; i < 50; ++i) {
        const std::string path = "/page" + std::to_string(i);
        web.SetPage(path, std::string(20'000, 'x') + (i % 2 ? "<a href=\"http://example.com/\">我的站</a>" : "elsewhere"));
        results.push_back({i == 25 && !row26.isEmpty() ? row26 : web.Address(path)});
    }
    web.SetResultPage(SearchResultPage(QStringLiteral("约50"), results));
}

// The window's own work in a whole run: the main thread's CPU per row, and the whole process's
// (judging threads included, and the pages' server too, so an upper bound).
void BM_WholeRunFiftyRows(benchmark::State &state)
{
    TestWeb web;
    ServeFiftyPages(web);
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    const double threadBefore = CpuMs(RUSAGE_THREAD);
    const double processBefore = CpuMs(RUSAGE_SELF);
    for (auto _ : state)
        RunToEnd(window, [&] { window.Analysis().RunAnalysis(QStringLiteral("example.com")); });
    const auto rows = static_cast<double>(window.Analysis().Rows().size());
    const double runs = static_cast<double>(state.iterations());
    state.counters["cpu_ms_per_row"] = (CpuMs(RUSAGE_THREAD) - threadBefore) / (runs * rows);
    state.counters["process_cpu_ms_per_row"] = (CpuMs(RUSAGE_SELF) - processBefore) / (runs * rows);
    state.counters["peak_rss_MiB"] = PeakRssMiB();
    state.counters["rows"] = rows;
}
BENCHMARK(BM_WholeRunFiftyRows)->Unit(benchmark::kMillisecond);

// The longest time the window's thread stays away from its event loop during a run in which
// one page stalls until its time-out (argument 0), or one page is a million nested elements
// that take a while to parse (argument 1).
void BM_LongestEventLoopGap(benchmark::State &state)
{
    LoopbackServer stall([](LoopbackServer::Connection &connection) { connection.sleepFor(std::chrono::seconds(60)); });
    TestWeb web;
    std::string deep;
    deep.reserve(6'000'000);
    for (int i = 0; i < 1'000'000; ++i)
        deep += "<div>";
    web.SetPage("/deep", deep + "<a href=\"http://example.com/\">x</a>");
    ServeFiftyPages(web, state.range(0) == 0 ? stall.hostAndPort() + "/stalled" : web.Address("/deep"));
    AnalysisSettings settings = QuickSettings(web.server().hostAndPort());
    settings.fetchLimits.totalTimeout = std::chrono::seconds(1);
    MeasureGaps(state, settings, [](BacklinkAnalysis &run) { run.RunAnalysis(QStringLiteral("example.com")); });
}
BENCHMARK(BM_LongestEventLoopGap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// A list of addresses of some 20 KB on 100 loopback hosts checked in the window at the list's
// default number of transfers, and kept in a history file: 1,000 answering after 200 ms, and
// 100,000 answering at once. The longest time the window's thread stays away from its event loop
// while the grid fills (target: 100 ms), and the peak resident set (target for 100,000: 300 MB;
// the pages are served by a process of their own, so that it is the window's alone).
void BM_AddressList(benchmark::State &state)
{
    const int addresses = static_cast<int>(state.range(0));
    PageServer::Options options;
    options.pages = addresses;
    const PageServer server(options);
    if (server.port() == 0) {
        state.SkipWithError(server.error().toStdString().c_str());
        return;
    }
    QStringList urls;
    for (const std::string &url : server.urls(static_cast<int>(state.range(1)), false))
        urls << QString::fromStdString(url);
    QTemporaryDir dir;
    MeasureGaps(
        state, QuickSettings(QString()), [&urls](BacklinkAnalysis &run) { run.CheckAddresses(urls, QStringLiteral("example.com")); },
        [&state](const BacklinkAnalysis &run) {
            state.counters["peak_rss_MiB"] = PeakRssMiB();
            state.counters["judged"] = static_cast<double>(
                std::count_if(run.Rows().begin(), run.Rows().end(), [](const ResultRow &row) { return row.evidence.has_value(); }));
        },
        dir.filePath(QStringLiteral("history.sqlite3")));
}
BENCHMARK(BM_AddressList)->Args({1000, 200})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AddressList)->Args({100'000, 0})->Unit(benchmark::kSecond)->Iterations(1);

// "导入地址列表..." on a 100,000-row backlink export: the longest time the window's thread stays
// away from its event loop until the list is read and handed to a run (which ends at once, the
// domain box being empty, so that nothing is fetched).
void BM_ImportLargeExport(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ahrefs.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bench::AhrefsShapedExport(100'000)) <= 0) {
        state.SkipWithError("cannot write the export");
        return;
    }
    file.close();
    FormMain window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    window.findChild<QLineEdit *>(QStringLiteral("Text1"))->clear();
    window.ResultActions().SetDialogs({nullptr, [&path](PathChosen chosen) { chosen(path); }, [](const QString &) {}});
    auto *tipLine = window.findChild<QLabel *>(QStringLiteral("Label4"));
    qint64 longestGapMs = 0;
    for (auto _ : state) {
        tipLine->clear();
        longestGapMs = std::max(longestGapMs, LongestGapUntil([&window] { window.ResultActions().ImportList(); },
                                                              [tipLine] { return !tipLine->text().isEmpty(); }));
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longestGapMs);
    if (!tipLine->text().contains(QStringLiteral("读取 100,000 个地址")))
        state.SkipWithError(tipLine->text().toStdString().c_str());
}
BENCHMARK(BM_ImportLargeExport)->Unit(benchmark::kMillisecond)->Iterations(5);

class PaintSeen final : public QObject {
public:
    bool seen = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        seen = seen || event->type() == QEvent::Paint;
        return false;
    }
};

void BM_HistoryWindowFirstPaint(benchmark::State &state)
{
    const bench::BigHistory &big = bench::Big();
    double contentMs = 0;
    for (auto _ : state) {
        FormMain window({}, big.path);
        QElapsedTimer timer;
        timer.start();
        window.OpenHistory();
        auto *history = window.findChild<QWidget *>(QStringLiteral("FormHistory"));
        PaintSeen paint;
        history->installEventFilter(&paint);
        if (!QTest::qWaitFor([&] { return paint.seen; }, 10'000))
            state.SkipWithError("the history window was never painted");
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        const QAbstractItemModel *changes = history->findChild<QTableView *>(QStringLiteral("GridChanges"))->model();
        if (!QTest::qWaitFor([&] { return changes->rowCount() > 1; }, 10'000))
            state.SkipWithError("the latest run's changes were never shown");
        contentMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
    state.counters["until_changes_ms"] = contentMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HistoryWindowFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// A year of daily runs put on the chart and drawn whole, as the history window shows it.
void BM_RunChartOfAYear(benchmark::State &state)
{
    std::vector<RunSummary> runs(365);
    const QDateTime first = QDateTime::currentDateTime().addDays(-365);
    for (int day = 0; day < 365; ++day) {
        RunSummary &run = runs[static_cast<std::size_t>(day)];
        run.run.id = day + 1;
        run.run.startedAt = first.addDays(day);
        run.valid = 40 - day % 7;
        run.removed = day % 7;
        run.unreachable = day % 3;
        run.rows = run.valid + run.removed + run.unreachable;
    }
    RunChart chart;
    chart.resize(880, 220);
    std::vector<double> times;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        chart.ShowRuns(runs);
        const QPixmap drawn = chart.grab();
        benchmark::DoNotOptimize(drawn.cacheKey());
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2), times.end());
    const double medianMs = times[times.size() / 2];
    state.counters["median_ms"] = medianMs;
    if (medianMs >= 100)
        state.SkipWithError("drawing the chart of 365 runs took 100 ms or more");
}
BENCHMARK(BM_RunChartOfAYear)->Unit(benchmark::kMillisecond)->Iterations(20);

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
