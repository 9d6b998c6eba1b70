#include "HistoryWriter.h"

#include "HistoryPrune.h"

#include <Domain.h>

#include <QHash>
#include <QSqlDatabase>

#include <algorithm>
#include <bit>
#include <functional>
#include <iterator>
#include <map>
#include <span>

namespace vantorel {

namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

QVariant Millis(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant(QMetaType(QMetaType::LongLong));
}

// The columns of text are NOT NULL, and Qt binds a null QString as NULL.
QString Text(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// The most rows, links or digests one statement carries: 64 links of 5 values stay far below
// either engine's limit of bound values.
constexpr std::size_t kMostRowsPerStatement = 64;

QSqlQuery Prepared(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    query.prepare(sql);
    return query;
}

} // namespace

// The writer thread's own connection to the store, opened for its first transaction and again
// after a failure; a SQL connection belongs to the thread that made it.
class HistoryWriter::Connection {
public:
    Connection(QString name, QString path, OpenOptions options)
        : name_(std::move(name)), path_(std::move(path)), options_(options)
    {
    }
    ~Connection() { Close(); }

    // Opens the store when needed and starts a transaction that holds the file from its start:
    // its first statement reads the states, and SQLite fails at once, without waiting, a read
    // transaction that tries to write after another program wrote. Why not, or an empty text. A
    // connection kept from before that has gone away meanwhile (a server restarted) is made again.
    QString Begin()
    {
        QSqlError error;
        if (statements_) {
            QSqlDatabase db = Database();
            deadline_.emplace(db);
            if (BeginWriting(db, {}, error))
                return {};
            deadline_.reset();
        }
        Close();
        if (QString reason = OpenHistory(name_, path_, options_); !reason.isEmpty())
            return reason;
        QSqlDatabase db = Database();
        deadline_.emplace(db);
        statements_.emplace(db);
        if (BeginWriting(db, {}, error))
            return {};
        db = QSqlDatabase();
        return Forget(error);
    }

    QString Commit()
    {
        QSqlError error;
        {
            QSqlDatabase db = Database();
            if (ExecTransaction(db, QStringLiteral("COMMIT"), error)) {
                deadline_.reset();
                return {};
            }
            db.rollback();
        }
        return Forget(error);
    }

    // Each fills in the error when it fails.
    bool InsertRun(const StoredRun &run, qint64 &id, QSqlError &error)
    {
        if (!ExecBound(statements_->insertRun, {run.domain, SourceName(run.source), Millis(run.startedAt), run.confirmChecks},
                       error))
            return false;
        return TakeId(statements_->insertRun, id, error);
    }

    // Rows of one run, many to a statement. What a row found is kept once, with its links, and
    // shared by every row that found the same; its address is kept once for the site. A
    // re-check that found what the one before it did adds a few integers. A row checked again
    // in the same run replaces its first check.
    bool InsertRows(qint64 runId, RunState &run, std::span<const StoredRow *const> all, QSqlError &error)
    {
        std::map<std::pair<QString, int>, const StoredRow *> last;
        for (const StoredRow *row : all)
            last[{Text(row->address), row->number}] = row;
        std::vector<const StoredRow *> rows;
        for (const StoredRow *row : all)
            if (last.at({Text(row->address), row->number}) == row)
                rows.push_back(row);
        std::vector<qint64> states, addresses;
        if (!StateIds(rows, states, error) || !AddressIds(runId, run, rows, addresses, error))
            return false;
        enum RowClass { kValid, kRemoved, kUnreachable, kRows };
        int counts[4] = {};
        const bool inserted = InsertMany(Statements::kRows, rows.size(), error, [&](QSqlQuery &insert, std::size_t i) {
            const StoredRow &row = *rows[i];
            const int kind = IsValid(row.outcome) ? kValid : row.outcome == StoredOutcome::Removed ? kRemoved : kUnreachable;
            const auto [before, made] = run.written.try_emplace({Text(row.address), row.number}, kind);
            run.changed.emplace_back(before->first, made ? std::nullopt : std::optional(before->second));
            if (made)
                ++counts[kRows];
            else
                --counts[std::exchange(before->second, kind)];
            ++counts[kind];
            for (const QVariant &value : {QVariant(runId), QVariant(addresses[i]), QVariant(row.number), QVariant(states[i]),
                                          Millis(row.checkedAt)})
                insert.addBindValue(value);
        });
        return inserted && ExecBound(statements_->countRows, {counts[kRows], counts[kValid], counts[kRemoved], counts[kUnreachable], runId},
                         error);
    }

    // The id of each row's address, stored when the site never had it. Where the address was
    // first found 有效 follows the rows; an address the engine or a list names again is no
    // longer forgotten.
    bool AddressIds(qint64 runId, const RunState &run, std::span<const StoredRow *const> rows, std::vector<qint64> &ids,
                    QSqlError &error)
    {
        struct Known {
            qint64 id = 0;
            std::optional<std::pair<qint64, qint64>> found; // run, row
            bool forgotten = false;
        };
        QStringList distinct;
        for (const StoredRow *row : rows)
            distinct << Text(row->address);
        distinct.removeDuplicates();
        QHash<QString, Known> known;
        const bool read = FindMany(Statements::kAddresses, distinct, {run.domain}, error, [&](const QSqlQuery &find) {
            Known address{find.value(1).toLongLong(), std::nullopt, find.value(4).toInt() != 0};
            if (!find.value(2).isNull())
                address.found.emplace(find.value(2).toLongLong(), find.value(3).toLongLong());
            known.insert(find.value(0).toString(), address); // after a merge, the first
        });
        if (!read)
            return false;
        const bool names = run.source != RunSource::Recheck && run.source != RunSource::Import;
        for (const StoredRow *row : rows) {
            auto address = known.find(Text(row->address));
            if (address == known.end()) {
                qint64 id = 0;
                if (!ExecBound(statements_->insertAddress, {run.domain, Text(row->address)}, error) ||
                    !TakeId(statements_->insertAddress, id, error))
                    return false;
                address = known.insert(Text(row->address), {id, std::nullopt, false});
            }
            const std::pair<qint64, qint64> here{runId, row->number};
            if (IsValid(row->outcome) && (!address->found || (address->found->first == runId && here < *address->found))) {
                if (!ExecBound(statements_->setFound, {runId, row->number, address->id}, error))
                    return false;
                address->found = here;
            }
            // The link first found, or an export's, is what was agreed for an address without an agreement.
            if (run.agrees && IsValid(row->outcome) && !row->links.empty()) {
                const LinkExpectation agreed = ExpectationOf(row->links.front());
                if (!ExecBound(statements_->agree,
                               {agreed.target ? QVariant(*agreed.target) : QVariant(QMetaType::fromType<QString>()),
                                *agreed.anchor, *agreed.follow ? 1 : 0, address->id},
                               error))
                    return false;
            }
            if (names && address->forgotten) {
                if (!ExecBound(statements_->remember, {address->id}, error))
                    return false;
                address->forgotten = false;
            }
            ids.push_back(address->id);
        }
        return true;
    }

    // The id of each row's state, stored with its links when no row found it before.
    bool StateIds(std::span<const StoredRow *const> rows, std::vector<qint64> &ids, QSqlError &error)
    {
        std::vector<QVariantList> states;
        QStringList digests;
        for (const StoredRow *row : rows) {
            states.push_back({Text(row->finalUrl), Text(row->verdict), OutcomeName(row->outcome), row->pageHad ? 1 : 0,
                              static_cast<qint64>(row->httpStatus), Text(row->failureCause), row->attempts,
                              Text(row->failedAttempts.join(u'\n')), Text(row->charset), Text(RobotsText(row->robots)),
                              row->rendered ? 1 : 0, Text(row->renderFailure)});
            QStringList texts;
            for (const QVariant &value : states.back().mid(0, kRowColumnCount))
                texts << value.toString();
            if (row->rendered || !row->renderFailure.isEmpty())
                texts << QStringLiteral("rendered %1").arg(row->rendered) << row->renderFailure;
            for (const LinkEvidence &link : row->links)
                texts << Text(link.url) << Text(link.anchor) << Text(RelText(link));
            // What a state holds beyond the first schema's columns counts only when it is not the
            // column's default: a check that found what an earlier one did shares its state still.
            const QString robotsTxt = RobotsTxtText(*row);
            const QVariant outbound = row->outboundLinks ? QVariant(static_cast<qint64>(*row->outboundLinks)) : QVariant();
            for (const auto &[name, value, given] :
                 {std::tuple(u"canonical", Text(row->canonical), !row->canonical.isEmpty()),
                  std::tuple(u"robots.txt", robotsTxt, !robotsTxt.isEmpty()),
                  std::tuple(u"outbound", outbound.toString(), row->outboundLinks.has_value())})
                if (given)
                    texts << QString::fromUtf16(name) << value;
            for (std::size_t i = 0; i < row->links.size(); ++i)
                if (const QString failure = TargetFailureText(*row, row->links[i]); !failure.isEmpty())
                    texts << QStringLiteral("target %1").arg(i + 1) << Text(failure);
            states.back() << Text(row->canonical) << Text(robotsTxt) << outbound;
            digests << StateDigest(texts);
        }
        QStringList distinct = digests;
        distinct.removeDuplicates();
        QHash<QString, qint64> known;
        if (!FindMany(Statements::kStates, distinct, {}, error, [&](const QSqlQuery &find) {
                known.insert(find.value(0).toString(), find.value(1).toLongLong());
            }))
            return false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            auto state = known.find(digests[static_cast<qsizetype>(i)]);
            if (state == known.end()) {
                QSqlQuery &insert = statements_->insertState;
                insert.addBindValue(digests[static_cast<qsizetype>(i)]);
                for (const QVariant &value : states[i])
                    insert.addBindValue(value);
                qint64 id = 0;
                if (!insert.exec() || !TakeId(insert, id, error) || !InsertLinks(id, *rows[i], error)) {
                    error = error.isValid() ? error : insert.lastError();
                    return false;
                }
                state = known.insert(digests[static_cast<qsizetype>(i)], id);
            }
            ids.push_back(*state);
        }
        return true;
    }

    bool InsertLinks(qint64 stateId, const StoredRow &row, QSqlError &error)
    {
        const std::vector<LinkEvidence> &links = row.links;
        return InsertMany(Statements::kLinks, links.size(), error, [&](QSqlQuery &insert, std::size_t i) {
            for (const QVariant &value : {QVariant(stateId), QVariant(static_cast<qint64>(i + 1)), QVariant(Text(links[i].url)),
                                          QVariant(Text(links[i].anchor)), QVariant(Text(RelText(links[i]))),
                                          QVariant(Text(TargetFailureText(row, links[i])))})
                insert.addBindValue(value);
        });
    }

    // Looks the keys up many to a statement (the table's SELECT … IN), the fixed values bound
    // first; each(find) for each row answered.
    template <typename Table, typename Each>
    bool FindMany(Table table, const QStringList &keys, const QVariantList &fixed, QSqlError &error, Each &&each)
    {
        for (qsizetype first = 0; first < keys.size();) {
            const auto count = static_cast<qsizetype>(
                std::bit_floor(std::min(static_cast<std::size_t>(keys.size() - first), kMostRowsPerStatement)));
            QSqlQuery &find = statements_->Multi(table, static_cast<std::size_t>(count));
            for (const QVariant &value : fixed)
                find.addBindValue(value);
            for (qsizetype i = first; i < first + count; ++i)
                find.addBindValue(keys[i]);
            if (!find.exec()) {
                error = find.lastError();
                return false;
            }
            while (find.next())
                each(find);
            find.finish();
            first += count;
        }
        return true;
    }

    // Inserts that many rows into the table, many to a statement; bind(insert, i) binds the
    // values of row i.
    template <typename Table, typename Bind>
    bool InsertMany(Table table, std::size_t rows, QSqlError &error, Bind &&bind)
    {
        for (std::size_t first = 0; first < rows;) {
            const std::size_t count = std::bit_floor(std::min(rows - first, kMostRowsPerStatement));
            QSqlQuery &insert = statements_->Multi(table, count);
            for (std::size_t i = first; i < first + count; ++i)
                bind(insert, i);
            if (!insert.exec()) {
                error = insert.lastError();
                return false;
            }
            first += count;
        }
        return true;
    }

    // A completed run takes the next place among the completed, one program at a time.
    bool EndRun(qint64 runId, const End &end, QSqlError &error)
    {
        const bool completed = end.outcome == RunOutcome::Completed;
        if (completed && statements_->orderEnds) {
            if (!ExecBound(*statements_->orderEnds, {}, error))
                return false;
            statements_->orderEnds->finish();
        }
        return ExecBound(completed ? statements_->completeRun : statements_->endRun,
                         {Millis(end.endedAt), RunOutcomeName(end.outcome),
                          end.countText ? QVariant(*end.countText) : QVariant(QMetaType(QMetaType::QString)), runId},
                         error) &&
               (!completed || ExtendSpans(runId, error));
    }

    // Each address the completed run checked: its latest span goes on to the run when the run
    // found the same state, or a span starts at the run.
    bool ExtendSpans(qint64 runId, QSqlError &error)
    {
        QSqlQuery &placeOf = statements_->placeOf;
        if (!ExecBound(placeOf, {runId}, error) || !placeOf.next()) {
            error = error.isValid() ? error : placeOf.lastError();
            return false;
        }
        const qint64 place = placeOf.value(0).toLongLong();
        placeOf.finish();
        QSqlQuery &latest = statements_->latestSpans;
        if (!ExecBound(latest, {runId}, error))
            return false;
        std::vector<std::pair<qint64, qint64>> extended, started; // address and the span's start, or its state
        qint64 previous = -1;
        while (latest.next()) {
            const qint64 address = latest.value(0).toLongLong();
            if (address == std::exchange(previous, address))
                continue; // an address listed twice counts by its first row
            if (!latest.value(2).isNull() && latest.value(3).toLongLong() == latest.value(1).toLongLong())
                extended.emplace_back(address, latest.value(2).toLongLong());
            else
                started.emplace_back(address, latest.value(1).toLongLong());
        }
        latest.finish();
        for (const auto &[address, first] : extended)
            if (!ExecBound(statements_->extendSpan, {place, address, first}, error))
                return false;
        return InsertMany(Statements::kSpans, started.size(), error, [&](QSqlQuery &insert, std::size_t i) {
            for (const QVariant &value : {QVariant(started[i].first), QVariant(place), QVariant(place), QVariant(started[i].second)})
                insert.addBindValue(value);
        });
    }

    // The site's spans are made anew without the run's checks.
    bool DeleteRun(qint64 runId, QSqlError &error)
    {
        QSqlQuery &domainOf = statements_->domainOf;
        if (!ExecBound(domainOf, {runId}, error))
            return false;
        if (!domainOf.next())
            return true;
        const QString domain = domainOf.value(0).toString();
        domainOf.finish();
        QSqlDatabase db = Database();
        return ExecBound(statements_->deleteRun, {runId}, error) && RebuildSpans(db, domain, error);
    }

    // The site's runs, one by one, but those in writing.
    bool DeleteDomain(const QString &domain, const std::function<bool(qint64)> &writing, QSqlError &error)
    {
        QSqlQuery &runs = statements_->domainRuns;
        if (!ExecBound(runs, {domain}, error))
            return false;
        std::vector<qint64> ids;
        while (runs.next())
            ids.push_back(runs.value(0).toLongLong());
        runs.finish();
        QSqlDatabase db = Database();
        return std::all_of(ids.begin(), ids.end(),
                           [&](qint64 id) { return writing(id) || ExecBound(statements_->deleteRun, {id}, error); }) &&
               RebuildSpans(db, domain, error);
    }

    bool Prune(const QString &domain, const QDateTime &before, QSqlError &error)
    {
        QSqlDatabase db = Database();
        return PruneRuns(db, domain, before, error).has_value();
    }

    bool StopRechecking(const QString &domain, const QString &address, QSqlError &error)
    {
        QSqlDatabase db = Database();
        return vantorel::ForgetAddress(db, domain, address, error) || !error.isValid();
    }

    bool Agree(const QString &domain, const QString &address, const LinkExpectation &agreed, QSqlError &error)
    {
        QSqlDatabase db = Database();
        return AgreeLink(db, domain, address, agreed, error) || !error.isValid();
    }

    // After the transaction; why it could not, or an empty text.
    QString GiveSpaceBack()
    {
        QSqlDatabase db = Database();
        QSqlError error;
        return vantorel::GiveSpaceBack(db, error) ? QString() : Forget(error);
    }

    // Undoes the transaction after a failed statement; why it failed.
    QString Abandon(const QSqlError &error)
    {
        Database().rollback();
        return Forget(error);
    }

    // Whether the last failure was the connection lost under a statement (a server restarted),
    // after which the server kept nothing of the transaction: it may be tried again whole.
    bool Lost() const { return lost_; }

private:
    struct Statements {
        explicit Statements(const QSqlDatabase &db)
            : insertRun(Prepared(db, QStringLiteral("INSERT INTO run (domain_name, source, started_at, confirm_checks) "
                                                    "VALUES (?, ?, ?, ?) RETURNING id"))),
              insertState(Prepared(db, QStringLiteral("INSERT INTO row_state (digest, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                                      "RETURNING id").arg(kStateColumns))),
              endRun(Prepared(db, QStringLiteral("UPDATE run SET ended_at = ?, outcome = ?, count_text = ? WHERE id = ?"))),
              completeRun(Prepared(db, QStringLiteral("UPDATE run SET ended_at = ?, outcome = ?, count_text = ?, "
                                                      "end_order = (SELECT COALESCE(MAX(end_order), 0) + 1 FROM run) "
                                                      "WHERE id = ?"))),
              deleteRun(Prepared(db, QStringLiteral("DELETE FROM run WHERE id = ?"))),
              domainRuns(Prepared(db, QStringLiteral("SELECT id FROM run WHERE domain_name = ?"))),
              insertAddress(Prepared(db, QStringLiteral("INSERT INTO address (domain_name, address) VALUES (?, ?) RETURNING id"))),
              setFound(Prepared(db, QStringLiteral("UPDATE address SET found_run = ?, found_row = ? WHERE id = ?"))),
              remember(Prepared(db, QStringLiteral("UPDATE address SET forgotten = 0 WHERE id = ?"))),
              agree(Prepared(db, QStringLiteral("UPDATE address SET expected_target = ?, expected_anchor = ?, expected_follow = ? "
                                                "WHERE id = ? AND expected_target IS NULL AND expected_anchor IS NULL "
                                                "AND expected_follow IS NULL"))),
              countRows(Prepared(db, QStringLiteral("UPDATE run SET row_count = row_count + ?, valid_count = valid_count + ?, "
                                                    "removed_count = removed_count + ?, unreachable_count = unreachable_count + ? "
                                                    "WHERE id = ?"))),
              placeOf(Prepared(db, QStringLiteral("SELECT end_order FROM run WHERE id = ?"))),
              domainOf(Prepared(db, QStringLiteral("SELECT domain_name FROM run WHERE id = ?"))),
              latestSpans(Prepared(db, QStringLiteral("SELECT c.address_id, c.state_id, s.first_order, s.state_id FROM run_check c "
                                                      "LEFT JOIN state_span s ON s.address_id = c.address_id AND s.first_order = "
                                                      "(SELECT MAX(t.first_order) FROM state_span t WHERE t.address_id = c.address_id) "
                                                      "WHERE c.run_id = ? ORDER BY c.address_id, c.row_no"))),
              extendSpan(Prepared(db, QStringLiteral("UPDATE state_span SET last_order = ? WHERE address_id = ? AND first_order = ?"))),
              db_(db)
        {
            if (const QString lock = OrderingEnds(db); !lock.isEmpty())
                orderEnds.emplace(Prepared(db, lock));
        }

        // The tables written many rows to a statement: the statement's start, one row's values.
        // The states already stored among those of many digests: a digest, its state's id.
        // The addresses already stored among many: the domain, then an address.
        enum Table { kRows, kLinks, kStates, kAddresses, kSpans };
        // The statement of count rows (or digests), prepared at its first use. Counts are powers
        // of two, so that few statements are ever prepared.
        QSqlQuery &Multi(Table table, std::size_t count)
        {
            static const struct {
                QString start, each, end;
            } kStatements[] = {
                {QStringLiteral("INSERT INTO run_check (run_id, address_id, row_no, state_id, checked_at) VALUES "),
                 QStringLiteral("(?, ?, ?, ?, ?)"),
                 QStringLiteral(" ON CONFLICT (run_id, address_id, row_no) DO UPDATE SET state_id = excluded.state_id, "
                                "checked_at = excluded.checked_at")},
                {QStringLiteral("INSERT INTO state_link (state_id, link_number, url, anchor, rel, target_failure) VALUES "),
                 QStringLiteral("(?, ?, ?, ?, ?, ?)"), {}},
                {QStringLiteral("SELECT digest, MIN(id) FROM row_state WHERE digest IN ("), QStringLiteral("?"),
                 QStringLiteral(") GROUP BY digest")},
                {QStringLiteral("SELECT address, id, found_run, found_row, forgotten FROM address WHERE domain_name = ? AND address IN ("),
                 QStringLiteral("?"), QStringLiteral(") ORDER BY id DESC")},
                {QStringLiteral("INSERT INTO state_span (address_id, first_order, last_order, state_id) VALUES "),
                 QStringLiteral("(?, ?, ?, ?)"), {}},
            };
            auto [found, made] = multi.try_emplace({table, count}, db_);
            if (made) {
                const auto &statement = kStatements[table];
                found->second.setForwardOnly(true);
                found->second.prepare(statement.start + QStringList(static_cast<qsizetype>(count), statement.each).join(u", ") +
                                      statement.end);
            }
            return found->second;
        }

        QSqlQuery insertRun, insertState, endRun, completeRun, deleteRun, domainRuns, insertAddress, setFound, remember,
            agree, countRows, placeOf, domainOf, latestSpans, extendSpan;
        std::optional<QSqlQuery> orderEnds;
        std::map<std::pair<Table, std::size_t>, QSqlQuery> multi;

    private:
        QSqlDatabase db_;
    };

    QSqlDatabase Database() const { return QSqlDatabase::database(name_, false); }

    // After a failure the connection is made afresh for the next transaction: a server's may
    // be gone.
    QString Forget(QSqlError error)
    {
        if (deadline_)
            deadline_->Explain(error);
        deadline_.reset();
        lost_ = ConnectionLost(error);
        const QString reason = StoreFailureReason(error, path_);
        Close();
        return reason;
    }

    // The id an INSERT … RETURNING id answered.
    static bool TakeId(QSqlQuery &query, qint64 &id, QSqlError &error)
    {
        if (!query.next()) {
            error = query.lastError();
            return false;
        }
        id = query.value(0).toLongLong();
        query.finish();
        return true;
    }

    void Close()
    {
        statements_.reset();
        if (QSqlDatabase::contains(name_)) {
            Database().close();
            QSqlDatabase::removeDatabase(name_);
        }
    }

    const QString name_;
    const QString path_;
    const OpenOptions options_;
    std::optional<Statements> statements_;
    bool lost_ = false;
    // From the transaction's start to its end.
    std::optional<ServerDeadline> deadline_;
};

HistoryWriter::HistoryWriter(QString path, OpenOptions options, QObject *parent)
    : QObject(parent), path_(std::move(path)), options_(options), thread_([this] { Work(); })
{
}

HistoryWriter::~HistoryWriter()
{
    stopping_ = true;
    ++wakes_;
    wakes_.notify_one();
    thread_.join();
}

HistoryWriter::Ticket HistoryWriter::BeginRun(const QString &domain, RunSource source, const QDateTime &startedAt,
                                              int confirmChecks, bool agrees)
{
    StoredRun run;
    run.domain = SiteKey(domain);
    run.source = source;
    run.startedAt = startedAt;
    run.confirmChecks = confirmChecks;
    const Ticket ticket = ++lastTicket_;
    Enqueue(Begin{ticket, std::move(run), agrees || source == RunSource::Import});
    return ticket;
}

void HistoryWriter::SaveRow(Ticket run, StoredRow row)
{
    Enqueue(Row{run, std::move(row)});
}

void HistoryWriter::EndRun(Ticket run, RunOutcome outcome, const std::optional<QString> &countText,
                           const QDateTime &endedAt)
{
    Enqueue(End{run, outcome, countText, endedAt});
}

void HistoryWriter::DeleteRun(qint64 runId)
{
    Enqueue(RemoveRun{runId});
}

void HistoryWriter::DeleteDomain(const QString &domain)
{
    Enqueue(RemoveDomain{SiteKey(domain)});
}

void HistoryWriter::Prune(const QString &domain, int keepDays)
{
    Enqueue(PruneSite{SiteKey(domain), QDateTime::currentDateTime().addDays(-keepDays)});
}

void HistoryWriter::Forget(const QString &domain, const QString &address)
{
    Enqueue(ForgetAddress{SiteKey(domain), address});
}

void HistoryWriter::Agree(const QString &domain, const QString &address, const LinkExpectation &agreed)
{
    Enqueue(AgreeAddress{SiteKey(domain), address, agreed});
}

void HistoryWriter::WaitUntilWritten()
{
    const quint64 target = enqueued_;
    for (quint64 finished = finished_; finished < target; finished = finished_)
        finished_.wait(finished);
}

bool HistoryWriter::Writing(qint64 runId) const
{
    const std::lock_guard lock(writingMutex_);
    return writing_.contains(runId);
}

bool HistoryWriter::WritingSite(const QString &domain) const
{
    const QString key = SiteKey(domain);
    const std::lock_guard lock(writingMutex_);
    return std::any_of(writing_.begin(), writing_.end(), [&key](const auto &run) { return run.second == key; });
}

QString HistoryWriter::FirstFailure() const
{
    const std::lock_guard lock(failureMutex_);
    return firstFailure_;
}

void HistoryWriter::Enqueue(Job job)
{
    auto *node = new Node{std::move(job), queue_.load(std::memory_order_relaxed)};
    while (!queue_.compare_exchange_weak(node->next, node, std::memory_order_release, std::memory_order_relaxed)) {
    }
    ++enqueued_;
    ++wakes_;
    wakes_.notify_one();
}

std::vector<HistoryWriter::Job> HistoryWriter::TakeJobs()
{
    std::vector<Job> jobs;
    for (Node *node = queue_.exchange(nullptr, std::memory_order_acquire); node;) {
        jobs.push_back(std::move(node->job));
        delete std::exchange(node, node->next);
    }
    std::reverse(jobs.begin(), jobs.end());
    return jobs;
}

void HistoryWriter::Report(const QString &reason)
{
    {
        const std::lock_guard lock(failureMutex_);
        if (firstFailure_.isEmpty())
            firstFailure_ = reason;
    }
    QMetaObject::invokeMethod(this, [this, reason] { emit Failed(reason); }, Qt::QueuedConnection);
}

void HistoryWriter::Work()
{
    Connection connection(QStringLiteral("vantorel-history-writer-%1").arg(reinterpret_cast<quintptr>(this)), path_,
                          options_);
    Runs runs;
    for (;;) {
        // Read before looking at the queue, so that a job queued meanwhile wakes the wait.
        const quint32 wakes = wakes_;
        std::vector<Job> jobs = TakeJobs();
        if (jobs.empty()) {
            if (stopping_)
                break;
            wakes_.wait(wakes);
            continue;
        }
        for (auto first = jobs.begin(); first != jobs.end();) {
            const auto last = first + std::min<std::ptrdiff_t>(jobs.end() - first, kMostJobsPerTransaction);
            std::vector<Job> batch(std::make_move_iterator(first), std::make_move_iterator(last));
            WriteBatch(connection, runs, batch);
            finished_ += batch.size();
            finished_.notify_all();
            first = last;
        }
    }
}

HistoryWriter::Ticket HistoryWriter::TicketOf(const Job &job)
{
    return std::visit(Overloaded{[](const Begin &begin) { return begin.ticket; }, [](const Row &row) { return row.ticket; },
                                 [](const End &end) { return end.ticket; }, [](const auto &) { return Ticket{0}; }},
                      job);
}

// The run a job belongs to while it can still be written; the rest of a failed run is dropped.
HistoryWriter::RunState *HistoryWriter::Writable(Runs &runs, Ticket ticket)
{
    const auto found = runs.find(ticket);
    return found != runs.end() && !found->second.failed ? &found->second : nullptr;
}

void HistoryWriter::WriteBatch(Connection &connection, Runs &runs, std::vector<Job> &batch)
{
    const bool writes = std::any_of(batch.begin(), batch.end(), [&](const Job &job) {
        return std::holds_alternative<Begin>(job) || !TicketOf(job) || Writable(runs, TicketOf(job));
    });
    QString reason;
    std::vector<std::pair<Ticket, qint64>> stored;
    // A connection lost under a statement (a server restarting) loses the transaction, not the
    // runs: it is tried once more on a new connection. A lost COMMIT is not: it may have been kept.
    for (int attempt = 0; writes && attempt < 2; ++attempt) {
        stored.clear();
        bool pruned = false;
        if (!(reason = connection.Begin()).isEmpty())
            break;
        QSqlError error;
        bool written = true;
        for (auto job = batch.begin(); written && job != batch.end();) {
            auto next = std::next(job);
            written = std::visit(
                Overloaded{
                    [&](Begin &begin) { return WriteBegin(connection, runs, begin, stored, error); },
                    [&](Row &) {
                        next = std::find_if(job, batch.end(), [ticket = TicketOf(*job)](const Job &other) {
                            return !std::holds_alternative<Row>(other) || TicketOf(other) != ticket;
                        });
                        return WriteRows(connection, runs, std::span(job, next), error);
                    },
                    [&](End &end) { return WriteEnd(connection, runs, end, error); },
                    [&](RemoveRun &remove) { return Writing(remove.runId) || connection.DeleteRun(remove.runId, error); },
                    [&](RemoveDomain &remove) {
                        return connection.DeleteDomain(remove.domain, [this](qint64 id) { return Writing(id); }, error);
                    },
                    [&](PruneSite &prune) {
                        pruned = true;
                        return connection.Prune(prune.domain, prune.before, error);
                    },
                    [&](ForgetAddress &forget) { return connection.StopRechecking(forget.domain, forget.address, error); },
                    [&](AgreeAddress &agree) { return connection.Agree(agree.domain, agree.address, agree.agreed, error); },
                },
                *job);
            job = next;
        }
        reason = written ? connection.Commit() : connection.Abandon(error);
        const bool kept = reason.isEmpty();
        UndoOrKeepChanges(runs, batch, kept);
        if (kept && pruned)
            reason = connection.GiveSpaceBack();
        if (kept || written || !connection.Lost())
            break;
    }
    if (reason.isEmpty())
        KeepStored(runs, stored);
    else if (writes)
        DropFailed(runs, batch, reason);
    EndWriting(runs, batch);
}

// The rows a transaction wrote count as written once it is kept; else they are as before it.
void HistoryWriter::UndoOrKeepChanges(Runs &runs, const std::vector<Job> &batch, bool kept)
{
    for (const Job &job : batch) {
        const auto run = runs.find(TicketOf(job));
        if (run == runs.end())
            continue;
        RunState &state = run->second;
        for (auto change = state.changed.rbegin(); !kept && change != state.changed.rend(); ++change)
            if (change->second)
                state.written[change->first] = *change->second;
            else
                state.written.erase(change->first);
        state.changed.clear();
    }
}

bool HistoryWriter::WriteBegin(Connection &connection, Runs &runs, const Begin &begin,
                               std::vector<std::pair<Ticket, qint64>> &stored, QSqlError &error)
{
    RunState &state = runs[begin.ticket];
    state.domain = begin.run.domain;
    state.source = begin.run.source;
    state.agrees = begin.agrees;
    if (!connection.InsertRun(begin.run, state.id, error))
        return false;
    stored.emplace_back(begin.ticket, state.id);
    return true;
}

bool HistoryWriter::WriteRows(Connection &connection, Runs &runs, std::span<Job> rows, QSqlError &error)
{
    RunState *state = Writable(runs, TicketOf(rows.front()));
    if (!state)
        return true;
    std::vector<const StoredRow *> stored;
    for (const Job &job : rows)
        stored.push_back(&std::get<Row>(job).row);
    return connection.InsertRows(state->id, *state, stored, error);
}

bool HistoryWriter::WriteEnd(Connection &connection, Runs &runs, const End &end, QSqlError &error)
{
    const RunState *state = Writable(runs, end.ticket);
    return !state || connection.EndRun(state->id, end, error);
}

void HistoryWriter::KeepStored(Runs &runs, const std::vector<std::pair<Ticket, qint64>> &stored)
{
    const std::lock_guard lock(writingMutex_);
    for (const auto &[ticket, id] : stored) {
        writing_.emplace(id, runs[ticket].domain);
        QMetaObject::invokeMethod(this, [this, ticket, id] { emit RunStored(ticket, id); }, Qt::QueuedConnection);
    }
}

// Nothing of the transaction was kept: every run with a job in it keeps no more, and each says
// so once; removals say so once.
void HistoryWriter::DropFailed(Runs &runs, const std::vector<Job> &batch, const QString &reason)
{
    bool removals = false;
    for (const Job &job : batch) {
        const Ticket ticket = TicketOf(job);
        removals = removals || !ticket;
        if (RunState *state = ticket ? Writable(runs, ticket) : nullptr; state || std::holds_alternative<Begin>(job)) {
            runs[ticket].failed = true;
            Report(reason);
        }
    }
    if (removals)
        Report(reason);
}

// A run is written no more once its end is written, or it failed.
void HistoryWriter::EndWriting(Runs &runs, const std::vector<Job> &batch)
{
    const std::lock_guard lock(writingMutex_);
    for (const Job &job : batch) {
        const auto run = runs.find(TicketOf(job));
        if (run == runs.end() || !(std::holds_alternative<End>(job) || run->second.failed))
            continue;
        writing_.erase(run->second.id);
        if (std::holds_alternative<End>(job))
            runs.erase(run);
    }
}

} // namespace vantorel
