#pragma once

#include "AnalysisWindow.h"
#include "Verdict.h"

#include <FetchEngine.h>

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

namespace vantorel {

// How the last run ended.
enum class RunOutcome {
    Running,
    Completed,         // every row judged
    NoDomain,          // nothing left of the typed domain
    EngineUnreachable, // no result page was had
    EngineRefused,     // the engine asked for a human check
    PageUnrecognised,  // the engine's page had none of the result page's markers
    Stopped,           // stopped, superseded or abandoned
};

struct AnalysisSettings {
    QString searchHost = QStringLiteral("www.baidu.com");
    std::chrono::milliseconds pause{1000};
    FetchLimits fetchLimits;
    int jobs = 8; // pages in flight at once
};

// One analysis run: fetch the engine's result page, list the linking pages, then judge each
// of them, fetching the next pages meanwhile. Everything runs on the caller's (the window's)
// thread, and every wait runs its event loop: the window stays alive, and a close, a new run
// or Stop() can arrive inside a wait. A run that is no longer current writes nothing more.
class BacklinkAnalysis final : public QObject {
    Q_OBJECT

public:
    explicit BacklinkAnalysis(AnalysisWindow &window, AnalysisSettings settings = {});

    // Reads the domain from the window, reduces it to a host and runs with it.
    void RunAnalysis();
    // A run without the engine: the grid is refilled with the given addresses (full URLs) and
    // each is checked against the domain in the window.
    void CheckAddresses(const QStringList &urls);
    // The two stages of a run, against the run's domain.
    void ParseSearchResults(const QString &domain);
    void CheckLinkValidity(const QString &domain);

    // Stops the run that is going, if any: transfers aborted, rows not yet judged left as they
    // are, the status line says so and the panel stays. False when no run was going.
    bool Stop();
    // The window is going away: abort everything, write nothing more.
    void Abandon();
    bool Running() const { return activeRun_ != 0 && activeRun_ == latestRun_; }
    RunOutcome Outcome() const { return outcome_; }
    // The engine's count of linking pages, as its result page wrote it; none without one.
    const std::optional<QString> &CountText() const { return countText_; }

    AnalysisSettings &Settings() { return settings_; }

signals:
    // Wakes every wait so that it can see that its run is no longer current.
    void Interrupted();

private:
    using RunId = quint64;

    RunId BeginRun();
    // Shows the panel with the first status and reduces the window's domain to a host; empty
    // (and the run ended, the user asked for one) when nothing is left of it.
    QString StartRun(RunId run, const QString &firstStatus);
    void EndRun(RunId run, RunOutcome outcome);
    bool StillCurrent(RunId run) const;
    // Run the event loop until the transfer is done or the run is no longer current; the result,
    // or nothing when the run was superseded meanwhile.
    std::optional<FetchResult> Await(RunId run, FetchEngine::Ticket ticket);
    bool Pause(RunId run);
    // Judges a fetched page on a worker thread, since parsing a large page takes a while, and
    // runs the event loop meanwhile; nothing when the run is no longer current.
    std::optional<JudgedPage> Judge(RunId run, FetchResult result, const QString &domain);

    AnalysisWindow &window_;
    AnalysisSettings settings_;
    FetchEngine engine_;
    RunId latestRun_ = 0;
    RunId activeRun_ = 0;
    RunOutcome outcome_ = RunOutcome::Completed;
    std::optional<QString> countText_;
};

} // namespace vantorel
