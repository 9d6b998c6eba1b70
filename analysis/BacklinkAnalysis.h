#pragma once

#include "PageRendering.h"
#include "ResultExport.h"
#include "Retry.h"
#include "SideChecks.h"
#include "Verdict.h"

#include <FetchEngine.h>
#include <HeadlessBrowser.h>

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vantorel {

struct AnalysisSettings {
    QString searchHost = QStringLiteral("www.baidu.com");
    std::chrono::milliseconds pause{1000};
    FetchLimits fetchLimits;
    int jobs = 8;      // pages in flight at once for the engine's results
    int listJobs = 64; // and for a list of addresses, which is often long
    RetryPolicy retry;
    // The least time between two requests to the engine: asked too often, it asks for a human.
    std::chrono::milliseconds searchGap{3000};
    // When the engine was last asked (QDeadlineTimer's clock; 0: never), shared by the runs made
    // with copies of these settings, which keep the gap between them too (--recheck-due --workers).
    std::shared_ptr<std::atomic<qint64>> lastSearch = std::make_shared<std::atomic<qint64>>(0);
    RenderMode render = RenderMode::Auto;
    QString browserProgram = BrowserProgram();
    RenderLimits renderLimits;
    // Each page the links point to on the site is fetched once a run, and its failure told.
    bool checkTargets = true;
    // And the robots.txt of each host whose page links to the domain.
    bool readRobotsTxt = true;
};

// Raises the descriptor limit for the pages the settings fetch at once (Network.h), and lowers
// them when it cannot go high enough; the warning to show, or empty. Once, at start.
QString FitDescriptorBudget(AnalysisSettings &settings);

// One analysis run at a time, driven by events only: the engine's answers, a continuation for
// each judged page, a single-shot timer for each pause. Nothing here waits: every call returns
// at once, and the run says what happens through its signals, which the window and the console
// both watch. A run is superseded by the next one, stopped by Stop() and dropped by Abandon();
// either way nothing of it reaches a signal afterwards.
class BacklinkAnalysis final : public QObject {
    Q_OBJECT

public:
    explicit BacklinkAnalysis(AnalysisSettings settings = {}, QObject *parent = nullptr);
    ~BacklinkAnalysis() override;

    // Reduces the typed domain to a host, asks the engine for the pages linking to it, lists
    // them and judges each.
    void RunAnalysis(const QString &typedDomain);
    // A run without the engine: the given full addresses are listed and judged.
    void CheckAddresses(const QStringList &urls, const QString &typedDomain, RunKind kind = RunKind::AddressList);
    // A monitoring run: one search of the engine, then its results and the known full addresses
    // it did not list, judged together. When the engine fails, the known addresses are judged all
    // the same and EngineProblem() says why; without any, the run ends as a search's would.
    void MonitorSite(const QString &typedDomain, const QStringList &known);
    // Why the engine gave the run no results, whether the run ended there or went on with the
    // known addresses; empty when it gave them.
    const QString &EngineProblem() const { return engineProblem_; }

    // The two stages of a run. ParseSearchResults lists the organic results of the engine's
    // page; CheckLinkValidity judges the listed rows against the domain, each verdict landing
    // as soon as its page is judged.
    void ParseSearchResults(const QString &page, const QString &domain);
    void CheckLinkValidity(const QString &domain);
    // Judges the given rows of the last run again, in place, against its domain; false (and
    // nothing done) while a run is going or when none of them exists.
    bool RecheckRows(std::vector<int> rows);

    // Stops the run that is going, if any: transfers aborted, every verdict judged kept, rows
    // not yet judged back to waiting, the status line says so and the panel stays. False when
    // no run was going.
    bool Stop();
    // The window is going away: drop everything and say nothing more.
    void Abandon();

    bool Running() const { return outcome_ == RunOutcome::Running; }
    RunOutcome Outcome() const { return outcome_; }
    // The engine's count of linking pages, as its result page wrote it; none without one.
    const std::optional<QString> &CountText() const { return countText_; }
    // The host the current (or last) run judges against.
    const QString &Domain() const { return domain_; }
    // The rows of the current (or last) run.
    const std::vector<ResultRow> &Rows() const { return rows_; }

    AnalysisSettings &Settings() { return settings_; }

signals:
    void PanelShown(bool shown);
    void StatusChanged(const QString &text);
    void TipLineChanged(const QString &text);
    void DomainChanged(const QString &domain); // the typed domain, reduced
    // A run with a domain has begun (a run without one ends at once, saying so).
    void RunStarted(vantorel::RunKind kind, const QString &domain);
    void RowsAboutToBeListed();                // Rows() is about to be replaced
    void RowsListed();                         // the rows were replaced
    void RowStarted(int index);                // the lowest row still being checked
    void RowStateChanged(int index);           // fetched, waiting to be tried again, or waiting
    void RowJudged(int index);                 // its evidence is in Rows()
    // The browser could not be started or died: one line, once a run; the rows keep the verdict
    // of their fetch.
    void BrowserFailed(const QString &line);
    void Finished(vantorel::RunOutcome outcome);

private:
    // Replaces the run's rows, saying so before and after.
    void ReplaceRows(std::vector<ResultRow> rows);
    // Ends whatever ran before and starts a new generation; the engine gets the settings, with
    // as many transfers at once as the kind of run allows.
    void BeginRun(int jobs);
    // Shows the panel with the first status and reduces the typed domain; false (the run
    // ended) when nothing is left of it.
    bool StartRun(RunKind kind, const QString &firstStatus, const QString &typedDomain);
    void EndRun(RunOutcome outcome);
    // Drops every transfer, judgement and timer of the current generation; the rows not judged
    // wait again, and are returned.
    std::vector<int> DropWork();
    // Says so for each of them.
    void AnnounceWaiting(const std::vector<int> &rows);
    void After(std::chrono::milliseconds delay, std::function<void()> then);

    // Asks the engine for the row's page: its address, or where its page last sent the visitor.
    void FetchRow(int row);
    // The row's page sent the visitor on within seconds: the target is fetched and judged instead,
    // as a redirect's is. redirects: the row's redirects so far, without this one.
    void FollowRefresh(int row, QString target, long redirects);
    // Asks the engine for the domain's backlinks, once its gap since the last search is over.
    void AskEngine();
    // The engine gave no results: a monitoring run judges its known addresses, any other ends.
    void SearchFailed(const QString &status, RunOutcome outcome);
    // A monitoring run's known addresses the engine did not list, after its results.
    void ListKnownAddresses();
    void OnFetched(FetchEngine::Ticket ticket);
    void OnSearchAnswer(const FetchResult &answer);
    void StartJudging(int row, FetchResult result);
    void HoldBodiesWhileJudgingIsBehind();
    // The judged page looks built by script: the row waits for the browser's look at it.
    void StartRendering(int row, RowEvidence evidence, QByteArray robotsTag);
    void OnRendered(HeadlessBrowser::Ticket ticket, const RenderedPage &page);
    // The row is judged: once what it needs of robots.txt and its targets is known, it lands.
    void Judged(int row, RowEvidence evidence);
    // Lands the verdict on the row and on the rows listing its address again.
    void Land(int row, RowEvidence evidence);
    // Moves the status on to the lowest row still being checked, or ends the check after the last.
    void AdvancePastJudgedRows();
    // Judges the rows at the given indexes; the status names them in that order.
    void CheckRows(const QString &domain, std::vector<int> rows);
    // Hands the engine the next slice of checkOrder_, and the rest on the next turns of the event loop.
    void AskForNextRows();
    void AnnounceRow(int place); // a place in the order of the rows being checked
    void SetRowState(int row, RowState state);

    AnalysisSettings settings_;
    FetchEngine engine_;
    SideChecks sideChecks_{engine_};
    std::unordered_map<int, RowEvidence> heldRows_; // judged, waiting for their side checks
    QThreadPool judges_;
    std::unordered_map<QObject *, qsizetype> watchers_; // one for each page being judged, with its body's bytes
    qsizetype judgingBytes_ = 0;                         // of those bodies together
    QTimer pause_;
    std::function<void()> afterPause_;
    quint64 generation_ = 0;
    RunOutcome outcome_ = RunOutcome::Completed;

    QString domain_;
    std::optional<QString> countText_;
    std::optional<QStringList> monitored_; // a monitoring run's known addresses
    QString engineProblem_;
    std::optional<FetchEngine::Ticket> searchTicket_;
    std::vector<ResultRow> rows_;
    std::unordered_map<FetchEngine::Ticket, int> rowOfTicket_;
    std::unordered_map<int, std::vector<int>> sameAddressRows_; // a fetched row, and the rows listing it again
    std::vector<int> checkOrder_; // the rows being checked, in the order the status names them
    int lowestUnjudged_ = 0;      // a place in checkOrder_
    std::size_t rowsAsked_ = 0;   // places of checkOrder_ handed to the engine
    QHash<QString, int> firstRowOf_; // the row fetching each address asked for
    std::unordered_map<int, std::vector<QString>> failedAttempts_; // why a row's earlier tries failed
    std::unordered_set<QTimer *> retryTimers_;                     // rows waiting to be tried again
    struct Refreshed {
        QString target;
        long redirects = 0; // the refresh itself included
    };
    std::unordered_map<int, Refreshed> refreshedRows_; // rows whose page sent the visitor on
    HeadlessBrowser browser_;                                      // started by the first page to render, ended with the run
    struct Rendering {
        int row = 0;
        RowEvidence fetched;
        QByteArray robotsTag;
    };
    std::unordered_map<HeadlessBrowser::Ticket, Rendering> renders_;
};

} // namespace vantorel
