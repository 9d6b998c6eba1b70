#include "HistoryWriter.h"

#include <Domain.h>

#include <QSqlDatabase>

#include <algorithm>
#include <functional>
#include <iterator>

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

    // Opens the store when needed and starts a transaction; why not, or an empty text. A
    // connection kept from before that has gone away meanwhile (a server restarted) is made again.
    QString Begin()
    {
        QSqlError error;
        if (statements_) {
            QSqlDatabase db = Database();
            if (ExecTransaction(db, QStringLiteral("BEGIN"), error))
                return {};
        }
        Close();
        if (QString reason = OpenHistory(name_, path_, options_); !reason.isEmpty())
            return reason;
        statements_.emplace(Database());
        QSqlDatabase db = Database();
        if (ExecTransaction(db, QStringLiteral("BEGIN"), error))
            return {};
        db = QSqlDatabase();
        return Forget(error);
    }

    QString Commit()
    {
        QSqlError error;
        {
            QSqlDatabase db = Database();
            if (ExecTransaction(db, QStringLiteral("COMMIT"), error))
                return {};
            db.rollback();
        }
        return Forget(error);
    }

    // Each fills in the error when it fails.
    bool InsertRun(const StoredRun &run, qint64 &id, QSqlError &error)
    {
        if (!ExecBound(statements_->insertRun, {run.domain, SourceName(run.source), Millis(run.startedAt)}, error))
            return false;
        return TakeId(statements_->insertRun, id, error);
    }

    bool InsertRow(qint64 runId, const QString &domain, const StoredRow &row, QSqlError &error)
    {
        if (!ExecBound(statements_->insertRow,
                       {runId, domain, row.number, Text(row.address), Text(row.finalUrl), Text(row.verdict),
                        OutcomeName(row.outcome), row.pageHad ? 1 : 0, static_cast<qint64>(row.httpStatus),
                        Text(row.failureCause), row.attempts, Text(row.failedAttempts.join(u'\n')), Text(row.charset),
                        Text(RobotsText(row.robots)), Millis(row.checkedAt)},
                       error))
            return false;
        qint64 rowId = 0;
        if (!TakeId(statements_->insertRow, rowId, error))
            return false;
        for (std::size_t i = 0; i < row.links.size(); ++i) {
            const LinkEvidence &link = row.links[i];
            if (!ExecBound(statements_->insertLink,
                           {rowId, static_cast<qint64>(i + 1), Text(link.url), Text(link.anchor), Text(RelText(link))},
                           error))
                return false;
        }
        return true;
    }

    bool EndRun(qint64 runId, const End &end, QSqlError &error)
    {
        return ExecBound(statements_->endRun,
                         {Millis(end.endedAt), RunOutcomeName(end.outcome),
                          end.countText ? QVariant(*end.countText) : QVariant(QMetaType(QMetaType::QString)), runId},
                         error);
    }

    bool DeleteRun(qint64 runId, QSqlError &error) { return ExecBound(statements_->deleteRun, {runId}, error); }

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
        return std::all_of(ids.begin(), ids.end(), [&](qint64 id) { return writing(id) || DeleteRun(id, error); });
    }

    // Undoes the transaction after a failed statement; why it failed.
    QString Abandon(const QSqlError &error)
    {
        Database().rollback();
        return Forget(error);
    }

private:
    struct Statements {
        explicit Statements(const QSqlDatabase &db)
            : insertRun(Prepared(db, QStringLiteral("INSERT INTO run (domain_name, source, started_at) VALUES (?, ?, ?) RETURNING id"))),
              insertRow(Prepared(db, QStringLiteral("INSERT INTO run_row (run_id, domain_name, row_no, address, "
                                                    "final_address, verdict, outcome, page_had, http_status, "
                                                    "failure_cause, attempts, failed_attempts, charset, robots, "
                                                    "checked_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"))),
              insertLink(Prepared(db, QStringLiteral("INSERT INTO row_link (row_id, link_number, url, anchor, rel) "
                                                     "VALUES (?, ?, ?, ?, ?)"))),
              endRun(Prepared(db, QStringLiteral("UPDATE run SET ended_at = ?, outcome = ?, count_text = ? WHERE id = ?"))),
              deleteRun(Prepared(db, QStringLiteral("DELETE FROM run WHERE id = ?"))),
              domainRuns(Prepared(db, QStringLiteral("SELECT id FROM run WHERE domain_name = ?")))
        {
        }
        QSqlQuery insertRun, insertRow, insertLink, endRun, deleteRun, domainRuns;
    };

    QSqlDatabase Database() const { return QSqlDatabase::database(name_, false); }

    // After a failure the connection is made afresh for the next transaction: a server's may
    // be gone.
    QString Forget(const QSqlError &error)
    {
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

HistoryWriter::Ticket HistoryWriter::BeginRun(const QString &domain, RunSource source, const QDateTime &startedAt)
{
    StoredRun run;
    run.domain = SiteKey(domain);
    run.source = source;
    run.startedAt = startedAt;
    const Ticket ticket = ++lastTicket_;
    Enqueue(Begin{ticket, std::move(run)});
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
    std::unordered_map<Ticket, RunState> runs;
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

void HistoryWriter::WriteBatch(Connection &connection, std::unordered_map<Ticket, RunState> &runs,
                               std::vector<Job> &batch)
{
    const auto ticketOf = [](const Job &job) {
        return std::visit(Overloaded{[](const Begin &begin) { return begin.ticket; },
                                     [](const Row &row) { return row.ticket; }, [](const End &end) { return end.ticket; },
                                     [](const auto &) { return Ticket{0}; }},
                          job);
    };
    // The run a job belongs to while it can still be written; the rest of a failed run is dropped.
    const auto writable = [&runs](Ticket ticket) -> RunState * {
        const auto found = runs.find(ticket);
        return found != runs.end() && !found->second.failed ? &found->second : nullptr;
    };
    const bool writes = std::any_of(batch.begin(), batch.end(), [&](const Job &job) {
        return std::holds_alternative<Begin>(job) || !ticketOf(job) || writable(ticketOf(job));
    });

    QString reason;
    std::vector<std::pair<Ticket, qint64>> stored;
    if (writes && (reason = connection.Begin()).isEmpty()) {
        QSqlError error;
        for (Job &job : batch) {
            const bool written = std::visit(
                Overloaded{
                    [&](Begin &begin) {
                        RunState &state = runs[begin.ticket];
                        state.domain = begin.run.domain;
                        stored.emplace_back(begin.ticket, 0);
                        return connection.InsertRun(begin.run, stored.back().second, error);
                    },
                    [&](Row &row) {
                        RunState *state = writable(row.ticket);
                        return !state || connection.InsertRow(state->id, state->domain, row.row, error);
                    },
                    [&](End &end) {
                        RunState *state = writable(end.ticket);
                        return !state || connection.EndRun(state->id, end, error);
                    },
                    [&](RemoveRun &remove) { return Writing(remove.runId) || connection.DeleteRun(remove.runId, error); },
                    [&](RemoveDomain &remove) {
                        return connection.DeleteDomain(remove.domain, [this](qint64 id) { return Writing(id); }, error);
                    },
                },
                job);
            if (!written) {
                reason = connection.Abandon(error);
                break;
            }
            // Later rows of a run begun in this transaction need its id.
            if (const Begin *begin = std::get_if<Begin>(&job))
                runs[begin->ticket].id = stored.back().second;
        }
        if (reason.isEmpty())
            reason = connection.Commit();
    }

    if (reason.isEmpty()) {
        const std::lock_guard lock(writingMutex_);
        for (const auto &[ticket, id] : stored) {
            writing_.emplace(id, runs[ticket].domain);
            QMetaObject::invokeMethod(this, [this, ticket, id] { emit RunStored(ticket, id); }, Qt::QueuedConnection);
        }
    } else if (writes) {
        // Nothing of the transaction was kept: every run with a job in it keeps no more, and
        // each says so once; removals say so once.
        bool removals = false;
        for (const Job &job : batch) {
            const Ticket ticket = ticketOf(job);
            removals = removals || !ticket;
            if (RunState *state = ticket ? writable(ticket) : nullptr; state || std::holds_alternative<Begin>(job)) {
                runs[ticket].failed = true;
                Report(reason);
            }
        }
        if (removals)
            Report(reason);
    }
    // A run is written no more once its end is written, or it failed.
    const std::lock_guard lock(writingMutex_);
    for (const Job &job : batch) {
        const auto run = runs.find(ticketOf(job));
        if (run == runs.end() || !(std::holds_alternative<End>(job) || run->second.failed))
            continue;
        writing_.erase(run->second.id);
        if (std::holds_alternative<End>(job))
            runs.erase(run);
    }
}

} // namespace vantorel
