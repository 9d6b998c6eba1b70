#include "HistoryWriter.h"

#include <QSqlDatabase>

#include <unordered_map>

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

// The writer thread's own connection to the file, opened on its first job and again after a
// failed open; a SQL connection belongs to the thread that made it.
class HistoryWriter::Connection {
public:
    Connection(QString name, QString path, OpenOptions options)
        : name_(std::move(name)), path_(std::move(path)), options_(options)
    {
    }
    ~Connection() { Close(); }

    // Each answers why it failed, or an empty text.
    QString Begin(const StoredRun &run, qint64 &id)
    {
        return Write([&](QSqlError &error) {
            if (!ExecBound(statements_->insertRun, {run.domain, SourceName(run.source), Millis(run.startedAt)}, error))
                return false;
            id = statements_->insertRun.lastInsertId().toLongLong();
            return true;
        });
    }

    QString SaveRow(qint64 runId, const QString &domain, const StoredRow &row)
    {
        return Write([&](QSqlError &error) {
            if (!ExecBound(statements_->insertRow,
                      {runId, domain, row.number, Text(row.address), Text(row.finalUrl), Text(row.verdict),
                       OutcomeName(row.outcome), static_cast<qint64>(row.httpStatus), Text(row.failureCause),
                       row.attempts, Text(row.charset), Text(RobotsText(row.robots)), Millis(row.checkedAt)},
                      error))
                return false;
            const qint64 rowId = statements_->insertRow.lastInsertId().toLongLong();
            for (std::size_t i = 0; i < row.links.size(); ++i) {
                const LinkEvidence &link = row.links[i];
                if (!ExecBound(statements_->insertLink,
                          {rowId, static_cast<qint64>(i + 1), Text(link.url), Text(link.anchor), Text(RelText(link))}, error))
                    return false;
            }
            return true;
        });
    }

    QString End(qint64 runId, const StoredRun &run)
    {
        return Write([&](QSqlError &error) {
            return ExecBound(statements_->endRun,
                        {Millis(run.endedAt), RunOutcomeName(run.outcome.value_or(RunOutcome::Completed)),
                         run.countText ? QVariant(*run.countText) : QVariant(QMetaType(QMetaType::QString)), runId},
                        error);
        });
    }

    QString DeleteRun(qint64 runId)
    {
        return Write([&](QSqlError &error) { return ExecBound(statements_->deleteRun, {runId}, error); });
    }

    QString DeleteDomain(const QString &domain)
    {
        return Write([&](QSqlError &error) { return ExecBound(statements_->deleteDomain, {domain}, error); });
    }

private:
    struct Statements {
        explicit Statements(const QSqlDatabase &db)
            : insertRun(Prepared(db, QStringLiteral("INSERT INTO run (domain_name, source, started_at) VALUES (?, ?, ?)"))),
              insertRow(Prepared(db, QStringLiteral("INSERT INTO run_row (run_id, domain_name, row_no, address, "
                                                    "final_address, verdict, outcome, http_status, failure_cause, "
                                                    "attempts, charset, robots, checked_at) "
                                                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))),
              insertLink(Prepared(db, QStringLiteral("INSERT INTO row_link (row_id, link_number, url, anchor, rel) "
                                                     "VALUES (?, ?, ?, ?, ?)"))),
              endRun(Prepared(db, QStringLiteral("UPDATE run SET ended_at = ?, outcome = ?, count_text = ? WHERE id = ?"))),
              deleteRun(Prepared(db, QStringLiteral("DELETE FROM run WHERE id = ?"))),
              deleteDomain(Prepared(db, QStringLiteral("DELETE FROM run WHERE domain_name = ?")))
        {
        }
        QSqlQuery insertRun, insertRow, insertLink, endRun, deleteRun, deleteDomain;
    };

    // One transaction around what write does; write fills in the error when it returns false.
    template <typename Operation>
    QString Write(Operation write)
    {
        if (QString reason = EnsureOpen(); !reason.isEmpty())
            return reason;
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        QSqlError error;
        if (!db.transaction())
            error = db.lastError();
        else if (write(error) && !db.commit())
            error = db.lastError();
        if (!error.isValid())
            return {};
        db.rollback();
        return StoreFailureReason(error, path_);
    }

    QString EnsureOpen()
    {
        if (statements_)
            return {};
        Close();
        QString reason = OpenHistory(name_, path_, options_);
        if (reason.isEmpty())
            statements_.emplace(QSqlDatabase::database(name_, false));
        return reason;
    }

    void Close()
    {
        statements_.reset();
        if (QSqlDatabase::contains(name_)) {
            QSqlDatabase::database(name_, false).close();
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
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_one();
    thread_.join();
}

HistoryWriter::Ticket HistoryWriter::BeginRun(const QString &domain, RunSource source, const QDateTime &startedAt)
{
    StoredRun run;
    run.domain = domain;
    run.source = source;
    run.startedAt = startedAt;
    Ticket ticket = 0;
    {
        const std::lock_guard lock(mutex_);
        ticket = ++lastTicket_;
    }
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
    StoredRun ended;
    ended.outcome = outcome;
    ended.countText = countText;
    ended.endedAt = endedAt;
    Enqueue(End{run, std::move(ended)});
}

void HistoryWriter::DeleteRun(qint64 runId)
{
    Enqueue(RemoveRun{runId});
}

void HistoryWriter::DeleteDomain(const QString &domain)
{
    Enqueue(RemoveDomain{domain});
}

void HistoryWriter::WaitUntilWritten()
{
    std::unique_lock lock(mutex_);
    const quint64 target = enqueued_;
    done_.wait(lock, [&] { return finished_ >= target; });
}

QString HistoryWriter::FirstFailure() const
{
    const std::lock_guard lock(mutex_);
    return firstFailure_;
}

void HistoryWriter::Enqueue(Job job)
{
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        ++enqueued_;
    }
    queued_.notify_one();
}

void HistoryWriter::Report(const QString &reason)
{
    {
        const std::lock_guard lock(mutex_);
        if (firstFailure_.isEmpty())
            firstFailure_ = reason;
    }
    QMetaObject::invokeMethod(this, [this, reason] { emit Failed(reason); }, Qt::QueuedConnection);
}

void HistoryWriter::Work()
{
    struct RunState {
        qint64 id = 0;
        QString domain;
        bool failed = false;
    };
    Connection connection(QStringLiteral("vantorel-history-writer-%1").arg(reinterpret_cast<quintptr>(this)), path_,
                          options_);
    std::unordered_map<Ticket, RunState> runs;
    // A run's first failure is said; the rest of it is dropped, so it stays without an end.
    const auto failRun = [&](RunState &state, const QString &reason) {
        if (reason.isEmpty())
            return;
        state.failed = true;
        Report(reason);
    };
    // The run a job belongs to while it can still be written.
    const auto writable = [&](Ticket ticket) -> RunState * {
        const auto found = runs.find(ticket);
        return found != runs.end() && !found->second.failed ? &found->second : nullptr;
    };

    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [&] { return !jobs_.empty() || stopping_; });
            if (jobs_.empty())
                break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        std::visit(Overloaded{
                       [&](Begin &begin) {
                           RunState &state = runs[begin.ticket];
                           state.domain = begin.run.domain;
                           failRun(state, connection.Begin(begin.run, state.id));
                           if (!state.failed)
                               QMetaObject::invokeMethod(
                                   this, [this, ticket = begin.ticket, id = state.id] { emit RunStored(ticket, id); },
                                   Qt::QueuedConnection);
                       },
                       [&](Row &row) {
                           if (RunState *state = writable(row.ticket))
                               failRun(*state, connection.SaveRow(state->id, state->domain, row.row));
                       },
                       [&](End &end) {
                           if (RunState *state = writable(end.ticket))
                               failRun(*state, connection.End(state->id, end.run));
                           runs.erase(end.ticket);
                       },
                       [&](RemoveRun &remove) {
                           if (const QString reason = connection.DeleteRun(remove.runId); !reason.isEmpty())
                               Report(reason);
                       },
                       [&](RemoveDomain &remove) {
                           if (const QString reason = connection.DeleteDomain(remove.domain); !reason.isEmpty())
                               Report(reason);
                       },
                   },
                   job);
        {
            const std::lock_guard lock(mutex_);
            ++finished_;
        }
        done_.notify_all();
    }
}

} // namespace vantorel
