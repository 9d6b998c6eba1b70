// The program end to end over 1,000 loopback pages on 50 hosts (127.0.0.1 .. 127.0.0.50), 20 of
// them with their link written by a script, with --render auto beside --render never: wall time,
// and the peak proportional set size (Pss) of the program with every process under it (the
// browser's among them), sampled every 20 ms. Each run is checked: every page judged, and as many rows rendered
// as the mode should render.

#include "LoopbackServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kHosts = 50;
constexpr int kPages = 1000;
constexpr int kScripted = 20;

struct Web {
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    QTemporaryDir dir;
    QString list;
};
std::unique_ptr<Web> gWeb;

// Static pages hold their link (some 4 KB of text with it); every fiftieth page writes it by script.
std::unique_ptr<Web> MakeWeb()
{
    auto web = std::make_unique<Web>();
    const std::string text(4000, 'x');
    const std::string scripted =
        "<html><body><h1>links</h1><div id=links></div><script>document.getElementById('links').innerHTML ="
        " '<a href=\"http://' + 'exa' + 'mple.com/\">example</a>';</script></body></html>";
    const std::string linked = "<html><body><p>" + text + "</p><a href=\"http://example.com/\">example</a></body></html>";
    QByteArray list;
    for (int host = 0; host < kHosts; ++host) {
        std::map<std::string, LoopbackServer::Page> pages;
        for (int page = 0; page < kPages / kHosts; ++page) {
            const bool script = (host * (kPages / kHosts) + page) % (kPages / kScripted) == 0;
            pages["/" + std::to_string(page)] = {200, script ? scripted : linked, "Content-Type: text/html; charset=utf-8\r\n"};
        }
        web->servers.push_back(std::make_unique<LoopbackServer>(LoopbackServer::Pages(std::move(pages)),
                                                                "127.0.0." + std::to_string(host + 1)));
        for (int page = 0; page < kPages / kHosts; ++page)
            list += web->servers.back()->url("/" + std::to_string(page)).toUtf8() + '\n';
    }
    web->list = web->dir.filePath(QStringLiteral("list.txt"));
    QFile file(web->list);
    if (file.open(QIODevice::WriteOnly))
        file.write(list);
    return web;
}

// Kilobytes of Pss of root and every process under it.
long TreeResidentKb(qint64 root)
{
    std::unordered_map<qint64, std::vector<qint64>> children;
    std::unordered_map<qint64, long> resident;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || !rollup.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        children[fields.value(1).toLongLong()].push_back(pid);
        // Pss: the browser's processes share most of their pages, which Rss would count in each.
        const QByteArray memory = rollup.readAll();
        const qsizetype at = memory.indexOf("\nPss:");
        resident[pid] = at < 0 ? 0 : memory.mid(at + 5, memory.indexOf('\n', at + 1) - at - 5).trimmed().split(' ').value(0).toLong();
    }
    long total = 0;
    std::vector<qint64> todo{root};
    while (!todo.empty()) {
        const qint64 pid = todo.back();
        todo.pop_back();
        total += resident[pid];
        todo.insert(todo.end(), children[pid].begin(), children[pid].end());
    }
    return total;
}

void Program(benchmark::State &state, const char *mode, int rendered)
{
    for (auto _ : state) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("no_proxy"), QStringLiteral("127.0.0.0/8"));
        program.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(VANTOREL_BINARY),
                      {"--check", "example.com", "--urls", gWeb->list, "--no-history", "--no-notify", "--format", "tsv",
                       "--retries", "0", "--render", QString::fromLatin1(mode)});
        long peakKb = 0;
        while (!program.waitForFinished(20))
            peakKb = std::max(peakKb, TreeResidentKb(program.processId()));
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        const QList<QByteArray> rows = program.readAllStandardOutput().trimmed().split('\n').mid(1);
        const auto valid = std::count_if(rows.begin(), rows.end(), [](const QByteArray &row) { return row.contains("\t有效\t"); });
        const auto shown = std::count_if(rows.begin(), rows.end(), [](const QByteArray &row) { return row.endsWith("\ttrue"); });
        if (program.exitCode() != 0 || rows.size() != kPages || shown != rendered || valid != kPages - kScripted + rendered) {
            state.SkipWithError("the run did not judge every page as it should");
            return;
        }
        state.counters["peak_MiB"] = static_cast<double>(peakKb) / 1024;
    }
}

} // namespace

BENCHMARK_CAPTURE(Program, render_never, "never", 0)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Program, render_auto, "auto", kScripted)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    gWeb = MakeWeb();
    benchmark::RunSpecifiedBenchmarks();
    gWeb.reset();
    benchmark::Shutdown();
    return 0;
}
