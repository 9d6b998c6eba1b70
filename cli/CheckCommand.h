#pragma once

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "ConsoleStreams.h"

#include <BacklinkAnalysis.h>

#include <QObject>
#include <QSocketNotifier>
#include <QThreadPool>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

namespace vantorel {

class ConsoleProgress;
class HistoryWriter;
class RunHistory;

// Exit statuses of a check from the command line.
enum ExitStatus : int {
    kExitCompleted = 0,
    kExitOutputFailed = 1, // or the history could not be read
    kExitUsage = 2,
    kExitEngineUnreachable = 3,
    kExitEngineRefused = 4,
    kExitLinksLost = 5,    // --fail-on-lost
    kExitCannotJudge = 6,  // --fail-on-lost, when the history or the pages cannot tell
    kExitInterrupted = 130, // or 128 and the signal that stopped the run (InterruptWatch)
};

// Runs vantorel --check or --recheck with the run, parse and check code of the window, without
// a display, and keeps the run in the history: results on standard output, progress on standard
// error. --history and --changes read the history instead. Needs a QCoreApplication; settings
// carries what the command line does not set (the engine's host).
int RunCheck(const CommandLine &line, AnalysisSettings settings = {});

// The settings of checks from the command line, runsAtOnce of them sharing the process's file
// descriptors; a warning on streams when there are too few for the pages asked for.
AnalysisSettings CheckSettings(const CommandLine &line, AnalysisSettings settings, ConsoleStreams &streams,
                               int runsAtOnce = 1);

// One --check or --recheck in the event loop, so that several can run at once in one process.
// Each of its writes to standard output and error is whole lines in one write.
class CheckRun final : public QObject {
    Q_OBJECT

public:
    // settings as CheckSettings made them; progressBar: a bar on standard error rather than a
    // line per judged row; keepResults: the results are kept for Results() rather than printed.
    // The owner of streams decides what a failed write stops.
    CheckRun(CommandLine line, AnalysisSettings settings, ConsoleStreams &streams, bool progressBar,
             bool keepResults = false);
    ~CheckRun() override;

    // Begins the run: the exit status when there is nothing to check, else Done brings it from
    // the event loop once the results are written and the changes told.
    std::optional<int> Start();
    void Stop();
    // Whether the run was stopped before it went through its addresses.
    bool Stopped() const;
    // What it would have printed, once Done says it ended with results, when it keeps them.
    const std::optional<SiteResults> &Results() const { return results_; }
    // How many links the changes told as lost (丢失, 变为文字提及), once Done.
    int Lost() const { return lost_; }
    // How many removals wait for more checks to be told as lost (疑似丢失), once Done.
    int Unconfirmed() const { return unconfirmed_; }

signals:
    void Done(int status);

private:
    struct Conclusion;
    void Finish();
    // The exit status when the run ends without the store's part, else nothing.
    std::optional<int> Conclude();
    void Told(const Conclusion &conclusion);
    void SayOnce(const QString &reason);

    const CommandLine line_;
    const QString historyFile_;
    const AnalysisSettings settings_;
    ConsoleStreams &streams_;
    const bool progressBar_;
    const bool keepResults_;
    std::optional<SiteResults> results_;
    int lost_ = 0;
    int unconfirmed_ = 0;
    bool starting_ = false;
    bool finished_ = false;
    std::unique_ptr<BacklinkAnalysis> analysis_;
    std::unique_ptr<HistoryWriter> writer_;
    std::unique_ptr<RunHistory> history_;
    std::unique_ptr<ConsoleProgress> progress_;
    QThreadPool pool_; // last: its work, which uses the writer, ends first
};

// While it lives, Ctrl+C, SIGTERM (what a service manager sends) and SIGHUP (a closed terminal)
// call stop from the event loop instead of ending the process.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // The status a run it stopped ends with: 128 and the first signal, as a shell reports a
    // process that signal ended; given when none came.
    int StoppedStatus(int status) const;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static inline volatile std::sig_atomic_t writeEnd_ = -1;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    void (*previous_[std::size(kSignals)])(int) = {};
    int signal_ = 0;
};

} // namespace vantorel
