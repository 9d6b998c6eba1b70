// Fifty pages from fifty loopback hosts (127.0.0.2 .. 127.0.0.51) that each answer after
// 200 ms: the engine with 8 and with 1 transfer in flight, against curl(1) run 8 at a time by
// xargs on the same addresses. The servers run in a child process, so that the engine's
// process CPU time is the engine's own.

#include "LoopbackServer.h"

#include <FetchEngine.h>
#include <Network.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryFile>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

constexpr int kPages = 50;

std::vector<QString> gUrls;

double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void BM_Engine(benchmark::State &state)
{
    FetchEngine engine({}, static_cast<int>(state.range(0)));
    const double cpuBefore = ProcessCpuMs();
    for (auto _ : state) {
        std::vector<FetchEngine::Ticket> tickets;
        for (const QString &url : gUrls)
            tickets.push_back(engine.Start(url));
        int finished = 0;
        QEventLoop loop;
        const QMetaObject::Connection counting =
            QObject::connect(&engine, &FetchEngine::Finished, &loop, [&] {
                if (++finished == kPages)
                    loop.quit();
            });
        loop.exec();
        QObject::disconnect(counting);
        for (const FetchEngine::Ticket ticket : tickets) {
            const std::optional<FetchResult> result = engine.Take(ticket);
            if (!result || !result->ok() || result->body != "page") {
                state.SkipWithError("a page did not come back whole");
                return;
            }
        }
    }
    state.counters["cpu_ms_per_page"] =
        (ProcessCpuMs() - cpuBefore) / static_cast<double>(state.iterations() * kPages);
}
BENCHMARK(BM_Engine)->Arg(8)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_XargsCurl(benchmark::State &state)
{
    if (std::system("command -v curl >/dev/null 2>&1") != 0) {
        state.SkipWithError("curl(1) is not installed: no comparison");
        return;
    }
    QTemporaryFile list;
    if (!list.open()) {
        state.SkipWithError("cannot write the address list");
        return;
    }
    for (const QString &url : gUrls)
        list.write(url.toUtf8() + '\n');
    list.flush();
    const std::string command =
        "xargs -P 8 -n 1 curl -s -o /dev/null < '" + list.fileName().toStdString() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}
BENCHMARK(BM_XargsCurl)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// The child: one server per host, answering after 200 ms, until the parent closes the pipe.
[[noreturn]] void ServePages(int portsOut, int parentGone)
{
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    std::array<int, kPages> ports{};
    for (int i = 0; i < kPages; ++i) {
        servers.push_back(std::make_unique<LoopbackServer>(
            [](LoopbackServer::Connection &connection) {
                if (connection.sleepFor(std::chrono::milliseconds(200)))
                    connection.respond(200, "page");
            },
            "127.0.0." + std::to_string(i + 2)));
        ports[static_cast<size_t>(i)] = servers.back()->port();
    }
    if (::write(portsOut, ports.data(), sizeof ports) != static_cast<ssize_t>(sizeof ports))
        std::_Exit(1);
    char byte = 0;
    while (::read(parentGone, &byte, 1) > 0) {
    }
    std::_Exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    // Before any thread: the HTTP client, and the fork of the servers' process.
    if (!InitNetwork())
        return 1;
    setenv("no_proxy", "127.0.0.0/8", 1); // for curl(1) as well as the engine
    int portsPipe[2];
    int lifePipe[2];
    if (::pipe(portsPipe) != 0 || ::pipe(lifePipe) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        ::close(portsPipe[0]);
        ::close(lifePipe[1]);
        ServePages(portsPipe[1], lifePipe[0]);
    }
    ::close(portsPipe[1]);
    ::close(lifePipe[0]);
    std::array<int, kPages> ports{};
    if (::read(portsPipe[0], ports.data(), sizeof ports) != static_cast<ssize_t>(sizeof ports)) {
        std::fputs("the page servers did not start\n", stderr);
        return 1;
    }
    for (int i = 0; i < kPages; ++i)
        gUrls.push_back(QStringLiteral("http://127.0.0.%1:%2/").arg(i + 2).arg(ports[static_cast<size_t>(i)]));

    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    ::close(lifePipe[1]);
    ::waitpid(child, nullptr, 0);
    return 0;
}
