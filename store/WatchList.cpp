#include "WatchList.h"

#include "HistoryDatabase.h"

#include <QSqlDatabase>

namespace vantorel {

namespace {

const QString kColumns = QStringLiteral(
    "SELECT domain_name, interval_hours, added_at, last_recheck_at, claimed_by, claim_expires_at, confirm_checks, "
    "unconfirmed_losses FROM watch");

QVariant Millis(const QDateTime &time)
{
    return time.toMSecsSinceEpoch();
}

QDateTime TimeOf(const QVariant &millis)
{
    return millis.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(millis.toLongLong());
}

QSqlQuery Prepared(const QSqlDatabase &db, const QString &sql, QSqlError &error)
{
    QSqlQuery query(db);
    if (!query.prepare(sql))
        error = query.lastError();
    return query;
}

} // namespace

WatchList::WatchList(QString path) : connection_(std::move(path), QStringLiteral("watch-list")) {}

WatchList::~WatchList() = default;

// work(db, error) runs inside one transaction; false from it, or a failure to begin or commit,
// rolls everything back and sets Error().
template <typename Work>
bool WatchList::Transaction(Access access, Work work)
{
    error_ = InTransaction(connection_, access == Access::Write, work);
    return error_.isEmpty();
}

bool WatchList::Watch(const QString &domain, int intervalHours, const QDateTime &now, int confirmChecks)
{
    return Transaction(Access::Write, [&](const QSqlDatabase &db, QSqlError &error) {
        // One statement, which both engines spell alike: on a server two programs watching the
        // same new site at once would otherwise both insert it, and one would fail.
        QSqlQuery insert = Prepared(db, QStringLiteral("INSERT INTO watch (domain_name, interval_hours, added_at, confirm_checks) "
                                                       "VALUES (?, ?, ?, ?) ON CONFLICT (domain_name) DO UPDATE SET "
                                                       "interval_hours = excluded.interval_hours, confirm_checks = excluded.confirm_checks"),
                                    error);
        return ExecBound(insert, {domain, intervalHours, Millis(now), confirmChecks}, error);
    });
}

std::optional<bool> WatchList::Unwatch(const QString &domain)
{
    bool removed = false;
    const bool done = Transaction(Access::Write, [&](const QSqlDatabase &db, QSqlError &error) {
        QSqlQuery remove = Prepared(db, QStringLiteral("DELETE FROM watch WHERE domain_name = ?"), error);
        if (!ExecBound(remove, {domain}, error))
            return false;
        removed = remove.numRowsAffected() > 0;
        return true;
    });
    return done ? std::optional(removed) : std::nullopt;
}

std::optional<std::vector<WatchedDomain>> WatchList::Watched()
{
    std::vector<WatchedDomain> watched;
    const bool done = Transaction(Access::Read, [&](const QSqlDatabase &db, QSqlError &error) {
        QSqlQuery query = Prepared(db, kColumns + QStringLiteral(" ORDER BY domain_name"), error);
        if (!ExecBound(query, {}, error))
            return false;
        while (query.next())
            watched.push_back({query.value(0).toString(), query.value(1).toInt(), TimeOf(query.value(2)),
                               TimeOf(query.value(3)), query.value(4).toString(), TimeOf(query.value(5)),
                               query.value(6).toInt(), query.value(7).toInt()});
        return true;
    });
    return done ? std::optional(std::move(watched)) : std::nullopt;
}

// The one operation that must hold across workers. On a file the write lock is taken before the
// due site is chosen; on a server the chosen row is locked and other workers pass over it. The
// update takes the site only while no live claim holds it.
std::optional<DueSite> WatchList::ClaimDue(const QString &worker, const QDateTime &now, std::chrono::seconds hold)
{
    std::optional<DueSite> claimed;
    const qint64 at = now.toMSecsSinceEpoch();
    Transaction(Access::Write, [&](const QSqlDatabase &db, QSqlError &error) {
        QSqlQuery due = Prepared(
            db, QStringLiteral("SELECT domain_name, confirm_checks FROM watch "
                               "WHERE (last_recheck_at IS NULL OR %1 <= ?) "
                               "AND (claim_expires_at IS NULL OR claim_expires_at <= ?) "
                               "ORDER BY %1, domain_name LIMIT 1").arg(kWatchDue)
                + ClaimingRow(db),
            error);
        if (!ExecBound(due, {at, at}, error))
            return false;
        if (!due.next())
            return true;
        const QString domain = due.value(0).toString();
        const int confirmChecks = due.value(1).toInt();
        due.finish();
        QSqlQuery claim = Prepared(db, QStringLiteral("UPDATE watch SET claimed_by = ?, claim_expires_at = ? "
                                                      "WHERE domain_name = ? "
                                                      "AND (claim_expires_at IS NULL OR claim_expires_at <= ?)"),
                                   error);
        if (!ExecBound(claim, {worker, at + std::chrono::milliseconds(hold).count(), domain, at}, error))
            return false;
        if (claim.numRowsAffected() == 1)
            claimed = DueSite{domain, confirmChecks};
        return true;
    });
    return claimed;
}

bool WatchList::Renew(const QString &domain, const QString &worker, const QDateTime &until)
{
    bool held = false;
    const bool done = Transaction(Access::Write, [&](const QSqlDatabase &db, QSqlError &error) {
        QSqlQuery renew = Prepared(
            db, QStringLiteral("UPDATE watch SET claim_expires_at = ? WHERE domain_name = ? AND claimed_by = ?"), error);
        if (!ExecBound(renew, {Millis(until), domain, worker}, error))
            return false;
        held = renew.numRowsAffected() == 1;
        return true;
    });
    return done && held;
}

bool WatchList::Release(const QString &domain, const QString &worker, const std::optional<QDateTime> &recheckedAt,
                        int unconfirmedLosses)
{
    return Transaction(Access::Write, [&](const QSqlDatabase &db, QSqlError &error) {
        QSqlQuery release = Prepared(db, QStringLiteral("UPDATE watch SET last_recheck_at = COALESCE(?, last_recheck_at), "
                                                        "unconfirmed_losses = COALESCE(?, unconfirmed_losses), "
                                                        "claimed_by = NULL, claim_expires_at = NULL "
                                                        "WHERE domain_name = ? AND claimed_by = ?"),
                                     error);
        const QVariant at = recheckedAt ? Millis(*recheckedAt) : QVariant(QMetaType(QMetaType::LongLong));
        const QVariant losses = recheckedAt ? QVariant(unconfirmedLosses) : QVariant(QMetaType(QMetaType::Int));
        return ExecBound(release, {at, losses, domain, worker}, error);
    });
}

} // namespace vantorel
