#include "HistoryReader.h"

#include "HistoryDatabase.h"
#include "ServerAddress.h"

#include <Domain.h>

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlDatabase>

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <span>
#include <set>
#include <unordered_map>

namespace vantorel {

namespace {

const QString kRunColumns =
    QStringLiteral("SELECT id, domain_name, source, started_at, ended_at, outcome, count_text, end_order, confirm_checks FROM run");
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
    run.confirmChecks = query.value(8).toInt();
    return run;
}

// Whether a loss of the site waited for more than one check: else each removal after a check
// 有效 was told at once, and no past needs its removals counted.
bool Confirming(const std::vector<StoredRun> &runs)
{
    return std::any_of(runs.begin(), runs.end(), [](const StoredRun &run) { return run.confirmChecks > 1; });
}

// Whether removals in a row were told as a loss: by the first whose count reached what its run
// asked for. confirmChecks: of each removal's run, in order.
bool LossTold(const std::vector<int> &confirmChecks)
{
    for (std::size_t miss = 1; miss <= confirmChecks.size(); ++miss)
        if (static_cast<int>(miss) >= confirmChecks[miss - 1])
            return true;
    return false;
}

// "nofollow, ugc" and the like, as RelText and RobotsText write them.
bool HasToken(const QString &tokens, QStringView token)
{
    return tokens.split(QStringLiteral(", ")).contains(token);
}

// A stored link: its target, anchor, rel and target's failure in the query's columns from the
// first, the failure as a page read for its worth keeps it (ReadKnown mends the others).
LinkEvidence LinkOf(const QSqlQuery &query, int first)
{
    const QString rel = query.value(first + 2).toString();
    return {query.value(first).toString(), query.value(first + 1).toString(), HasToken(rel, u"nofollow"),
            HasToken(rel, u"ugc"), HasToken(rel, u"sponsored"), KnownFromText(query.value(first + 3).toString(), true)};
}

// What a state holds of its page's worth: its robots, canonical, robots_txt and outbound_links
// columns from the first; the links' target failures are read with the links.
PageValue ValueOf(const QSqlQuery &query, int first)
{
    const bool read = !query.value(first + 3).isNull();
    return {HasToken(query.value(first).toString(), u"noindex"), query.value(first + 1).toString(),
            KnownFromText(query.value(first + 2).toString(), read),
            read ? std::optional(query.value(first + 3).toInt()) : std::nullopt};
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
        std::map<std::pair<qint64, int>, std::size_t> indexOf; // address, row → index
        QStringList robotsTxts;                                // of each row, as kept
        QSqlQuery query = Select(
            QStringLiteral("SELECT c.address_id, c.row_no, a.address, s.final_address, s.verdict, s.outcome, s.http_status, "
                           "s.failure_cause, s.attempts, s.charset, s.robots, c.checked_at, s.page_had, s.failed_attempts, "
                           "s.rendered, s.render_failure, s.canonical, s.robots_txt, s.outbound_links "
                           "FROM run_check c JOIN address a ON a.id = c.address_id JOIN row_state s ON s.id = c.state_id "
                           "WHERE c.run_id = ? ORDER BY c.row_no, c.address_id"),
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
            row.rendered = query.value(14).toInt() != 0;
            row.renderFailure = query.value(15).toString();
            row.canonical = query.value(16).toString();
            robotsTxts.push_back(query.value(17).toString());
            if (!query.value(18).isNull())
                row.outboundLinks = query.value(18).toInt();
            indexOf.emplace(std::pair(query.value(0).toLongLong(), row.number), rows.size());
            rows.push_back(std::move(row));
        }
        // Not the same query object: a server's driver frees the statement it replaces with a
        // statement of its own, which would cut short the rows of the query being read.
        QSqlQuery links = Select(QStringLiteral("SELECT c.address_id, c.row_no, l.url, l.anchor, l.rel, l.target_failure "
                                                "FROM run_check c "
                                                "JOIN state_link l ON l.state_id = c.state_id WHERE c.run_id = ? "
                                                "ORDER BY c.address_id, c.row_no, l.link_number"),
                                 {runId});
        while (links.next())
            if (const auto found = indexOf.find({links.value(0).toLongLong(), links.value(1).toInt()}); found != indexOf.end())
                rows[found->second].links.push_back(LinkOf(links, 2));
        for (std::size_t i = 0; i < rows.size(); ++i)
            ReadKnown(rows[i], robotsTxts[static_cast<qsizetype>(i)]);
        return rows;
    }

    // A check without its links, and what its links and evidence are read by.
    struct BareCheck {
        AddressCheck check;
        qint64 state = 0;
        long httpStatus = 0;
        QString failureCause;

        StoredRow Whole(const std::unordered_map<qint64, std::vector<LinkEvidence>> &linksOf) const
        {
            StoredRow row;
            row.number = check.number;
            row.address = check.address;
            row.outcome = check.outcome;
            row.httpStatus = httpStatus;
            row.failureCause = failureCause;
            row.checkedAt = check.checkedAt;
            row.robots.noindex = check.value.noindex;
            row.canonical = check.value.canonical;
            row.robotsTxt = check.value.robotsTxt;
            row.outboundLinks = check.value.outboundLinks;
            if (const auto links = linksOf.find(state); links != linksOf.end())
                row.links = links->second;
            return row;
        }
    };

    // A run's checks, each address's first in row order, without their links.
    std::vector<BareCheck> FirstChecks(qint64 runId)
    {
        std::vector<BareCheck> checks;
        checks.reserve(static_cast<std::size_t>(Counts(runId).rows)); // 100,000 would grow by copies to 130,000
        QSet<QString> seen;
        QSqlQuery query = Select(
            QStringLiteral("SELECT c.row_no, a.address, s.outcome, s.http_status, s.failure_cause, c.checked_at, c.state_id, "
                           "s.robots, s.canonical, s.robots_txt, s.outbound_links FROM run_check c JOIN address a ON a.id = c.address_id JOIN row_state s ON s.id = c.state_id "
                           "WHERE c.run_id = ? ORDER BY c.row_no, c.address_id"),
            {runId});
        while (query.next()) {
            QString address = query.value(1).toString();
            if (seen.contains(address))
                continue;
            seen.insert(address);
            checks.push_back({{.number = query.value(0).toInt(), .address = std::move(address), .outcome = OutcomeOf(query.value(2)),
                               .checkedAt = TimeOf(query.value(5)), .value = ValueOf(query, 7)},
                              query.value(6).toLongLong(), static_cast<long>(query.value(3).toLongLong()),
                              query.value(4).toString()});
        }
        return checks;
    }

    // The links of the states, in page order; a state without links is left out.
    std::unordered_map<qint64, std::vector<LinkEvidence>> StateLinks(const std::set<qint64> &states)
    {
        std::vector<QVariantList> ids;
        for (const qint64 state : states)
            ids.push_back({state});
        std::unordered_map<qint64, std::vector<LinkEvidence>> links;
        InPieces(QStringLiteral("SELECT state_id, url, anchor, rel, target_failure FROM state_link WHERE state_id IN (%1) "
                                "ORDER BY state_id, link_number"),
                 {}, ids, [&](const QSqlQuery &query) { links[query.value(0).toLongLong()].push_back(LinkOf(query, 1)); });
        return links;
    }

    std::vector<AddressCheck> Checks(qint64 runId)
    {
        std::vector<AddressCheck> checks;
        for (const StoredRow &row : Rows(runId))
            checks.push_back(CheckOf(row));
        return checks;
    }

    // Runs the statement once for each piece of the items, at most kPiece to a statement:
    // sql holds %1 where the items go, each item as the group with its placeholders, joined by
    // the separator; fixed values are bound first. each(query) for each row answered.
    template <typename Each>
    void InPieces(const QString &sql, const QVariantList &fixed, const std::vector<QVariantList> &items, Each &&each,
                  const QString &group = QStringLiteral("?"), const QString &separator = QStringLiteral(", "))
    {
        constexpr std::size_t kPiece = 64;
        for (std::size_t first = 0; first < items.size(); first += kPiece) {
            const std::size_t count = std::min(kPiece, items.size() - first);
            auto found = pieces_.find({sql, count});
            if (found == pieces_.end())
                found = pieces_.emplace(std::pair(sql, count),
                                        Prepare(sql.arg(QStringList(static_cast<qsizetype>(count), group).join(separator))))
                            .first;
            QSqlQuery &query = found->second;
            for (const QVariant &value : fixed)
                query.addBindValue(value);
            for (std::size_t i = first; i < first + count; ++i)
                for (const QVariant &value : items[i])
                    query.addBindValue(value);
            if (error_.isValid() || !query.exec()) {
                error_ = error_.isValid() ? error_ : query.lastError();
                return;
            }
            while (query.next())
                each(query);
            query.finish();
        }
    }

    // The pasts of the addresses in the site's history: their checks in the runs completed
    // within the horizon, made before checkedBefore. Read from each address's spans, latest
    // first: the check is the latest of the span's runs within the horizon that checked it,
    // which is the span's last when the horizon and the time leave it in.
    // statesOut, when given, gets each address's states of its last and last reachable checks,
    // and of the check before its removals.
    QHash<QString, AddressPast> Pasts(const QString &domain, const QStringList &addresses, qint64 horizon,
                                      const QDateTime &checkedBefore,
                                      QHash<QString, std::array<qint64, 3>> *statesOut = nullptr)
    {
        struct Span {
            qint64 first, last, state;
            StoredOutcome outcome;
            PageValue value;
        };
        struct Found {
            qint64 id = 0;
            std::vector<Span> spans; // latest first
            std::vector<std::pair<const Span *, AddressCheck>> checks;
        };
        std::vector<QVariantList> asked;
        for (const QString &address : QSet<QString>(addresses.begin(), addresses.end()))
            asked.push_back({address});
        QHash<QString, Found> found;
        InPieces(QStringLiteral("SELECT a.address, a.id, s.first_order, s.last_order, s.state_id, t.outcome, t.robots, "
                                "t.canonical, t.robots_txt, t.outbound_links FROM address a "
                                "JOIN state_span s ON s.address_id = a.id JOIN row_state t ON t.id = s.state_id "
                                "WHERE a.domain_name = ? AND s.first_order < ? AND a.address IN (%1) "
                                "ORDER BY a.id, s.first_order DESC"),
                 {domain, horizon}, asked, [&](const QSqlQuery &query) {
                     Found &address = found[query.value(0).toString()];
                     address.id = query.value(1).toLongLong();
                     address.spans.push_back({query.value(2).toLongLong(), query.value(3).toLongLong(),
                                              query.value(4).toLongLong(), OutcomeOf(query.value(5)), ValueOf(query, 6)});
                 });
        // The runs by their place among the completed.
        std::unordered_map<qint64, qint64> runAt;
        const std::vector<StoredRun> runs = Runs(domain);
        for (const StoredRun &run : runs)
            if (run.endOrder)
                runAt.emplace(*run.endOrder, run.id);
        // Removals may wait for more checks: the past reaches back to the check 有效 before them.
        const bool confirming = Confirming(runs);
        const auto pastEnds = [confirming](StoredOutcome outcome) {
            return outcome != StoredOutcome::Unreachable && !(confirming && outcome == StoredOutcome::Removed);
        };
        // The spans whose check is wanted: the latest, and the latest that could be had.
        const qint64 before = checkedBefore.isValid() ? checkedBefore.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
        std::vector<QVariantList> direct; // run, address: the span's last check
        std::map<std::pair<qint64, qint64>, std::pair<QString, const Span *>> wanted;
        for (auto address = found.begin(); address != found.end(); ++address)
            for (const Span &span : address->spans) {
                if (span.last < horizon && runAt.contains(span.last)) {
                    direct.push_back({runAt.at(span.last), address->id});
                    wanted[{runAt.at(span.last), address->id}] = {address.key(), &span};
                }
                if (pastEnds(span.outcome))
                    break;
            }
        // An address listed twice in a run counts by its first row. Each pair is a search of
        // the checks' key, as a row value would not be.
        InPieces(QStringLiteral("SELECT run_id, address_id, row_no, checked_at FROM run_check WHERE %1 "
                                "ORDER BY run_id, address_id, row_no"),
                 {}, direct, [&](const QSqlQuery &query) {
                     const auto at = wanted.find({query.value(0).toLongLong(), query.value(1).toLongLong()});
                     if (at == wanted.end())
                         return;
                     const auto [address, span] = at->second;
                     found[address].checks.push_back({span, {query.value(2).toInt(), address, span->outcome, {}, TimeOf(query.value(3))}});
                     wanted.erase(at);
                 },
                 QStringLiteral("(run_id = ? AND address_id = ?)"), QStringLiteral(" OR "));
        // The horizon or the time cuts into the span: the latest of its runs within them that checked the address.
        QSqlQuery within = Prepare(QStringLiteral("SELECT c.row_no, c.checked_at FROM run u "
                                                  "JOIN run_check c ON c.run_id = u.id AND c.address_id = ? "
                                                  "WHERE u.domain_name = ? AND u.end_order >= ? AND u.end_order <= ? "
                                                  "AND c.checked_at < ? ORDER BY u.end_order DESC, c.row_no LIMIT 1"));
        // The removals after the check 有效 before them, each by its run's confirmation, up to
        // the most any run asks for.
        QSqlQuery removals = Prepare(QStringLiteral("SELECT u.confirm_checks FROM run u "
                                                    "JOIN run_check c ON c.run_id = u.id AND c.address_id = ? "
                                                    "JOIN row_state t ON t.id = c.state_id "
                                                    "WHERE u.domain_name = ? AND u.end_order > ? AND u.end_order < ? "
                                                    "AND c.checked_at < ? AND t.outcome = ? "
                                                    "GROUP BY u.end_order, u.confirm_checks ORDER BY u.end_order LIMIT %1")
                                         .arg(kMostConfirmChecks));
        QHash<QString, AddressPast> pasts;
        // address: the states of its last and last reachable checks, and of the check before its removals
        QHash<QString, std::array<qint64, 3>> statesOf;
        std::set<qint64> states;
        for (auto address = found.begin(); address != found.end(); ++address) {
            AddressPast past;
            std::array<qint64, 3> &pastStates = statesOf[address.key()];
            for (const Span &span : address->spans) {
                if (past.last && span.outcome == StoredOutcome::Unreachable)
                    continue;
                if (past.lastReachable && span.outcome == StoredOutcome::Removed)
                    continue;
                std::optional<AddressCheck> made;
                const auto direct = std::find_if(address->checks.begin(), address->checks.end(),
                                                 [&span](const auto &check) { return check.first == &span; });
                if (direct != address->checks.end() && direct->second.checkedAt.toMSecsSinceEpoch() < before)
                    made = direct->second;
                else if (Exec(within, {address->id, domain, span.first, std::min(span.last, horizon - 1), before}) && within.next())
                    made = AddressCheck{within.value(0).toInt(), address.key(), span.outcome, {}, TimeOf(within.value(1))};
                within.finish();
                if (!made)
                    continue;
                made->value = span.value;
                states.insert(span.state);
                if (!past.last) {
                    past.last = made;
                    pastStates[0] = span.state;
                }
                if (past.lastReachable) { // the check 有效 before the removals
                    std::vector<int> confirmations;
                    if (Exec(removals, {address->id, domain, span.last, horizon, before, OutcomeName(StoredOutcome::Removed)}))
                        while (removals.next())
                            confirmations.push_back(removals.value(0).toInt());
                    removals.finish();
                    if (!LossTold(confirmations)) {
                        past.misses = static_cast<int>(confirmations.size());
                        past.beforeMisses = made;
                        pastStates[2] = span.state;
                    }
                    break;
                }
                if (span.outcome != StoredOutcome::Unreachable) {
                    past.lastReachable = made;
                    pastStates[1] = span.state;
                    if (pastEnds(span.outcome))
                        break;
                }
            }
            if (past.last)
                pasts.insert(address.key(), std::move(past));
        }
        const std::unordered_map<qint64, std::vector<LinkEvidence>> linksOf = StateLinks(states);
        for (auto past = pasts.begin(); past != pasts.end(); ++past) {
            const auto [last, reachable, beforeMisses] = statesOf.value(past.key());
            SetLinks(*past->last, linksOf, last);
            if (past->lastReachable)
                SetLinks(*past->lastReachable, linksOf, reachable);
            if (past->beforeMisses)
                SetLinks(*past->beforeMisses, linksOf, beforeMisses);
        }
        if (statesOut)
            *statesOut = std::move(statesOf);
        return pasts;
    }

    // The check's anchors, targets and targets' failures as the state's links give them.
    static void SetLinks(AddressCheck &check, const std::unordered_map<qint64, std::vector<LinkEvidence>> &linksOf, qint64 state)
    {
        check.anchors.clear();
        check.targets.clear();
        check.value.targetFailures.clear();
        if (const auto links = linksOf.find(state); links != linksOf.end())
            for (const LinkEvidence &link : links->second) {
                check.anchors << link.anchor;
                check.targets << link.url;
                check.value.targetFailures.push_back(link.targetFailure);
            }
    }

    // The run's changes, each address against its own past: a slice of addresses at a time, so
    // that a run of 100,000 never holds all of their pasts at once.
    RunChanges Changes(const StoredRun &run)
    {
        RunChanges changes{run, std::nullopt, {}};
        const std::vector<StoredRun> runs = Runs(run.domain);
        const auto at = std::lower_bound(runs.begin(), runs.end(), run.id,
                                         [](const StoredRun &candidate, qint64 id) { return candidate.id < id; });
        if (at != runs.begin())
            changes.previous = *std::prev(at);
        if (run.source == RunSource::Import)
            return changes; // what an export said is the past of the checks that follow, no change of its own
        std::vector<BareCheck> checks = FirstChecks(run.id);
        constexpr std::size_t kSlice = 5000;
        const bool searchedBefore = PreviousSearch(runs, run, true) != nullptr;
        const QHash<QString, LinkExpectation> expectations = Expectations(run.domain);
        for (std::size_t first = 0; first < checks.size(); first += kSlice)
            SliceChanges(run, std::span(checks).subspan(first, std::min(kSlice, checks.size() - first)), Horizon(runs, run),
                         searchedBefore, expectations, changes.changes);
        if (const StoredRun *search = PreviousSearch(runs, run)) {
            QSet<QString> listed;
            for (const BareCheck &bare : checks)
                listed.insert(bare.check.address);
            const std::vector<RowChange> gone = NoLongerListed(run, listed, Checks(search->id));
            changes.changes.insert(changes.changes.end(), gone.begin(), gone.end());
        }
        return changes;
    }

    // Most checks found what the address's past found: their links are the past's, read with
    // it. Links are read for the other checks, and the whole row made for the changed only.
    void SliceChanges(const StoredRun &run, std::span<const BareCheck> slice, qint64 horizon, bool searchedBefore,
                      const QHash<QString, LinkExpectation> &expectations, std::vector<RowChange> &changes)
    {
        QStringList addresses;
        for (const BareCheck &bare : slice)
            addresses << bare.check.address;
        QHash<QString, std::array<qint64, 3>> pastStates;
        const QHash<QString, AddressPast> pasts = Pasts(run.domain, addresses, horizon, {}, &pastStates);
        std::vector<AddressCheck> rows;
        rows.reserve(slice.size());
        std::set<qint64> unread;
        for (const BareCheck &bare : slice) {
            AddressCheck &row = rows.emplace_back(bare.check);
            const auto past = pasts.constFind(row.address);
            if (past == pasts.cend())
                continue;
            const auto [last, reachable, beforeMisses] = pastStates.value(row.address);
            if (const AddressCheck *same = past->lastReachable && bare.state == reachable ? &*past->lastReachable
                                           : bare.state == last                           ? &*past->last
                                                                                          : nullptr)
                std::tie(row.anchors, row.targets, row.value.targetFailures) =
                    std::tie(same->anchors, same->targets, same->value.targetFailures);
            else
                unread.insert(bare.state);
        }
        std::unordered_map<qint64, std::vector<LinkEvidence>> linksOf = StateLinks(unread);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (unread.contains(slice[i].state))
                SetLinks(rows[i], linksOf, slice[i].state);
        std::vector<RowChange> found = ChangesOfRun(run, rows, pasts, nullptr, searchedBefore, expectations);
        QHash<QString, const BareCheck *> checkOf;
        for (const BareCheck &bare : slice)
            checkOf.insert(bare.check.address, &bare);
        std::set<qint64> changed;
        for (const RowChange &change : found)
            if (!unread.contains(checkOf.value(change.address)->state))
                changed.insert(checkOf.value(change.address)->state);
        linksOf.merge(StateLinks(changed));
        for (RowChange &change : found) {
            change.after = CheckOf(checkOf.value(change.address)->Whole(linksOf));
            changes.push_back(std::move(change));
        }
    }

    // The agreed link of each of the site's addresses that has one.
    QHash<QString, LinkExpectation> Expectations(const QString &domain)
    {
        QHash<QString, LinkExpectation> expectations;
        QSqlQuery query = Select(QStringLiteral("SELECT address, expected_target, expected_anchor, expected_follow FROM address "
                                                "WHERE domain_name = ? AND (expected_target IS NOT NULL OR "
                                                "expected_anchor IS NOT NULL OR expected_follow IS NOT NULL)"),
                                 {domain});
        const auto text = [&query](int column) {
            return query.value(column).isNull() ? std::nullopt : std::optional(query.value(column).toString());
        };
        while (query.next())
            expectations.insert(query.value(0).toString(),
                                {text(1), text(2),
                                 query.value(3).isNull() ? std::nullopt : std::optional(query.value(3).toInt() != 0)});
        return expectations;
    }

    RowCounts Counts(qint64 runId)
    {
        RowCounts counts;
        QSqlQuery query = Select(QStringLiteral("SELECT row_count, valid_count, removed_count, unreachable_count FROM run "
                                                "WHERE id = ?"),
                                 {runId});
        if (query.next())
            counts = {query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt(), query.value(3).toInt()};
        return counts;
    }

    // The losses each run found (RunSummary::lost). A completed run's are where its address's
    // spans start, judged against the spans before; a run that did not complete is judged
    // against the spans within its horizon. Of the links, only how many matter to a loss.
    void CountLosses(const QString &domain, std::vector<RunSummary> &summaries)
    {
        std::vector<StoredRun> runs;
        std::unordered_map<qint64, std::size_t> atPlace;
        for (std::size_t i = 0; i < summaries.size(); ++i) {
            runs.push_back(summaries[i].run);
            if (summaries[i].run.endOrder)
                atPlace.emplace(*summaries[i].run.endOrder, i);
        }
        const auto judge = [](const AddressPast &past, const AddressCheck &now, int confirmChecks) {
            const std::vector<ChangeKind> kinds = ChangesOf(past, now, false, confirmChecks);
            return std::any_of(kinds.begin(), kinds.end(), IsLoss);
        };
        QSqlQuery spans = Select(QStringLiteral("SELECT s.address_id, s.first_order, t.outcome, "
                                                "(SELECT COUNT(*) FROM state_link l WHERE l.state_id = s.state_id) "
                                                "FROM address a JOIN state_span s ON s.address_id = a.id "
                                                "JOIN row_state t ON t.id = s.state_id WHERE a.domain_name = ? "
                                                "ORDER BY s.address_id, s.first_order"),
                                 {domain});
        struct Span {
            qint64 address, first;
            AddressCheck check;
        };
        std::vector<Span> read;
        while (spans.next())
            read.push_back({spans.value(0).toLongLong(), spans.value(1).toLongLong(),
                            {0, {}, OutcomeOf(spans.value(2)), QStringList(spans.value(3).toInt(), QString()), {}}});
        spans.finish();
        // A removal waiting for confirmation is told by the run of the removal that confirmed it.
        const bool confirming = Confirming(runs);
        QSqlQuery removals = Prepare(QStringLiteral("SELECT u.end_order, u.confirm_checks FROM run u "
                                                    "JOIN run_check c ON c.run_id = u.id AND c.address_id = ? "
                                                    "JOIN row_state t ON t.id = c.state_id "
                                                    "WHERE u.domain_name = ? AND u.end_order >= ? AND u.end_order < ? AND t.outcome = ? "
                                                    "GROUP BY u.end_order, u.confirm_checks ORDER BY u.end_order LIMIT %1")
                                         .arg(kMostConfirmChecks));
        const auto told = [&](std::size_t at) -> std::optional<qint64> {
            qint64 until = std::numeric_limits<qint64>::max();
            for (std::size_t next = at + 1; next < read.size() && read[next].address == read[at].address; ++next)
                if (IsValid(read[next].check.outcome)) {
                    until = read[next].first;
                    break;
                }
            if (!Exec(removals, {read[at].address, domain, read[at].first, until, OutcomeName(StoredOutcome::Removed)}))
                return std::nullopt;
            std::optional<qint64> place;
            for (int miss = 1; !place && removals.next(); ++miss)
                if (miss >= removals.value(1).toInt())
                    place = removals.value(0).toLongLong();
            removals.finish();
            return place;
        };
        AddressPast past;
        std::optional<AddressCheck> untold; // the check 有效 before removals never told as lost
        for (std::size_t at = 0; at < read.size(); ++at) {
            if (at == 0 || read[at].address != read[at - 1].address) {
                past = {};
                untold.reset();
            }
            const AddressCheck &now = read[at].check;
            std::optional<qint64> place = read[at].first;
            AddressPast judged = past;
            if (confirming && now.outcome == StoredOutcome::Removed && judge(past, now, 1)) {
                place = told(at);
                if (!place)
                    untold = past.lastReachable;
            } else if (untold && IsValid(now.outcome)) {
                judged.beforeMisses = std::exchange(untold, std::nullopt);
                judged.misses = 1;
            }
            if (const auto run = place ? atPlace.find(*place) : atPlace.end();
                run != atPlace.end() && summaries[run->second].run.source != RunSource::Import && judge(judged, now, 1))
                ++summaries[run->second].lost;
            past.Add(now);
        }
        for (RunSummary &summary : summaries) {
            if (summary.run.endOrder || summary.run.source == RunSource::Import)
                continue;
            QSqlQuery checks = Select(QStringLiteral("SELECT a.address, s.outcome, "
                                                     "(SELECT COUNT(*) FROM state_link l WHERE l.state_id = c.state_id) "
                                                     "FROM run_check c JOIN address a ON a.id = c.address_id "
                                                     "JOIN row_state s ON s.id = c.state_id WHERE c.run_id = ? "
                                                     "ORDER BY c.address_id, c.row_no"),
                                      {summary.run.id});
            std::vector<AddressCheck> rows;
            QStringList addresses;
            while (checks.next()) {
                if (!addresses.isEmpty() && addresses.back() == checks.value(0).toString())
                    continue;
                addresses << checks.value(0).toString();
                rows.push_back({0, addresses.back(), OutcomeOf(checks.value(1)), QStringList(checks.value(2).toInt(), QString()), {}});
            }
            checks.finish();
            const QHash<QString, AddressPast> pasts = Pasts(domain, addresses, Horizon(runs, summary.run), {});
            const AddressPast none;
            summary.lost = static_cast<int>(std::count_if(rows.begin(), rows.end(), [&](const AddressCheck &row) {
                return judge(pasts.value(row.address, none), row, summary.run.confirmChecks);
            }));
        }
    }

    const QSqlError &Error() const { return error_; }

private:
    QSqlDatabase db_;
    QSqlError error_;
    std::map<std::pair<QString, std::size_t>, QSqlQuery> pieces_; // statement, items: prepared
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
            static_cast<RowCounts &>(last) = session.Counts(latest[i]);
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
    std::vector<RunSummary> summaries;
    const bool read = Read([&](Session &session) {
        const QString site = SiteKey(domain);
        for (StoredRun &run : session.Runs(site)) {
            RunSummary summary;
            static_cast<RowCounts &>(summary) = session.Counts(run.id);
            summary.run = std::move(run);
            summaries.push_back(std::move(summary));
        }
        session.CountLosses(site, summaries);
    });
    if (!read)
        return {};
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

QHash<QString, LinkExpectation> HistoryReader::Expectations(const QString &domain)
{
    QHash<QString, LinkExpectation> expectations;
    const bool read = Read([&](Session &session) { expectations = session.Expectations(SiteKey(domain)); });
    return read ? expectations : QHash<QString, LinkExpectation>{};
}

QStringList HistoryReader::KnownValidAddresses(const QString &domain)
{
    QStringList addresses;
    const bool read = Read([&](Session &session) {
        // In the order they were first found; a forgotten address is not re-checked.
        QSqlQuery query = session.Select(QStringLiteral("SELECT address FROM address WHERE domain_name = ? AND found_run IS NOT NULL "
                                                        "AND forgotten = 0 ORDER BY found_run, found_row"),
                                         {SiteKey(domain)});
        while (query.next())
            addresses << query.value(0).toString();
    });
    return read ? addresses : QStringList{};
}

} // namespace vantorel
