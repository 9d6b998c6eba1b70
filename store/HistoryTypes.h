#pragma once

#include <AddressList.h>
#include <PageEvidence.h>
#include <ResultRow.h>
#include <Verdict.h>

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vantorel {

// Where a run's addresses came from: the engine, a list the user gave, or the history itself.
using RunSource = RunKind;

// What a judged row was worth. Stored by name, so that the numbering of the enum never matters.
enum class StoredOutcome { PassesWeight, NoWeight, Removed, Unreachable };

// One run as the history keeps it. A run whose end was never written (the process died or the
// store failed during it) has no outcome: it is shown as "中断".
struct StoredRun {
    qint64 id = 0;
    QString domain;
    RunSource source = RunSource::Search;
    QDateTime startedAt;
    QDateTime endedAt;
    std::optional<RunOutcome> outcome;
    std::optional<QString> countText; // the engine's count; for a search that failed, why (FailureReason)
    // A completed run's place among the runs that completed, in the order they did; none for
    // any other run.
    std::optional<qint64> endOrder;
    int confirmChecks = 1; // how many checks in a row confirm a loss (RowChange::confirmChecks)
    bool Interrupted() const { return !outcome; }
    // Why the search failed, for a run that ended with the engine's failure; else nothing.
    std::optional<QString> FailureReason() const;
    // The engine's count, for any other run that has one.
    std::optional<QString> EngineCount() const;
};

// A run that ended because the engine gave no result page.
bool IsSearchFailure(RunOutcome outcome);

// One judged row as the history keeps it.
struct StoredRow {
    int number = 0;
    QString address; // the full address that was checked
    QString finalUrl;
    QString verdict; // as the grid showed it
    StoredOutcome outcome = StoredOutcome::Unreachable;
    bool pageHad = false; // a response arrived, whatever its status
    long httpStatus = 0;
    QString failureCause;
    int attempts = 1;
    QStringList failedAttempts; // why each attempt before the last was tried again
    QString charset;
    std::vector<LinkEvidence> links;
    RobotsEvidence robots;
    bool rendered = false; // its links were found only once its scripts ran
    QString renderFailure;
    QDateTime checkedAt;
    QString canonical;                // PageEvidence::canonical
    std::optional<QString> robotsTxt; // RowEvidence::robotsTxt
    std::optional<int> outboundLinks; // PageEvidence::outboundLinks; none before they were counted
};

// How a state keeps what may not be known, robots.txt's verdict and a link's target failure:
// for a page this program read with links to the domain, "?" when not known, else as they are
// ("" a robots.txt that bars nothing, a target that answered well); for any other row "" is
// nothing known, so that a row as the history kept it before keeps its state.
QString RobotsTxtText(const StoredRow &row);
QString TargetFailureText(const StoredRow &row, const LinkEvidence &link);
// And back, once the row's links (their failures read as for a page read for its worth) and
// outbound links are read.
void ReadKnown(StoredRow &row, const QString &robotsTxt);
std::optional<QString> KnownFromText(const QString &text, bool read);

// The stored outcome of a judged row. The one place that reads RowEvidence for it.
StoredOutcome OutcomeOf(const RowEvidence &evidence);
// A judged row of a run as the history keeps it, and back: the row with the evidence it was
// judged on, as far as the history keeps it (not the page's size, redirects or time taken).
StoredRow ToStoredRow(const ResultRow &row);
ResultRow FromStoredRow(const StoredRow &row);
// A page an export listed, as a run of source 导入 keeps it, unfetched: 有效 with the export's
// links, passing weight when one of them is not nofollow.
StoredRow ExportedRow(int number, const ExportedPage &page, const QDateTime &listedAt);

// The names the database holds ("search", "passes-weight", "completed", ...) and back; nothing
// for a name this program does not know.
QString SourceName(RunSource source);
std::optional<RunSource> SourceFromName(const QString &name);
QString OutcomeName(StoredOutcome outcome);
std::optional<StoredOutcome> OutcomeFromName(const QString &name);
QString RunOutcomeName(RunOutcome outcome);
std::optional<RunOutcome> RunOutcomeFromName(const QString &name);

inline bool IsValid(StoredOutcome outcome)
{
    return outcome == StoredOutcome::PassesWeight || outcome == StoredOutcome::NoWeight;
}

// In Chinese, as the window and the command line show them.
QString SourceWord(RunSource source);              // 搜索, 地址列表, 复查
QString OutcomeWord(StoredOutcome outcome);        // 有效，传递权重 ...
QString RunOutcomeWord(const StoredRun &run);      // 完成, 已停止, ..., 中断
QString HistoryFailureText(const QString &reason); // 历史记录无法保存：<reason>
// What the check found on a stored row, in one line: "HTTP 404", "连接超时", "HTTP 200，链接 … ".
QString EvidenceSummary(const StoredRow &row);

} // namespace vantorel
