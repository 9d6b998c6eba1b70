#include "HistoryPrune.h"

#include "HistoryDatabase.h"
#include "HistoryTypes.h"

#include <Domain.h>

#include <QSqlQuery>
#include <QStringList>

#include <set>

namespace vantorel {

namespace {

bool Exec(QSqlQuery &query, const QString &sql, std::initializer_list<QVariant> values, QSqlError &error)
{
    if (!query.prepare(sql)) {
        error = query.lastError();
        return false;
    }
    return ExecBound(query, values, error);
}

} // namespace

std::optional<qint64> PruneRuns(QSqlDatabase &db, const QString &domain, const QDateTime &before, QSqlError &error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    QStringList domains;
    if (!domain.isEmpty())
        domains << domain;
    else if (!Exec(query, QStringLiteral("SELECT DISTINCT domain_name FROM run"), {}, error))
        return std::nullopt;
    while (domain.isEmpty() && query.next())
        domains << query.value(0).toString();
    query.finish();
    qint64 deleted = 0;
    for (const QString &site : domains) {
        // The places among the completed where a span starts or ends: a change and what it was
        // judged against, and each address's latest check.
        std::set<qint64> kept;
        if (!Exec(query, QStringLiteral("SELECT s.first_order, s.last_order FROM address a "
                                        "JOIN state_span s ON s.address_id = a.id WHERE a.domain_name = ?"),
                  {site}, error))
            return std::nullopt;
        while (query.next()) {
            kept.insert(query.value(0).toLongLong());
            kept.insert(query.value(1).toLongLong());
        }
        // A check that could not be had is told again each time (仍无法访问).
        if (!Exec(query, QStringLiteral("SELECT id, end_order FROM run WHERE domain_name = ? AND started_at < ? "
                                        "AND end_order IS NOT NULL AND source <> ? AND unreachable_count = 0"),
                  {site, before.toMSecsSinceEpoch(), SourceName(RunSource::Search)}, error))
            return std::nullopt;
        std::vector<qint64> old;
        while (query.next())
            if (!kept.contains(query.value(1).toLongLong()))
                old.push_back(query.value(0).toLongLong());
        query.finish();
        QSqlQuery remove(db);
        if (!remove.prepare(QStringLiteral("DELETE FROM run WHERE id = ?"))) {
            error = remove.lastError();
            return std::nullopt;
        }
        for (const qint64 run : old)
            if (!ExecBound(remove, {run}, error))
                return std::nullopt;
        if (!old.empty() && !RebuildSpans(db, site, error))
            return std::nullopt;
        deleted += static_cast<qint64>(old.size());
    }
    // Their links go with them.
    if (deleted > 0 && !Exec(query, QStringLiteral("DELETE FROM row_state WHERE id NOT IN (SELECT state_id FROM run_check)"), {}, error))
        return std::nullopt;
    return deleted;
}

bool GiveSpaceBack(QSqlDatabase &db, QSqlError &error)
{
    if (db.driverName() != QLatin1String("QSQLITE"))
        return true;
    QSqlQuery query(db);
    if (!Exec(query, QStringLiteral("PRAGMA auto_vacuum"), {}, error) || !query.next()) {
        error = error.isValid() ? error : query.lastError();
        return false;
    }
    constexpr int kIncremental = 2;
    const bool incremental = query.value(0).toInt() == kIncremental;
    query.finish();
    if (!incremental)
        return Exec(query, QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL"), {}, error) &&
               Exec(query, QStringLiteral("VACUUM"), {}, error);
    if (!Exec(query, QStringLiteral("PRAGMA incremental_vacuum"), {}, error))
        return false;
    while (query.next()) {
    }
    return true;
}

bool ForgetAddress(QSqlDatabase &db, const QString &domain, const QString &address, QSqlError &error)
{
    QSqlQuery query(db);
    return Exec(query, QStringLiteral("UPDATE address SET forgotten = 1 WHERE domain_name = ? AND address = ?"), {domain, address},
                error) &&
           query.numRowsAffected() > 0;
}

bool AgreeLink(QSqlDatabase &db, const QString &domain, const QString &address, const LinkExpectation &agreed, QSqlError &error)
{
    const auto orNull = [](const auto &part) {
        using Value = std::decay_t<decltype(*part)>;
        return part ? QVariant::fromValue(*part) : QVariant(QMetaType::fromType<Value>());
    };
    QSqlQuery query(db);
    return Exec(query,
                QStringLiteral("UPDATE address SET expected_target = ?, expected_anchor = ?, expected_follow = ? "
                               "WHERE domain_name = ? AND address = ?"),
                {orNull(agreed.target), orNull(agreed.anchor),
                 agreed.follow ? QVariant(*agreed.follow ? 1 : 0) : QVariant(QMetaType::fromType<int>()), domain, address},
                error) &&
           query.numRowsAffected() > 0;
}

QString ForgottenText(const QString &domain, const QString &address)
{
    return QStringLiteral("复查 %1 时不再检测 %2，直到搜索引擎或地址列表再次列出它").arg(SiteShown(SiteKey(domain)), address);
}

QString AgreedText(const QString &address, const LinkExpectation &agreed, const std::optional<AddressCheck> &latest)
{
    if (agreed.Empty())
        return QStringLiteral("已清除 %1 的外链约定").arg(address);
    QString text = QStringLiteral("%1 的外链约定：%2").arg(address, ExpectationText(agreed));
    QStringList broken;
    if (latest)
        for (const ChangeKind kind : Mismatches(agreed, *latest))
            broken << ChangeWord(kind);
    if (!broken.isEmpty())
        text += QStringLiteral("（最近一次检测：%1）").arg(broken.join(u'、'));
    return text;
}

} // namespace vantorel
