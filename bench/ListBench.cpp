// Reading a list to check: a 100,000-row backlink export (target under 300 ms a read), and
// the same rows as a plain list of addresses.

#include "AhrefsExport.h"

#include <AddressList.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace vantorel;

namespace {

constexpr int kRows = 100'000;

double ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
           usage.ru_stime.tv_usec / 1e3;
}

// Reads the bytes once an iteration; the CPU time of all threads (the addresses are checked on
// the pool's) beside the wall time, since a busy machine stretches the latter.
void Read(benchmark::State &state, const QByteArray &bytes)
{
    AddressList list;
    const double cpuBefore = ProcessCpuMs();
    for (auto _ : state)
        benchmark::DoNotOptimize(list = ReadAddressList(bytes));
    state.counters["process_cpu_ms"] = (ProcessCpuMs() - cpuBefore) / static_cast<double>(state.iterations());
    state.counters["read"] = list.read;
    state.counters["MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    if (list.read != kRows)
        state.SkipWithError("not every row gave its address");
}

void BM_ReadAhrefsExport(benchmark::State &state)
{
    Read(state, bench::AhrefsShapedExport(kRows));
}
BENCHMARK(BM_ReadAhrefsExport)->Unit(benchmark::kMillisecond);

void BM_ReadPlainList(benchmark::State &state)
{
    QByteArray list;
    for (int i = 0; i < kRows; ++i)
        list += "https://blog" + QByteArray::number(i % 500) + ".example.org/2024/05/post-" + QByteArray::number(i) + ".html\n";
    Read(state, list);
}
BENCHMARK(BM_ReadPlainList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
