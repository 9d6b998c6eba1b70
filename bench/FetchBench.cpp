// A thousand pages of some 20 KB on a hundred loopback hosts (127.0.0.1 .. 127.0.0.100, ten
// pages each), every page answering after 200 ms or at once, listed host after host in turn
// ("sorted:0") or each host's pages in a row ("sorted:1"). Timed:
// - the engine itself, every page queued up front, with the process's CPU time per page and
//   its peak resident set; the same with host names that take 20 ms to look up (NameLookups),
//   counting the lookups; and at 256 in flight with a soft descriptor limit of 256, raised or not;
// - curl(1) in its parallel mode, xargs running curl(1), and linkinator (from npm) when they
//   are installed, at the same number in flight (linkinator at its own default);
// - the program end to end: `vantorel --check example.com --urls FILE --jobs N --format tsv`,
//   and `vantorel --recheck` of 10,000 known addresses again and again on one history file.
// "vs_ideal" is the wall time over the least the server allows: ceil(pages / in flight)
// rounds of 200 ms, and five rounds when a host takes two pages at a time. The pages come from
// vantorel_page_server, a child process, so every CPU time counted is the client's own.

#include "NameLookups.h"
#include "PageServer.h"

#include <FetchEngine.h>
#include <Network.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <memory>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

constexpr int kHosts = 100;
constexpr int kPages = 1000;
constexpr int kPageBytes = 20'000;

std::unique_ptr<PageServer> gServer;
std::unique_ptr<QTemporaryDir> gDir;

} // namespace

namespace {

double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

long ResidentKb()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// 0 when not even the directory can be opened: every descriptor is taken.
int OpenDescriptors()
{
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator entry("/proc/self/fd", error); !error && entry != std::filesystem::directory_iterator();
         entry.increment(error))
        ++count;
    return error ? 0 : count;
}

double IdealMs(int jobs, int delayMs, int hosts = kHosts)
{
    const int perHost = kPages / hosts;
    const int rounds = std::max((kPages + jobs - 1) / jobs, (perHost + 1) / 2);
    return rounds * static_cast<double>(delayMs);
}

std::vector<std::string> Urls(int delayMs, bool sorted, bool names = false)
{
    std::vector<std::string> urls = gServer->urls(delayMs, sorted);
    if (names)
        std::transform(urls.begin(), urls.end(), urls.begin(), &NameLookups::WithName);
    return urls;
}

std::string ListFile(const std::vector<std::string> &urls, const std::string &name)
{
    const std::string path = gDir->filePath(QString::fromStdString(name)).toStdString();
    std::ofstream out(path);
    for (const std::string &url : urls)
        out << url << '\n';
    return path;
}

struct EngineRun {
    double wallMs = 0;
    double cpuMs = 0;
    long peakResidentKb = 0;
    int peakDescriptors = 0;
    int failed = 0;
    QString firstFailure;
};

// Every page queued at once; each result is checked and let go as it comes.
EngineRun RunEngine(const std::vector<std::string> &urls, int jobs, bool countDescriptors)
{
    EngineRun run;
    FetchEngine engine({}, jobs);
    const double cpuBefore = ProcessCpuMs();
    const auto started = std::chrono::steady_clock::now();
    for (const std::string &url : urls)
        engine.Start(QString::fromStdString(url));
    int finished = 0;
    QEventLoop loop;
    QObject::connect(&engine, &FetchEngine::Finished, &loop, [&](FetchEngine::Ticket ticket) {
        const std::optional<FetchResult> result = engine.Take(ticket);
        if (!result || !result->ok() || result->httpStatus != 200 || result->body.size() < kPageBytes) {
            if (run.failed++ == 0)
                run.firstFailure = result ? result->errorText : QStringLiteral("no result");
        }
        if (++finished % 16 == 0) {
            run.peakResidentKb = std::max(run.peakResidentKb, ResidentKb());
            if (countDescriptors)
                run.peakDescriptors = std::max(run.peakDescriptors, OpenDescriptors());
        }
        if (finished == static_cast<int>(urls.size()))
            loop.quit();
    });
    QTimer::singleShot(std::chrono::minutes(2), &loop, &QEventLoop::quit);
    loop.exec();
    run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    run.cpuMs = ProcessCpuMs() - cpuBefore;
    run.failed += static_cast<int>(urls.size()) - finished;
    return run;
}

void ReportEngine(benchmark::State &state, const EngineRun &run, int jobs, int delayMs, int hosts = kHosts)
{
    state.SetIterationTime(run.wallMs / 1e3);
    state.counters["cpu_ms_per_page"] = benchmark::Counter(run.cpuMs / kPages, benchmark::Counter::kAvgIterations);
    if (run.peakResidentKb > 0)
        state.counters["rss_mb"] = benchmark::Counter(static_cast<double>(run.peakResidentKb) / 1024,
                                                      benchmark::Counter::kAvgIterations);
    if (delayMs > 0)
        state.counters["vs_ideal"] =
            benchmark::Counter(run.wallMs / IdealMs(jobs, delayMs, hosts), benchmark::Counter::kAvgIterations);
}

// Arguments: in flight, page delay in ms, sorted list, host names instead of addresses.
void BM_Engine(benchmark::State &state)
{
    const int jobs = static_cast<int>(state.range(0));
    const int delayMs = static_cast<int>(state.range(1));
    const bool names = state.range(3) != 0;
    const std::vector<std::string> urls = Urls(delayMs, state.range(2) != 0, names);
    for (auto _ : state) {
        NameLookups::Reset();
        const EngineRun run = RunEngine(urls, jobs, false);
        if (run.failed > 0) {
            state.SkipWithError(QStringLiteral("%1 pages failed, first: %2").arg(run.failed).arg(run.firstFailure).toStdString().c_str());
            return;
        }
        ReportEngine(state, run, jobs, delayMs);
        if (names) {
            state.counters["lookups"] = benchmark::Counter(NameLookups::Count(), benchmark::Counter::kAvgIterations);
            state.counters["lookups_at_once"] = benchmark::Counter(NameLookups::AtOnce(), benchmark::Counter::kAvgIterations);
        }
    }
}
BENCHMARK(BM_Engine)
    ->ArgNames({"jobs", "delay_ms", "sorted", "names"})
    ->Args({16, 200, 0, 0})
    ->Args({64, 200, 0, 0})
    ->Args({64, 200, 1, 0})
    ->Args({200, 200, 0, 0})
    ->Args({200, 200, 1, 0})
    ->Args({256, 200, 0, 0})
    ->Args({200, 200, 0, 1})
    ->Args({64, 0, 0, 0})
    ->Args({200, 0, 0, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// 256 in flight where the soft descriptor limit is 256: as it stands, or raised as the program
// raises it at start. The thousand pages are spread over 250 hosts here, four each, so that
// 256 can be in flight at once.
void BM_EngineAtDescriptorLimit(benchmark::State &state)
{
    constexpr int kManyHosts = 250;
    const bool raise = state.range(0) != 0;
    const PageServer server({kManyHosts, kPages, kPageBytes, QStringLiteral("example.com")});
    const std::vector<std::string> urls = server.urls(200, false);
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    for (auto _ : state) {
        rlimit lowered = saved;
        lowered.rlim_cur = 256;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        const DescriptorBudget budget = raise ? RaiseDescriptorLimit(256) : DescriptorBudget{256, {}};
        const EngineRun run = RunEngine(urls, budget.jobs, true);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        ReportEngine(state, run, budget.jobs, 200, kManyHosts);
        state.counters["failed_pages"] = benchmark::Counter(run.failed, benchmark::Counter::kAvgIterations);
        state.counters["descriptors"] = benchmark::Counter(run.peakDescriptors, benchmark::Counter::kAvgIterations);
        state.counters["jobs"] = benchmark::Counter(budget.jobs, benchmark::Counter::kAvgIterations);
    }
}
BENCHMARK(BM_EngineAtDescriptorLimit)->ArgName("raise")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

struct ChildRun {
    double wallMs = 0;
    double cpuMs = 0; // the child's and its waited-for children's, user and system
    long peakResidentKb = 0; // at least this process's own when it was spawned
    int exitCode = -1;
};

// Runs argv with standard input and output from and to the files given.
ChildRun RunChild(const std::vector<std::string> &argv, const std::string &in = "/dev/null",
                  const std::string &out = "/dev/null")
{
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    const auto started = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    run.cpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.peakResidentKb = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

bool Installed(const char *program)
{
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

void ReportChild(benchmark::State &state, const ChildRun &run, int jobs, int delayMs)
{
    // No resident set: a spawned child's peak counts the spawning process's own.
    ReportEngine(state, {run.wallMs, run.cpuMs, 0, 0, 0, {}}, jobs, delayMs);
}

// Times a command over the pages; jobs is what it runs at once, for the ideal.
void TimeCommand(benchmark::State &state, const std::vector<std::string> &argv, int jobs, int delayMs,
                 const std::string &in = "/dev/null")
{
    for (auto _ : state) {
        const ChildRun run = RunChild(argv, in);
        if (run.exitCode != 0) {
            state.SkipWithError((argv[0] + " exited with " + std::to_string(run.exitCode)).c_str());
            return;
        }
        ReportChild(state, run, jobs, delayMs);
    }
}

// curl(1) fetching urls with jobs in flight, from a config file of that name.
std::vector<std::string> CurlParallel(const std::vector<std::string> &urls, int jobs, const std::string &name)
{
    std::vector<std::string> config;
    for (const std::string &url : urls)
        config.push_back("url = \"" + url + "\"\noutput = \"/dev/null\"");
    return {"curl", "--silent", "--fail", "--parallel", "--parallel-max", std::to_string(jobs), "--config",
            ListFile(config, name)};
}

// Arguments: in flight, page delay in ms.
void BM_CurlParallel(benchmark::State &state)
{
    if (!Installed("curl")) {
        state.SkipWithError("curl(1) is not installed: no comparison");
        return;
    }
    const int jobs = static_cast<int>(state.range(0));
    const int delayMs = static_cast<int>(state.range(1));
    TimeCommand(state, CurlParallel(Urls(delayMs, false), jobs, "curl-" + std::to_string(delayMs) + ".cfg"), jobs,
                delayMs);
}
BENCHMARK(BM_CurlParallel)
    ->ArgNames({"jobs", "delay_ms"})
    ->Args({64, 200})
    ->Args({200, 200})
    ->Args({64, 0})
    ->Args({200, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A curl(1) process per page, N at a time. Arguments: in flight, page delay in ms.
void BM_XargsCurl(benchmark::State &state)
{
    if (!Installed("curl")) {
        state.SkipWithError("curl(1) is not installed: no comparison");
        return;
    }
    const int jobs = static_cast<int>(state.range(0));
    const int delayMs = static_cast<int>(state.range(1));
    const std::string list = ListFile(Urls(delayMs, false), "list-" + std::to_string(delayMs) + ".txt");
    TimeCommand(state, {"xargs", "-P", std::to_string(jobs), "-n", "1", "curl", "--silent", "--fail", "-o", "/dev/null"},
                jobs, delayMs, list);
}
BENCHMARK(BM_XargsCurl)
    ->ArgNames({"jobs", "delay_ms"})
    ->Args({64, 200})
    ->Args({200, 200})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// linkinator checks the links of an index page that lists the thousand pages, as many at once
// as it takes by default: no ideal to compare with.
void BM_Linkinator(benchmark::State &state)
{
    if (!Installed("linkinator")) {
        state.SkipWithError("linkinator is not installed (npm install -g linkinator): no comparison");
        return;
    }
    const int delayMs = static_cast<int>(state.range(0));
    TimeCommand(state, {"linkinator", gServer->indexUrl(delayMs, false).toStdString()}, 0, 0);
}
BENCHMARK(BM_Linkinator)->ArgName("delay_ms")->Arg(200)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The program run with the arguments given and tsv output; its run, or nothing (the benchmark
// skipped) when it failed or fewer than expected pages were 有效.
std::optional<ChildRun> RunProgram(benchmark::State &state, std::vector<std::string> arguments, int expected)
{
    const std::string output = gDir->filePath(QStringLiteral("rows.tsv")).toStdString();
    arguments.insert(arguments.begin(), VANTOREL_BINARY);
    arguments.insert(arguments.end(), {"--format", "tsv"});
    const ChildRun run = RunChild(arguments, "/dev/null", output);
    int valid = 0;
    std::ifstream rows(output);
    for (std::string row; std::getline(rows, row);)
        valid += row.find("\t有效\t") != std::string::npos;
    if (run.exitCode != 0 || valid != expected) {
        state.SkipWithError(
            ("vantorel exited with " + std::to_string(run.exitCode) + " after " + std::to_string(valid) + " valid rows").c_str());
        return std::nullopt;
    }
    return run;
}

// The program checks the list with jobs in flight (more arguments after).
std::optional<ChildRun> CheckList(benchmark::State &state, const std::string &list, int jobs, int expected,
                                  const std::vector<std::string> &more = {})
{
    std::vector<std::string> arguments{"--check", "example.com", "--urls", list, "--jobs", std::to_string(jobs)};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunProgram(state, std::move(arguments), expected);
}

// The program end to end, every page judged. Arguments: in flight, page delay in ms, sorted.
void BM_Program(benchmark::State &state)
{
    const int jobs = static_cast<int>(state.range(0));
    const int delayMs = static_cast<int>(state.range(1));
    const bool sorted = state.range(2) != 0;
    const std::string list = ListFile(Urls(delayMs, sorted), "rows-" + std::to_string(delayMs) + "-" +
                                                                  std::to_string(sorted) + ".txt");
    for (auto _ : state) {
        const std::optional<ChildRun> run = CheckList(state, list, jobs, kPages);
        if (!run)
            return;
        ReportChild(state, *run, jobs, delayMs);
    }
}
BENCHMARK(BM_Program)
    ->ArgNames({"jobs", "delay_ms", "sorted"})
    ->Args({16, 200, 0})
    ->Args({16, 200, 1})
    ->Args({64, 200, 0})
    ->Args({64, 200, 1})
    ->Args({200, 200, 0})
    ->Args({200, 200, 1})
    ->Args({200, 0, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The program on a list of 100,000 pages of 20 KB on 100 loopback hosts, answering at once, at
// the list's default transfers, its run kept in a history file of its own: wall and CPU time,
// and the peak resident set (target: 300 MB).
void BM_ProgramHundredThousand(benchmark::State &state)
{
    constexpr int kListed = 100'000;
    const PageServer server({kHosts, kListed, kPageBytes, QStringLiteral("example.com")});
    if (server.port() == 0) {
        state.SkipWithError("the page server did not start");
        return;
    }
    const std::string list = ListFile(PageServer::Urls(server.port(), kHosts, kListed, 0, false), "hundred-thousand.txt");
    setenv("XDG_DATA_HOME", gDir->filePath(QStringLiteral("data")).toLocal8Bit().constData(), 1);
    for (auto _ : state) {
        const std::optional<ChildRun> run = CheckList(state, list, 64, kListed);
        if (!run)
            return;
        state.SetIterationTime(run->wallMs / 1e3);
        state.counters["cpu_ms_per_page"] = run->cpuMs / kListed;
        state.counters["peak_rss_MiB"] = static_cast<double>(run->peakResidentKb) / 1024;
    }
}
BENCHMARK(BM_ProgramHundredThousand)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// `vantorel --recheck` of one site's 10,000 known addresses (100 pages of 20 KB on each of 100
// loopback hosts, answering at once) at the list default of 64 in flight, 30 times in a row on
// the same history file, which a --check of the list starts; after each, curl --parallel at 64
// fetches the same pages. Medians of the first three and of the last three re-checks: wall
// time (the iteration's time is the first's), CPU time per page and peak resident set, each
// wall beside the median of curl's 30 (targets: at most twice curl's, the last within 15 % of
// the first).
void BM_Recheck(benchmark::State &state)
{
    constexpr int kKnown = 10'000;
    constexpr int kJobs = 64;
    constexpr int kRechecks = 30;
    constexpr size_t kFew = 3;
    const PageServer server({kHosts, kKnown, kPageBytes, QStringLiteral("example.com")});
    if (server.port() == 0) {
        state.SkipWithError("the page server did not start");
        return;
    }
    const std::vector<std::string> urls = PageServer::Urls(server.port(), kHosts, kKnown, 0, false);
    const std::string list = ListFile(urls, "known.txt");
    const std::vector<std::string> curl = CurlParallel(urls, kJobs, "curl-known.cfg");
    const auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    for (auto _ : state) {
        static int histories = 0; // a new file for each repetition
        const std::string history = gDir->filePath(QStringLiteral("recheck-%1.sqlite3").arg(++histories)).toStdString();
        if (!CheckList(state, list, kJobs, kKnown, {"--db", history}))
            return;
        std::vector<ChildRun> rechecks;
        std::vector<double> curlMs;
        for (int i = 0; i < kRechecks; ++i) {
            const std::optional<ChildRun> run =
                RunProgram(state, {"--recheck", "example.com", "--db", history, "--jobs", std::to_string(kJobs)}, kKnown);
            if (!run)
                return;
            rechecks.push_back(*run);
            const ChildRun fetched = RunChild(curl);
            if (fetched.exitCode != 0) {
                state.SkipWithError(("curl exited with " + std::to_string(fetched.exitCode)).c_str());
                return;
            }
            curlMs.push_back(fetched.wallMs);
        }
        const auto few = [&](size_t first, auto field) {
            std::vector<double> values;
            for (size_t i = first; i < first + kFew; ++i)
                values.push_back(field(rechecks[i]));
            return median(values);
        };
        const auto wallMs = [](const ChildRun &run) { return run.wallMs; };
        const auto cpuMsPerPage = [](const ChildRun &run) { return run.cpuMs / kKnown; };
        const auto peakMiB = [](const ChildRun &run) { return static_cast<double>(run.peakResidentKb) / 1024; };
        const size_t last = rechecks.size() - kFew;
        const double curlMedianMs = median(curlMs);
        state.SetIterationTime(few(0, wallMs) / 1e3);
        state.counters["first_s"] = few(0, wallMs) / 1e3;
        state.counters["last_s"] = few(last, wallMs) / 1e3;
        state.counters["curl_s"] = curlMedianMs / 1e3;
        state.counters["first_vs_curl"] = few(0, wallMs) / curlMedianMs;
        state.counters["last_vs_curl"] = few(last, wallMs) / curlMedianMs;
        state.counters["last_vs_first"] = few(last, wallMs) / few(0, wallMs);
        state.counters["first_cpu_ms_per_page"] = few(0, cpuMsPerPage);
        state.counters["last_cpu_ms_per_page"] = few(last, cpuMsPerPage);
        state.counters["first_peak_rss_MiB"] = few(0, peakMiB);
        state.counters["last_peak_rss_MiB"] = few(last, peakMiB);
        state.counters["history_MiB"] = static_cast<double>(std::filesystem::file_size(history)) / (1024 * 1024);
    }
}
BENCHMARK(BM_Recheck)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

constexpr int kLargePages = 200;

// 200 pages of 2 MB, each on a loopback host of its own, judged by the program at --jobs 200 or
// read by curl --parallel at 200 (program false): wall and CPU time, and the peak resident set
// (what bodies waiting to be read or judged take).
void BM_LargePages(benchmark::State &state, bool program)
{
    if (!program && !Installed("curl")) {
        state.SkipWithError("curl(1) is not installed: no comparison");
        return;
    }
    const PageServer server({kLargePages, kLargePages, 2'000'000, QStringLiteral("example.com")});
    if (server.port() == 0) {
        state.SkipWithError("the page server did not start");
        return;
    }
    const std::vector<std::string> urls = PageServer::Urls(server.port(), kLargePages, kLargePages, 0, false);
    const std::string list = ListFile(urls, "large-pages.txt");
    for (auto _ : state) {
        const std::optional<ChildRun> run =
            program ? CheckList(state, list, kLargePages, kLargePages)
                    : std::optional<ChildRun>(RunChild(CurlParallel(urls, kLargePages, "curl-large.cfg")));
        if (!run)
            return;
        state.SetIterationTime(run->wallMs / 1e3);
        state.counters["cpu_ms_per_page"] = benchmark::Counter(run->cpuMs / kLargePages, benchmark::Counter::kAvgIterations);
        state.counters["peak_rss_MiB"] = benchmark::Counter(static_cast<double>(run->peakResidentKb) / 1024,
                                                            benchmark::Counter::kAvgIterations);
    }
}
BENCHMARK_CAPTURE(BM_LargePages, program, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LargePages, curl, false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!InitNetwork())
        return 1;
    // The loopback hosts are reached directly, by the engine and by every program timed.
    setenv("no_proxy", "127.0.0.0/8,localhost,pages.test", 1);
    setenv("NO_PROXY", "127.0.0.0/8,localhost,pages.test", 1);
    QCoreApplication app(argc, argv);
    gServer = std::make_unique<PageServer>(PageServer::Options{kHosts, kPages, kPageBytes, QStringLiteral("example.com")});
    gDir = std::make_unique<QTemporaryDir>();
    if (gServer->port() == 0 || !gDir->isValid()) {
        std::fprintf(stderr, "the page server did not start: %s\n", qPrintable(gServer->error()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gServer.reset();
    return 0;
}
