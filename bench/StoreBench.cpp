// The history store. Writing: a run of 1,000 judged rows, timed from its first job until the
// writer thread has written it (target under 100 ms to a file, 300 ms to a PostgreSQL server over
// its Unix socket), and the longest single call the calling
// thread makes to queue a job (target under 5 ms). Reading, from a file of 1,000 runs of 50 rows
// of one domain: what the history window reads before it first paints (the domains, the
// domain's runs with their counts and losses, the latest run's changes; target under 200 ms),
// each part alone, and the latest checks of 50 and of 1,000 addresses; and the file's size per
// stored row (target under 1 KiB). A year of daily re-checks of 5,000 addresses: the file's size,
// --history (the chart reads the same), the latest run's changes and a re-check's baseline, each
// with its peak resident set, and the store time of the first and the last day and of the first
// and the last week (medians, wall and the writer thread's CPU). The watch list: 10,000 due sites claimed and released by four
// workers at once, each a thread with a connection of its own, on a file and on a server: claims
// a second, and an error when a site is claimed twice.

#include "BigHistory.h"
#include "HistorySamples.h"
#include "PostgresServer.h"

#include <HistoryDatabase.h>
#include <HistoryReader.h>
#include <HistoryWriter.h>
#include <WatchList.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ctime>
#include <thread>

using namespace vantorel;
using namespace vantorel::bench;

namespace {

double CpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The server's programs, or why there are none: the benchmark is then skipped.
PostgresServer *DurableServer(benchmark::State &state)
{
    QString skipReason;
    PostgresServer *server = PostgresServer::Shared(skipReason, true);
    if (!server || !server->Error().isEmpty()) {
        state.SkipWithError((server ? server->Error() : skipReason).toStdString().c_str());
        return nullptr;
    }
    return server;
}

// newStore: a new empty store, or an empty text when there can be none.
void StoreRun(benchmark::State &state, const std::function<QString()> &newStore)
{
    const int rows = static_cast<int>(state.range(0));
    std::vector<StoredRow> judged;
    for (int i = 0; i < rows; ++i)
        judged.push_back(SampleRow(i + 1, Address(i)));
    qint64 longestEnqueueNs = 0;
    double writerCpuMs = 0;
    for (auto _ : state) {
        const QString store = newStore();
        if (store.isEmpty()) {
            state.SkipWithError("no store");
            break;
        }
        HistoryWriter writer(store);
        writer.DeleteDomain(QStringLiteral("none.example")); // the store made and opened beforehand
        writer.WaitUntilWritten();

        QElapsedTimer total, call;
        total.start();
        // The process's CPU time less this thread's: the writer thread's.
        const double cpuBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - CpuMs(CLOCK_THREAD_CPUTIME_ID);
        const auto queue = [&](auto &&enqueue) {
            call.start();
            enqueue();
            longestEnqueueNs = std::max(longestEnqueueNs, call.nsecsElapsed());
        };
        HistoryWriter::Ticket ticket = 0;
        queue([&] { ticket = writer.BeginRun(kDomain, RunSource::Search, QDateTime::currentDateTime()); });
        for (const StoredRow &row : judged)
            queue([&] { writer.SaveRow(ticket, row); });
        queue([&] { writer.EndRun(ticket, RunOutcome::Completed, std::nullopt); });
        writer.WaitUntilWritten();
        state.SetIterationTime(static_cast<double>(total.nsecsElapsed()) / 1e9);
        writerCpuMs += CpuMs(CLOCK_PROCESS_CPUTIME_ID) - CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
        if (!writer.FirstFailure().isEmpty())
            state.SkipWithError(writer.FirstFailure().toStdString().c_str());
    }
    state.counters["longest_enqueue_ms"] = static_cast<double>(longestEnqueueNs) / 1e6;
    state.counters["writer_cpu_ms"] = writerCpuMs / static_cast<double>(state.iterations());
}

// A new file in the folder at each call.
std::function<QString()> NewFile(const QTemporaryDir &dir)
{
    return [&dir, files = 0]() mutable { return dir.filePath(QStringLiteral("history%1.sqlite3").arg(++files)); };
}

void BM_StoreRun(benchmark::State &state)
{
    const QTemporaryDir dir;
    StoreRun(state, NewFile(dir));
}
BENCHMARK(BM_StoreRun)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same on a PostgreSQL server of its own over its Unix socket, whose commits wait for the disk.
void BM_StoreRunOnServer(benchmark::State &state)
{
    if (PostgresServer *server = DurableServer(state))
        StoreRun(state, [server] { return server->NewDatabase(); });
}
BENCHMARK(BM_StoreRunOnServer)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Watches the sites in one transaction, all due at once.
QString WatchSites(const QString &store, int sites)
{
    const QString name = QStringLiteral("bench-watch");
    QString reason = OpenHistory(name, store);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        QSqlError error;
        QSqlQuery insert(db);
        bool ok = reason.isEmpty() && BeginWriting(db, {}, error)
                  && insert.prepare(QStringLiteral("INSERT INTO watch (domain_name, interval_hours, added_at) VALUES (?, 24, ?)"));
        for (int i = 0; ok && i < sites; ++i)
            ok = ExecBound(insert, {QStringLiteral("site%1.example").arg(i), qint64(i)}, error);
        ok = ok && ExecTransaction(db, QStringLiteral("COMMIT"), error);
        if (reason.isEmpty() && !ok)
            reason = StoreFailureReason(error.isValid() ? error : insert.lastError(), store);
    }
    QSqlDatabase::removeDatabase(name);
    return reason;
}

void ClaimAll(benchmark::State &state, const std::function<QString()> &newStore)
{
    using namespace std::chrono_literals;
    const int sites = static_cast<int>(state.range(0));
    constexpr int kWorkers = 4;
    double claimed = 0, seconds = 0;
    for (auto _ : state) {
        const QString store = newStore();
        if (const QString reason = WatchSites(store, sites); !reason.isEmpty()) {
            state.SkipWithError(reason.toStdString().c_str());
            break;
        }
        std::vector<QStringList> claims(kWorkers);
        std::vector<QString> errors(kWorkers);
        std::vector<std::thread> workers;
        const QDateTime now = QDateTime::currentDateTime();
        QElapsedTimer timer;
        timer.start();
        for (int w = 0; w < kWorkers; ++w)
            workers.emplace_back([&, w] {
                WatchList list(store);
                const QString worker = QStringLiteral("bench:%1").arg(w);
                // Each site re-checked in no time and released, as --recheck-due does.
                while (const std::optional<DueSite> site = list.ClaimDue(worker, now, 600s)) {
                    claims[w] << site->domain;
                    if (!list.Release(site->domain, worker, now))
                        break;
                }
                errors[w] = list.Error();
            });
        for (std::thread &worker : workers)
            worker.join();
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        seconds += static_cast<double>(timer.nsecsElapsed()) / 1e9;
        QStringList all;
        for (int w = 0; w < kWorkers; ++w) {
            if (!errors[w].isEmpty())
                state.SkipWithError(errors[w].toStdString().c_str());
            all << claims[w];
        }
        claimed += all.size();
        const qsizetype count = all.size();
        all.removeDuplicates();
        if (count != sites || all.size() != sites)
            state.SkipWithError("a site was claimed twice, or not at all");
    }
    state.counters["claims_per_s"] = seconds > 0 ? claimed / seconds : 0;
}

void BM_ClaimDueSites(benchmark::State &state)
{
    const QTemporaryDir dir;
    ClaimAll(state, NewFile(dir));
}
BENCHMARK(BM_ClaimDueSites)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ClaimDueSitesOnServer(benchmark::State &state)
{
    if (PostgresServer *server = DurableServer(state))
        ClaimAll(state, [server] { return server->NewDatabase(); });
}
BENCHMARK(BM_ClaimDueSitesOnServer)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// A reader made afresh each time, as the window opens one.
void BM_OpenHistoryWindow(benchmark::State &state)
{
    const BigHistory &big = Big();
    for (auto _ : state) {
        HistoryReader reader(big.path);
        benchmark::DoNotOptimize(reader.Domains());
        const std::vector<RunSummary> runs = reader.Runs(kDomain);
        const std::optional<RunChanges> changes = reader.Changes(runs.front().run.id);
        if (runs.size() != kRuns || !changes || changes->changes.empty())
            state.SkipWithError("the history did not read back");
    }
    state.counters["bytes_per_row"] = big.bytesPerRow;
}
BENCHMARK(BM_OpenHistoryWindow)->Unit(benchmark::kMillisecond);

void BM_RunList(benchmark::State &state)
{
    HistoryReader reader(Big().path);
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.Runs(kDomain));
}
BENCHMARK(BM_RunList)->Unit(benchmark::kMillisecond);

void BM_RunChanges(benchmark::State &state)
{
    HistoryReader reader(Big().path);
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.Changes(Big().lastRun));
}
BENCHMARK(BM_RunChanges)->Unit(benchmark::kMillisecond);

// The tool tips' previous checks for the rows of a run, before that run.
void BM_LastChecks(benchmark::State &state)
{
    QStringList addresses;
    for (int i = 0; i < state.range(0); ++i)
        addresses << Address(kRuns * 2 - i);
    HistoryReader reader(Big().path);
    for (auto _ : state)
        if (reader.LastChecks(kDomain, addresses, Big().lastRun).isEmpty())
            state.SkipWithError("no previous checks");
}
BENCHMARK(BM_LastChecks)->Arg(50)->Arg(1000)->Unit(benchmark::kMillisecond);

// A year of daily re-checks of one site's 5,000 known addresses, about 1 % of them found changed
// each day (lost, weight changed, anchors changed, unreachable, and back), written through the
// writer once per process. Each run's store time, from its first job until it is written.
struct YearHistory {
    static constexpr int kDays = 365, kAddresses = 5000;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("year.sqlite3"));
    std::vector<double> storeMs;    // each day's
    std::vector<double> storeCpuMs; // the writer thread's, each day: what a loaded machine changes least
    qint64 lastRun = 0;
};

const YearHistory &Year()
{
    static YearHistory year;
    static const bool written = [](YearHistory *history) {
        HistoryWriter writer(history->path);
        QObject::connect(&writer, &HistoryWriter::RunStored, [history](HistoryWriter::Ticket, qint64 id) { history->lastRun = id; });
        const QDateTime start = QDateTime::currentDateTime().addDays(-YearHistory::kDays);
        std::vector<int> phase(YearHistory::kAddresses, 0); // what each address has become
        static const StoredOutcome kPhases[] = {StoredOutcome::PassesWeight, StoredOutcome::NoWeight,
                                                StoredOutcome::Unreachable, StoredOutcome::Removed};
        for (int day = 0; day < YearHistory::kDays; ++day) {
            for (int i = 0; i < YearHistory::kAddresses / 100; ++i)
                ++phase[static_cast<std::size_t>((day * 97 + i * 101) % YearHistory::kAddresses)];
            std::vector<StoredRow> rows;
            for (int n = 0; n < YearHistory::kAddresses; ++n) {
                const int now = phase[static_cast<std::size_t>(n)];
                StoredRow row = SampleRow(n % 3 + 1, Address(n), kPhases[now % 4]);
                if (now % 5 == 4)
                    row.links[0].anchor = QStringLiteral("新锚文本");
                row.number = n + 1;
                row.checkedAt = start.addDays(day).addSecs(n / 10);
                rows.push_back(std::move(row));
            }
            QElapsedTimer timer;
            timer.start();
            const double cpuBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - CpuMs(CLOCK_THREAD_CPUTIME_ID);
            const HistoryWriter::Ticket ticket = writer.BeginRun(kDomain, RunSource::Recheck, start.addDays(day));
            for (StoredRow &row : rows)
                writer.SaveRow(ticket, std::move(row));
            writer.EndRun(ticket, RunOutcome::Completed, std::nullopt, start.addDays(day).addSecs(600));
            writer.WaitUntilWritten();
            history->storeMs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            history->storeCpuMs.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore);
        }
        QCoreApplication::processEvents();
        return writer.FirstFailure().isEmpty();
    }(&year);
    if (!written)
        std::fprintf(stderr, "the year's history could not be written\n");
    return year;
}

// A field of /proc/self/status in MB: the resident set (VmRSS) or its peak since the last reset
// (VmHWM).
double StatusMb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toDouble() / 1024;
    return 0;
}

// Sets the peak to the resident set now, which it returns.
double ResetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    return StatusMb("VmRSS");
}

// One read of the year's history by a reader made afresh, as a command or the window makes one,
// with the file's size, what the read added to the resident set at its peak, and the store time of the first
// and the last day.
void YearRead(benchmark::State &state, const std::function<bool(HistoryReader &)> &read)
{
    const YearHistory &year = Year();
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double before = ResetPeakRss();
        state.ResumeTiming();
        HistoryReader reader(year.path);
        if (!read(reader))
            state.SkipWithError("the history did not read back");
        peak = std::max(peak, StatusMb("VmHWM") - before);
    }
    state.counters["file_mb"] = static_cast<double>(QFileInfo(year.path).size()) / 1e6;
    state.counters["read_rss_mb"] = peak; // what the read added to the process's resident set
    state.counters["store_ms_day_1"] = year.storeMs.front();
    state.counters["store_ms_day_365"] = year.storeMs.back();
    // One day's time is one sample: the median of the first and of the last week says more.
    const auto weekMedian = [](const std::vector<double> &days, std::size_t first) {
        std::vector<double> week(days.begin() + static_cast<std::ptrdiff_t>(first), days.begin() + static_cast<std::ptrdiff_t>(first + 7));
        std::nth_element(week.begin(), week.begin() + 3, week.end());
        return week[3];
    };
    state.counters["store_ms_week_1"] = weekMedian(year.storeMs, 0);
    state.counters["store_ms_week_52"] = weekMedian(year.storeMs, year.storeMs.size() - 7);
    state.counters["store_cpu_ms_week_1"] = weekMedian(year.storeCpuMs, 0);
    state.counters["store_cpu_ms_week_52"] = weekMedian(year.storeCpuMs, year.storeCpuMs.size() - 7);
}

// --history and the chart: the site's runs with their counts and losses.
void BM_YearRuns(benchmark::State &state)
{
    YearRead(state, [](HistoryReader &reader) { return reader.Runs(kDomain).size() == YearHistory::kDays; });
}
BENCHMARK(BM_YearRuns)->Unit(benchmark::kMillisecond);

// --changes of the latest run.
void BM_YearChanges(benchmark::State &state)
{
    YearRead(state, [](HistoryReader &reader) { return reader.Changes(Year().lastRun).has_value(); });
}
BENCHMARK(BM_YearChanges)->Unit(benchmark::kMillisecond);

// A re-check's baseline: the last checks of the 5,000 addresses.
void BM_YearBaseline(benchmark::State &state)
{
    QStringList addresses;
    for (int n = 0; n < YearHistory::kAddresses; ++n)
        addresses << Address(n);
    YearRead(state, [&addresses](HistoryReader &reader) { return reader.LastChecks(kDomain, addresses).size() == addresses.size(); });
}
BENCHMARK(BM_YearBaseline)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
