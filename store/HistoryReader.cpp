#include "HistoryReader.h"

#include "HistoryDatabase.h"

#include <QFileInfo>
#include <QSqlDatabase>

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace vantorel {

namespace {

const QString kRunColumns =
    QStringLiteral("SELECT id, domain_name, source, started_at, ended_at, outcome, count_text FROM run");
const QString kUnreachable = QStringLiteral("unreachable");

QDateTime TimeOf(const QVariant &millis)
{
    return millis.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(millis.toLongLong());
}

StoredOutcome OutcomeOf(const QVariant &name)
{
    return OutcomeFromName(name.toString()).value_or(StoredOutcome::Unreachable);
}

StoredRun RunOf(const QSqlQuery &query)
{
    StoredRun run;
    run.id = query.value(0).toLongLong();
    run.domain = query.value(1).toString();
    run.source = SourceFromName(query.value(2).toString()).value_or(RunSource::Search);
    run.startedAt = TimeOf(query.value(3));
    run.endedAt = TimeOf(query.value(4));
    if (!query.value(5).isNull())
        run.outcome = RunOutcomeFromName(query.value(5).toString()).value_or(RunOutcome::Stopped);
    if (!query.value(6).isNull())
        run.countText = query.value(6).toString();
    return run;
}

// "nofollow, ugc" and the like, as RelText and RobotsText write them.
bool HasToken(const QString &tokens, QStringView token)
{
    return tokens.split(QStringLiteral(", ")).contains(token);
}

} // namespace

void RowCounts::Add(StoredOutcome outcome)
{
    ++rows;
    if (IsValid(outcome))
        ++valid;
    else if (outcome == StoredOutcome::Removed)
        ++removed;
    else
        ++unreachable;
}

// The statements of one read; the first failure is kept, and every statement after it answers
// nothing.
class HistoryReader::Session {
public:
    explicit Session(const QSqlDatabase &db) : db_(db) {}

    QSqlQuery Prepare(const QString &sql)
    {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!error_.isValid() && !query.prepare(sql))
            error_ = query.lastError();
        return query;
    }

    bool Exec(QSqlQuery &query, std::initializer_list<QVariant> values)
    {
        return !error_.isValid() && ExecBound(query, values, error_);
    }

    QSqlQuery Select(const QString &sql, std::initializer_list<QVariant> values)
    {
        QSqlQuery query = Prepare(sql);
        Exec(query, values);
        return query;
    }

    // One domain's runs, oldest first.
    std::vector<StoredRun> Runs(const QString &domain)
    {
        std::vector<StoredRun> runs;
        QSqlQuery query = Select(kRunColumns + QStringLiteral(" WHERE domain_name = ? ORDER BY id"), {domain});
        while (query.next())
            runs.push_back(RunOf(query));
        return runs;
    }

    std::optional<StoredRun> Run(qint64 runId)
    {
        QSqlQuery query = Select(kRunColumns + QStringLiteral(" WHERE id = ?"), {runId});
        return query.next() ? std::optional(RunOf(query)) : std::nullopt;
    }

    std::vector<AddressCheck> States(qint64 runId)
    {
        std::vector<AddressCheck> states;
        QSqlQuery query = Select(QStringLiteral("SELECT row_no, address, outcome, checked_at FROM run_row "
                                                "WHERE run_id = ? ORDER BY row_no, id"),
                                 {runId});
        while (query.next())
            states.push_back({query.value(0).toInt(), query.value(1).toString(), OutcomeOf(query.value(2)),
                              std::nullopt, TimeOf(query.value(3))});
        return states;
    }

    // Fills in the last reachable outcome of unreachable rows of the domain; runIds: the run of
    // each row.
    void AddLastReachable(const QString &domain, const std::vector<qint64> &runIds, std::vector<AddressCheck> &states)
    {
        QSqlQuery query = Prepare(QStringLiteral("SELECT outcome FROM run_row WHERE domain_name = ? AND address = ? "
                                                 "AND run_id < ? AND outcome <> ? ORDER BY run_id DESC"));
        for (std::size_t i = 0; i < states.size(); ++i) {
            AddressCheck &state = states[i];
            if (state.outcome == StoredOutcome::Unreachable &&
                Exec(query, {domain, state.address, runIds[i], kUnreachable}) && query.next())
                state.lastReachable = OutcomeOf(query.value(0));
        }
    }

    const QSqlError &Error() const { return error_; }

private:
    QSqlDatabase db_;
    QSqlError error_;
};

HistoryReader::HistoryReader(QString path) : connection_(std::move(path), QStringLiteral("history-reader")) {}

HistoryReader::~HistoryReader() = default;

template <typename Reading>
bool HistoryReader::Read(Reading reading)
{
    error_.clear();
    if (!QFileInfo::exists(connection_.Path()))
        return false;
    error_ = connection_.Open();
    if (!error_.isEmpty())
        return false;
    QSqlDatabase db = connection_.Database();
    if (!db.transaction()) {
        error_ = StoreFailureReason(db.lastError(), connection_.Path());
        return false;
    }
    QSqlError error;
    {
        Session session(db);
        reading(session);
        error = session.Error();
    }
    db.rollback();
    if (!error.isValid())
        return true;
    error_ = StoreFailureReason(error, connection_.Path());
    return false;
}

std::vector<DomainSummary> HistoryReader::Domains()
{
    std::vector<DomainSummary> domains;
    const bool read = Read([&](Session &session) {
        QSqlQuery query = session.Select(
            QStringLiteral("SELECT domain_name, COUNT(*), MAX(id) FROM run GROUP BY domain_name"), {});
        std::vector<qint64> latest;
        while (query.next()) {
            domains.push_back({query.value(0).toString(), query.value(1).toInt(), {}});
            latest.push_back(query.value(2).toLongLong());
        }
        for (std::size_t i = 0; i < domains.size(); ++i) {
            RunSummary &last = domains[i].last;
            last.run = session.Run(latest[i]).value_or(StoredRun{});
            for (const AddressCheck &state : session.States(latest[i]))
                last.Add(state.outcome);
        }
    });
    if (!read)
        return {};
    // Ids go up as runs start.
    std::sort(domains.begin(), domains.end(),
              [](const DomainSummary &a, const DomainSummary &b) { return a.last.run.id > b.last.run.id; });
    return domains;
}

std::vector<RunSummary> HistoryReader::Runs(const QString &domain)
{
    std::vector<StoredRun> runs;
    std::vector<std::vector<AddressCheck>> states;
    const bool read = Read([&](Session &session) {
        runs = session.Runs(domain);
        states.resize(runs.size());
        // Only what the counts and the losses need.
        QSqlQuery query = session.Select(QStringLiteral("SELECT r.run_id, r.address, r.outcome "
                                                        "FROM run u JOIN run_row r ON r.run_id = u.id "
                                                        "WHERE u.domain_name = ? ORDER BY u.id, r.row_no, r.id"),
                                         {domain});
        std::size_t at = 0;
        while (query.next()) {
            const qint64 runId = query.value(0).toLongLong();
            while (at < runs.size() && runs[at].id != runId)
                ++at;
            if (at == runs.size())
                break;
            states[at].push_back({0, query.value(1).toString(), OutcomeOf(query.value(2)), std::nullopt, {}});
        }
    });
    if (!read)
        return {};

    // Each address's latest reachable outcome before the run at hand, as the runs go by.
    QHash<QString, StoredOutcome> lastReachable;
    std::unordered_map<qint64, std::size_t> indexOf;
    std::vector<RunSummary> summaries(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        indexOf.emplace(runs[i].id, i);
        RunSummary &summary = summaries[i];
        summary.run = runs[i];
        for (AddressCheck &state : states[i]) {
            summary.Add(state.outcome);
            if (state.outcome == StoredOutcome::Unreachable)
                if (const auto found = lastReachable.constFind(state.address); found != lastReachable.cend())
                    state.lastReachable = *found;
        }
        for (const AddressCheck &state : states[i])
            if (state.outcome != StoredOutcome::Unreachable)
                lastReachable.insert(state.address, state.outcome);
        if (const StoredRun *previous = PreviousRun(runs, runs[i])) {
            const std::vector<RowChange> changes = CompareRuns(states[indexOf.at(previous->id)], states[i],
                                                               runs[i].source, runs[i].outcome == RunOutcome::Completed);
            summary.lost = static_cast<int>(std::count_if(changes.begin(), changes.end(), [](const RowChange &change) {
                return change.kind == ChangeKind::Lost;
            }));
        }
    }
    std::reverse(summaries.begin(), summaries.end());
    return summaries;
}

std::optional<StoredRun> HistoryReader::Run(qint64 runId)
{
    std::optional<StoredRun> run;
    Read([&](Session &session) { run = session.Run(runId); });
    return run;
}

std::vector<StoredRow> HistoryReader::Rows(qint64 runId)
{
    std::vector<StoredRow> rows;
    const bool read = Read([&](Session &session) {
        std::unordered_map<qint64, std::size_t> indexOf;
        QSqlQuery query = session.Select(
            QStringLiteral("SELECT id, row_no, address, final_address, verdict, outcome, http_status, failure_cause, "
                           "attempts, charset, robots, checked_at FROM run_row WHERE run_id = ? ORDER BY row_no, id"),
            {runId});
        while (query.next()) {
            StoredRow row;
            row.number = query.value(1).toInt();
            row.address = query.value(2).toString();
            row.finalUrl = query.value(3).toString();
            row.verdict = query.value(4).toString();
            row.outcome = OutcomeOf(query.value(5));
            row.httpStatus = static_cast<long>(query.value(6).toLongLong());
            row.failureCause = query.value(7).toString();
            row.attempts = query.value(8).toInt();
            row.charset = query.value(9).toString();
            const QString robots = query.value(10).toString();
            row.robots.noindex = HasToken(robots, u"noindex");
            row.robots.nofollow = HasToken(robots, u"nofollow");
            row.checkedAt = TimeOf(query.value(11));
            indexOf.emplace(query.value(0).toLongLong(), rows.size());
            rows.push_back(std::move(row));
        }
        query = session.Select(QStringLiteral("SELECT l.row_id, l.url, l.anchor, l.rel FROM row_link l "
                                              "JOIN run_row r ON r.id = l.row_id WHERE r.run_id = ? "
                                              "ORDER BY l.row_id, l.link_number"),
                               {runId});
        while (query.next()) {
            const QString rel = query.value(3).toString();
            LinkEvidence link{query.value(1).toString(), query.value(2).toString(), HasToken(rel, u"nofollow"),
                              HasToken(rel, u"ugc"), HasToken(rel, u"sponsored")};
            if (const auto found = indexOf.find(query.value(0).toLongLong()); found != indexOf.end())
                rows[found->second].links.push_back(std::move(link));
        }
    });
    return read ? rows : std::vector<StoredRow>{};
}

std::optional<RunChanges> HistoryReader::Changes(qint64 runId)
{
    std::optional<RunChanges> result;
    const bool read = Read([&](Session &session) {
        const std::optional<StoredRun> run = session.Run(runId);
        if (!run)
            return;
        result.emplace().run = *run;
        const std::vector<StoredRun> runs = session.Runs(run->domain);
        const StoredRun *previous = PreviousRun(runs, *run);
        if (!previous)
            return;
        result->previous = *previous;
        std::vector<AddressCheck> before = session.States(previous->id);
        session.AddLastReachable(run->domain, std::vector<qint64>(before.size(), previous->id), before);
        result->changes =
            CompareRuns(before, session.States(run->id), run->source, run->outcome == RunOutcome::Completed);
    });
    return read ? result : std::nullopt;
}

QHash<QString, AddressCheck> HistoryReader::LastChecks(const QString &domain, const QStringList &addresses,
                                                   qint64 beforeRun)
{
    QHash<QString, AddressCheck> checks;
    const bool read = Read([&](Session &session) {
        const qint64 before = beforeRun > 0 ? beforeRun : std::numeric_limits<qint64>::max();
        std::vector<AddressCheck> found;
        std::vector<qint64> runOf;
        QSqlQuery query = session.Prepare(QStringLiteral("SELECT run_id, row_no, outcome, checked_at FROM run_row "
                                                         "WHERE domain_name = ? AND address = ? AND run_id < ? "
                                                         "ORDER BY run_id DESC"));
        for (const QString &address : addresses)
            if (session.Exec(query, {domain, address, before}) && query.next()) {
                found.push_back({query.value(1).toInt(), address, OutcomeOf(query.value(2)), std::nullopt,
                                 TimeOf(query.value(3))});
                runOf.push_back(query.value(0).toLongLong());
            }
        query.finish();
        session.AddLastReachable(domain, runOf, found);
        for (AddressCheck &state : found)
            checks.insert(state.address, std::move(state));
    });
    return read ? checks : QHash<QString, AddressCheck>{};
}

QStringList HistoryReader::KnownValidAddresses(const QString &domain)
{
    QStringList addresses;
    const bool read = Read([&](Session &session) {
        QSqlQuery query = session.Select(QStringLiteral("SELECT address FROM run_row WHERE domain_name = ? "
                                                        "AND outcome IN (?, ?) GROUP BY address ORDER BY MIN(id)"),
                                         {domain, OutcomeName(StoredOutcome::PassesWeight),
                                          OutcomeName(StoredOutcome::NoWeight)});
        while (query.next())
            addresses << query.value(0).toString();
    });
    return read ? addresses : QStringList{};
}

} // namespace vantorel
