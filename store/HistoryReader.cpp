#include "HistoryReader.h"

#include "HistoryDatabase.h"
#include "ServerAddress.h"

#include <Domain.h>

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlDatabase>

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace vantorel {

namespace {

const QString kRunColumns =
    QStringLiteral("SELECT id, domain_name, source, started_at, ended_at, outcome, count_text, end_order FROM run");
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
    if (!query.value(7).isNull())
        run.endOrder = query.value(7).toLongLong();
    return run;
}

// "nofollow, ugc" and the like, as RelText and RobotsText write them.
bool HasToken(const QString &tokens, QStringView token)
{
    return tokens.split(QStringLiteral(", ")).contains(token);
}


} // namespace

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

    std::vector<StoredRow> Rows(qint64 runId)
    {
        std::vector<StoredRow> rows;
        std::unordered_map<qint64, std::size_t> indexOf;
        QSqlQuery query = Select(
            QStringLiteral("SELECT r.id, r.row_no, r.address, s.final_address, s.verdict, s.outcome, s.http_status, "
                           "s.failure_cause, s.attempts, s.charset, s.robots, r.checked_at, s.page_had, s.failed_attempts "
                           "FROM run_row r JOIN row_state s ON s.id = r.state_id WHERE r.run_id = ? ORDER BY r.row_no, r.id"),
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
            row.pageHad = query.value(12).toInt() != 0;
            row.failedAttempts = query.value(13).toString().split(u'\n', Qt::SkipEmptyParts);
            indexOf.emplace(query.value(0).toLongLong(), rows.size());
            rows.push_back(std::move(row));
        }
        // Not the same query object: a server's driver frees the statement it replaces with a
        // statement of its own, which would cut short the rows of the query being read.
        QSqlQuery links = Select(QStringLiteral("SELECT r.id, l.url, l.anchor, l.rel FROM run_row r "
                                                "JOIN state_link l ON l.state_id = r.state_id WHERE r.run_id = ? "
                                                "ORDER BY r.id, l.link_number"),
                                 {runId});
        while (links.next()) {
            const QString rel = links.value(3).toString();
            LinkEvidence link{links.value(1).toString(), links.value(2).toString(), HasToken(rel, u"nofollow"),
                              HasToken(rel, u"ugc"), HasToken(rel, u"sponsored")};
            if (const auto found = indexOf.find(links.value(0).toLongLong()); found != indexOf.end())
                rows[found->second].links.push_back(std::move(link));
        }
        return rows;
    }

    std::vector<AddressCheck> Checks(qint64 runId)
    {
        std::vector<AddressCheck> checks;
        for (const StoredRow &row : Rows(runId))
            checks.push_back(CheckOf(row));
        return checks;
    }

    // The pasts of the addresses in the site's history: their checks in the runs completed
    // within the horizon, made before checkedBefore.
    QHash<QString, AddressPast> Pasts(const QString &domain, const QStringList &addresses, qint64 horizon,
                                      const QDateTime &checkedBefore)
    {
        // An address listed twice in a run counts by its first row.
        const QString latest = QStringLiteral("SELECT r.state_id, r.row_no, s.outcome, r.checked_at FROM run_row r "
                                              "JOIN run u ON u.id = r.run_id JOIN row_state s ON s.id = r.state_id "
                                              "WHERE r.domain_name = ? AND r.address = ? "
                                              "AND u.end_order < ? AND r.checked_at < ? %1 "
                                              "ORDER BY u.end_order DESC, r.row_no, r.id");
        QSqlQuery last = Prepare(latest.arg(QString()));
        QSqlQuery reachable = Prepare(latest.arg(QStringLiteral("AND s.outcome <> ?")));
        QSqlQuery anchors = Prepare(QStringLiteral("SELECT anchor, url FROM state_link WHERE state_id = ? ORDER BY link_number"));
        const QVariant before = checkedBefore.isValid() ? checkedBefore.toMSecsSinceEpoch()
                                                        : std::numeric_limits<qint64>::max();
        const auto checkOf = [&](QSqlQuery &query, const QString &address) {
            AddressCheck check{.number = query.value(1).toInt(), .address = address, .outcome = OutcomeOf(query.value(2)),
                               .checkedAt = TimeOf(query.value(3))};
            const qint64 stateId = query.value(0).toLongLong();
            query.finish();
            if (Exec(anchors, {stateId}))
                while (anchors.next()) {
                    check.anchors << anchors.value(0).toString();
                    check.targets << anchors.value(1).toString();
                }
            return check;
        };
        QHash<QString, AddressPast> pasts;
        for (const QString &address : addresses) {
            if (pasts.contains(address) || !Exec(last, {domain, address, horizon, before}) || !last.next())
                continue;
            AddressPast &past = pasts[address];
            past.last = checkOf(last, address);
            if (past.last->outcome != StoredOutcome::Unreachable)
                past.lastReachable = past.last;
            else if (Exec(reachable, {domain, address, horizon, before, kUnreachable}) && reachable.next())
                past.lastReachable = checkOf(reachable, address);
        }
        return pasts;
    }

    // The run's changes, each address against its own past.
    RunChanges Changes(const StoredRun &run)
    {
        RunChanges changes{run, std::nullopt, {}};
        const std::vector<StoredRun> runs = Runs(run.domain);
        const auto at = std::lower_bound(runs.begin(), runs.end(), run.id,
                                         [](const StoredRun &candidate, qint64 id) { return candidate.id < id; });
        if (at != runs.begin())
            changes.previous = *std::prev(at);
        const std::vector<AddressCheck> rows = Checks(run.id);
        QStringList addresses;
        for (const AddressCheck &row : rows)
            addresses << row.address;
        const StoredRun *search = PreviousSearch(runs, run);
        const std::optional<std::vector<AddressCheck>> listed =
            search ? std::optional(Checks(search->id)) : std::nullopt;
        changes.changes = ChangesOfRun(run, rows, Pasts(run.domain, addresses, Horizon(runs, run), {}),
                                       listed ? &*listed : nullptr, PreviousSearch(runs, run, true) != nullptr);
        return changes;
    }

    const QSqlError &Error() const { return error_; }

private:
    QSqlDatabase db_;
    QSqlError error_;
};

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

HistoryReader::HistoryReader(QString path) : connection_(std::move(path), QStringLiteral("history-reader"), true) {}

HistoryReader::~HistoryReader() = default;

template <typename Reading>
bool HistoryReader::Read(Reading reading)
{
    const QString &path = connection_.Path();
    if (!IsServerLocation(path) && !QFileInfo::exists(path)) {
        error_.clear();
        return false;
    }
    error_ = connection_.Open();
    if (!error_.isEmpty())
        return false;
    QSqlError error;
    {
        QSqlDatabase db = connection_.Database();
        const ServerDeadline deadline(db);
        if (BeginReading(db, error)) {
            Session session(db);
            reading(session);
            error = session.Error();
        }
        db.rollback();
        deadline.Explain(error);
    }
    if (!error.isValid())
        return true;
    error_ = StoreFailureReason(error, path);
    connection_.Close(); // the next read connects afresh: a server's connection may be gone
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
            QSqlQuery outcomes = session.Select(QStringLiteral("SELECT s.outcome FROM run_row r JOIN row_state s ON s.id = r.state_id WHERE r.run_id = ?"), {latest[i]});
            while (outcomes.next())
                last.Add(OutcomeOf(outcomes.value(0)));
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
    std::vector<std::vector<AddressCheck>> checks;
    const bool read = Read([&](Session &session) {
        runs = session.Runs(SiteKey(domain));
        checks.resize(runs.size());
        // Only what the counts and the losses need: of the links, how many (a link that became a
        // mention is lost).
        QSqlQuery query = session.Select(QStringLiteral("SELECT r.run_id, r.address, s.outcome, "
                                                        "(SELECT COUNT(*) FROM state_link l WHERE l.state_id = r.state_id) "
                                                        "FROM run u JOIN run_row r ON r.run_id = u.id "
                                                        "JOIN row_state s ON s.id = r.state_id "
                                                        "WHERE u.domain_name = ? ORDER BY u.id, r.row_no, r.id"),
                                         {SiteKey(domain)});
        std::size_t at = 0;
        while (query.next()) {
            const qint64 runId = query.value(0).toLongLong();
            while (at < runs.size() && runs[at].id != runId)
                ++at;
            if (at == runs.size())
                break;
            checks[at].push_back({.address = query.value(1).toString(), .outcome = OutcomeOf(query.value(2)),
                                  .anchors = QStringList(query.value(3).toInt(), QString())});
        }
    });
    if (!read)
        return {};

    SiteHistory history;
    std::vector<RunSummary> summaries(runs.size());
    for (const std::size_t i : ReplayOrder(runs)) {
        RunSummary &summary = summaries[i];
        summary.run = runs[i];
        for (const AddressCheck &check : checks[i])
            summary.Add(check.outcome);
        const std::vector<RowChange> changes = history.Add(runs[i], checks[i]);
        summary.lost = static_cast<int>(std::count_if(changes.begin(), changes.end(), [](const RowChange &change) {
            return IsLoss(change.kind);
        }));
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
    const bool read = Read([&](Session &session) { rows = session.Rows(runId); });
    return read ? rows : std::vector<StoredRow>{};
}

std::optional<RunChanges> HistoryReader::Changes(qint64 runId)
{
    std::optional<RunChanges> result;
    const bool read = Read([&](Session &session) {
        if (const std::optional<StoredRun> run = session.Run(runId))
            result = session.Changes(*run);
    });
    return read ? result : std::nullopt;
}

QHash<QString, AddressPast> HistoryReader::LastChecks(const QString &domain, const QStringList &addresses,
                                                      qint64 beforeRun, const QDateTime &checkedBefore)
{
    QHash<QString, AddressPast> pasts;
    const bool read = Read([&](Session &session) {
        qint64 horizon = std::numeric_limits<qint64>::max();
        if (beforeRun > 0) {
            const std::vector<StoredRun> runs = session.Runs(SiteKey(domain));
            const auto found = std::find_if(runs.begin(), runs.end(), [beforeRun](const StoredRun &run) { return run.id == beforeRun; });
            StoredRun unnamed;
            unnamed.id = beforeRun;
            horizon = Horizon(runs, found == runs.end() ? unnamed : *found);
        }
        pasts = session.Pasts(SiteKey(domain), addresses, horizon, checkedBefore);
    });
    return read ? pasts : QHash<QString, AddressPast>{};
}

QStringList HistoryReader::KnownValidAddresses(const QString &domain)
{
    QStringList addresses;
    const bool read = Read([&](Session &session) {
        // In the order they were first found: rows are stored as they are judged, not in row order.
        QSqlQuery query = session.Select(QStringLiteral("SELECT address FROM (SELECT r.address, r.run_id, r.row_no, ROW_NUMBER() OVER "
                                                        "(PARTITION BY r.address ORDER BY r.run_id, r.row_no) AS nth FROM run_row r "
                                                        "JOIN row_state s ON s.id = r.state_id "
                                                        "WHERE r.domain_name = ? AND s.outcome IN (?, ?)) AS first_found "
                                                        "WHERE nth = 1 ORDER BY run_id, row_no"),
                                         {SiteKey(domain), OutcomeName(StoredOutcome::PassesWeight),
                                          OutcomeName(StoredOutcome::NoWeight)});
        while (query.next())
            addresses << query.value(0).toString();
    });
    return read ? addresses : QStringList{};
}

} // namespace vantorel
