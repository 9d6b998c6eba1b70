// The history store. Writing: a run of 1,000 judged rows, timed from its first job until the
// writer thread has written it (target under 100 ms to a file, 300 ms to a PostgreSQL server over
// its Unix socket), and the longest single call the calling
// thread makes to queue a job (target under 5 ms). Reading, from a file of 1,000 runs of 50 rows
// of one domain: what the history window reads before it first paints (the domains, the
// domain's runs with their counts and losses, the latest run's changes; target under 200 ms),
// each part alone, and the latest checks of 50 and of 1,000 addresses; and the file's size per
// stored row (target under 1 KiB).

#include "BigHistory.h"
#include "HistorySamples.h"
#include "PostgresServer.h"

#include <HistoryReader.h>
#include <HistoryWriter.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <ctime>

using namespace vantorel;
using namespace vantorel::bench;

namespace {

double CpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
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

void BM_StoreRun(benchmark::State &state)
{
    QTemporaryDir dir;
    int files = 0;
    StoreRun(state, [&] { return dir.filePath(QStringLiteral("history%1.sqlite3").arg(++files)); });
}
BENCHMARK(BM_StoreRun)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same on a PostgreSQL server of its own over its Unix socket, whose commits wait for the disk.
void BM_StoreRunOnServer(benchmark::State &state)
{
    QString skipReason;
    PostgresServer *server = PostgresServer::Shared(skipReason, true);
    if (!server || !server->Error().isEmpty()) {
        state.SkipWithError((server ? server->Error() : skipReason).toStdString().c_str());
        return;
    }
    StoreRun(state, [server] { return server->NewDatabase(); });
}
BENCHMARK(BM_StoreRunOnServer)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
