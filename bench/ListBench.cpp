// Reading a list to check: a 100,000-row backlink export (target under 300 ms a read), the
// same rows as a plain list of addresses, and the program's memory on a list of two million
// junk lines (target under 60 MB).

#include "AhrefsExport.h"

#include <AddressList.h>

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The program given two million lines that are no addresses (26 MB): the list is read as it
// comes, so its peak resident set stays far below the file's size. First of the benchmarks: a
// child's peak counts the spawning process's own, which is small only while nothing was read.
void BM_ProgramReadsTwoMillionJunkLines(benchmark::State &state)
{
    const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("junk.txt"));
    {
        QFile junk(path);
        if (!junk.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the list");
            return;
        }
        for (int i = 0; i < 2'000'000; ++i)
            junk.write(QByteArray("junk-") + QByteArray::number(i).rightJustified(7, '0') + '\n');
    }
    const QByteArray list = QFile::encodeName(path);
    const char *argv[] = {VANTOREL_BINARY, "--check", "example.com", "--urls", list.constData(), "--no-history", nullptr};
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        rusage usage{};
        if (spawned != 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 2) {
            state.SkipWithError("vantorel did not refuse the list with status 2");
            return;
        }
        state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
}
BENCHMARK(BM_ProgramReadsTwoMillionJunkLines)->Iterations(1)->Unit(benchmark::kMillisecond);

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
