#include "HistoryCopy.h"

#include "HistoryDatabase.h"
#include "ServerAddress.h"

#include <QFileInfo>
#include <QSqlRecord>

#include <algorithm>
#include <map>

namespace vantorel {

namespace {

// The tables a history holds, each after the tables it refers to: its own id, if it has one, and
// the columns that hold another table's id.
struct Table {
    const char *name;
    bool hasId;
    std::vector<std::pair<QString, QString>> references; // column, table
    const char16_t *words;
    bool targetWins = false; // a row the target holds under the same key stays as it is
};
const Table kTables[] = {
    // A run's place among the completed runs moves as an id does, past the target's own.
    {"run", true, {{QStringLiteral("end_order"), QStringLiteral("end_order")}}, u"检测 %1 次"},
    {"row_state", true, {}, u"网页状态 %1 种"},
    {"address", true, {{QStringLiteral("found_run"), QStringLiteral("run")}}, u"地址 %1 个"},
    {"run_check", false,
     {{QStringLiteral("run_id"), QStringLiteral("run")}, {QStringLiteral("address_id"), QStringLiteral("address")},
      {QStringLiteral("state_id"), QStringLiteral("row_state")}},
     u"网页 %1 行"},
    {"state_link", false, {{QStringLiteral("state_id"), QStringLiteral("row_state")}}, u"链接 %1 条"},
    {"watch", false, {}, u"关注 %1 个网站", true},
};

// Rows go in by the hundred: a server answers each statement over the network.
constexpr int kRowsPerInsert = 100;

// One end of the copy: a connection of its own, removed with it.
class End {
public:
    End(const QString &location, const char *role) : location_(location), name_(QStringLiteral("vantorel-copy-") + QLatin1String(role)) {}
    ~End()
    {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    QString Open() { return OpenHistory(name_, location_); }
    QSqlDatabase Database() const { return QSqlDatabase::database(name_, false); }
    QString Reason(const QSqlError &error) const { return StoreFailureReason(error, location_); }

private:
    const QString location_;
    const QString name_;
};

std::optional<qint64> Number(const QSqlDatabase &db, const QString &sql, QSqlError &error)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next()) {
        error = query.lastError();
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

// INSERT INTO table (columns) VALUES (?, …), … for that many rows.
QString InsertStatement(const Table &table, const QStringList &columns, int rows)
{
    const QString row = u'(' + QStringList(columns.size(), QStringLiteral("?")).join(u", ") + u')';
    return QStringLiteral("INSERT INTO %1 (%2) VALUES %3%4")
        .arg(QLatin1String(table.name), columns.join(u", "), QStringList(rows, row).join(u", "),
             table.targetWins ? QStringLiteral(" ON CONFLICT DO NOTHING") : QString());
}

// Copies one table's rows, the ids moved by the offsets of the tables they name. How many the
// target took.
std::optional<qint64> CopyTable(const Table &table, QSqlDatabase &source, QSqlDatabase &target,
                               const std::map<QString, qint64> &offsets, QSqlError &error)
{
    const QString name = QLatin1String(table.name);
    const QSqlRecord record = source.record(name);
    QStringList columns;
    std::vector<qint64> shifts; // what each column's value moves by
    for (int i = 0; i < record.count(); ++i) {
        columns << record.fieldName(i);
        const auto reference = std::find_if(table.references.begin(), table.references.end(),
                                            [&](const auto &entry) { return entry.first == columns.back(); });
        const bool isId = table.hasId && columns.back() == u"id";
        shifts.push_back(isId ? offsets.at(name) : reference != table.references.end() ? offsets.at(reference->second) : 0);
    }
    QSqlQuery rows(source);
    rows.setForwardOnly(true);
    if (!rows.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(u", "), name, columns.first()))) {
        error = rows.lastError();
        return std::nullopt;
    }
    QSqlQuery full(target);
    if (!full.prepare(InsertStatement(table, columns, kRowsPerInsert))) {
        error = full.lastError();
        return std::nullopt;
    }
    qint64 copied = 0;
    int waiting = 0;
    QVariantList values;
    const auto insert = [&](QSqlQuery &statement) {
        for (const QVariant &value : values)
            statement.addBindValue(value);
        values.clear();
        waiting = 0;
        if (statement.exec()) {
            copied += statement.numRowsAffected();
            return true;
        }
        error = statement.lastError();
        return false;
    };
    while (rows.next()) {
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant value = rows.value(i);
            values << (shifts[static_cast<std::size_t>(i)] && !value.isNull()
                           ? QVariant(value.toLongLong() + shifts[static_cast<std::size_t>(i)])
                           : value);
        }
        if (++waiting == kRowsPerInsert && !insert(full))
            return std::nullopt;
    }
    if (rows.lastError().isValid()) {
        error = rows.lastError();
        return std::nullopt;
    }
    if (waiting > 0) {
        QSqlQuery rest(target);
        if (!rest.prepare(InsertStatement(table, columns, waiting)) || !insert(rest)) {
            error = error.isValid() ? error : rest.lastError();
            return std::nullopt;
        }
    }
    return copied;
}

// After a merge a site's address may be kept twice, once from each history: its checks and the
// link agreed for it move to the first, and the site's spans are made anew from them all. Each site's spans are made from
// its checks, which a copy moves.
bool JoinAddresses(QSqlDatabase &db, QSqlError &error)
{
    const QString twice = QStringLiteral("SELECT a.id FROM address a JOIN address b ON b.domain_name = a.domain_name "
                                         "AND b.address = a.address AND b.id < a.id");
    QSqlQuery query(db);
    // The link agreed for an address is kept with it: the first's, or the later's when the first has none.
    const QString agreed = QStringLiteral("b.expected_target IS NOT NULL OR b.expected_anchor IS NOT NULL OR b.expected_follow IS NOT NULL");
    const QString later = QStringLiteral("(SELECT b.%1 FROM address b WHERE b.domain_name = address.domain_name "
                                         "AND b.address = address.address AND b.id > address.id AND (%2) ORDER BY b.id LIMIT 1)");
    const QString statements[] = {
        QStringLiteral("UPDATE address SET expected_target = %1, expected_anchor = %2, expected_follow = %3 "
                       "WHERE expected_target IS NULL AND expected_anchor IS NULL AND expected_follow IS NULL AND EXISTS "
                       "(SELECT 1 FROM address b WHERE b.domain_name = address.domain_name AND b.address = address.address "
                       "AND b.id > address.id AND (%4))")
            .arg(later.arg(QStringLiteral("expected_target"), agreed), later.arg(QStringLiteral("expected_anchor"), agreed),
                 later.arg(QStringLiteral("expected_follow"), agreed), agreed),
        QStringLiteral("UPDATE run_check SET address_id = (SELECT MIN(b.id) FROM address a JOIN address b "
                       "ON b.domain_name = a.domain_name AND b.address = a.address WHERE a.id = run_check.address_id) "
                       "WHERE address_id IN (%1)").arg(twice),
        QStringLiteral("DELETE FROM address WHERE id IN (SELECT id FROM (%1) AS later)").arg(twice),
        QStringLiteral("DELETE FROM state_span"),
    };
    for (const QString &statement : statements)
        if (!query.exec(statement)) {
            error = query.lastError();
            return false;
        }
    QStringList domains;
    if (!query.exec(QStringLiteral("SELECT DISTINCT domain_name FROM run"))) {
        error = query.lastError();
        return false;
    }
    while (query.next())
        domains << query.value(0).toString();
    query.finish();
    return std::all_of(domains.begin(), domains.end(), [&](const QString &domain) { return RebuildSpans(db, domain, error); });
}

} // namespace

std::optional<std::vector<CopiedCount>> CopyHistory(const QString &from, const QString &to, bool merge, QString &error)
{
    if (!IsServerLocation(from) && !QFileInfo::exists(from)) {
        error = QStringLiteral("文件 %1 不存在").arg(from);
        return std::nullopt;
    }
    if (from == to || (!IsServerLocation(from) && QFileInfo(from).canonicalFilePath() == QFileInfo(to).canonicalFilePath())) {
        error = QStringLiteral("来源和目标是同一份历史记录");
        return std::nullopt;
    }
    End source(from, "from"), target(to, "to");
    if (!(error = source.Open()).isEmpty() || !(error = target.Open()).isEmpty())
        return std::nullopt;
    QSqlDatabase in = source.Database(), out = target.Database();
    QSqlError failure;
    QStringList names;
    for (const Table &table : kTables)
        names << QLatin1String(table.name);
    if (!BeginReading(in, failure)) {
        error = source.Reason(failure);
        return std::nullopt;
    }
    // Nobody else writes the target until the copy is in: its ids stay where they were read.
    if (!BeginWriting(out, names, failure)) {
        error = target.Reason(failure);
        return std::nullopt;
    }
    std::map<QString, qint64> offsets, before;
    std::vector<CopiedCount> counts;
    bool ok = true;
    const auto number = [&](const QSqlDatabase &db, const QString &sql) {
        const std::optional<qint64> value = ok ? Number(db, sql, failure) : std::nullopt;
        ok = ok && value;
        return value.value_or(0);
    };
    for (const Table &table : kTables) {
        const QString name = QLatin1String(table.name);
        before[name] = number(out, QStringLiteral("SELECT COUNT(*) FROM %1").arg(name));
        // Merged rows take ids past the target's own; a copy into an empty history keeps them.
        const qint64 targetLast = table.hasId ? number(out, QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM %1").arg(name)) : 0;
        const qint64 sourceFirst = table.hasId ? number(in, QStringLiteral("SELECT COALESCE(MIN(id), 0) FROM %1").arg(name)) : 0;
        offsets[name] = std::max<qint64>(0, targetLast + 1 - sourceFirst);
    }
    // Merged runs completed after the target's own.
    offsets[QStringLiteral("end_order")] =
        std::max<qint64>(0, number(out, QStringLiteral("SELECT COALESCE(MAX(end_order), 0) FROM run")) + 1 -
                                number(in, QStringLiteral("SELECT COALESCE(MIN(end_order), 0) FROM run")));
    if (ok && before.at(QStringLiteral("run")) > 0 && !merge) {
        out.rollback();
        in.rollback();
        error = QStringLiteral("%1 中已有 %2 次检测；要把两份历史记录合在一起，请加 --merge")
                    .arg(ShownLocation(to))
                    .arg(before.at(QStringLiteral("run")));
        return std::nullopt;
    }
    for (const Table &table : kTables) {
        const std::optional<qint64> copied = ok ? CopyTable(table, in, out, offsets, failure) : std::nullopt;
        ok = copied && (!table.hasId || CatchUpIds(out, QLatin1String(table.name), failure));
        if (ok)
            counts.push_back({QLatin1String(table.name), QString::fromUtf16(table.words), *copied});
    }
    // What the target holds is what it held and what was copied, counted before the commit and
    // under the copy's lock: a timer writing right after cannot make a copy that went in look
    // failed (and a user's retry with --merge copy it twice).
    for (const CopiedCount &count : counts) {
        const qint64 held = number(out, QStringLiteral("SELECT COUNT(*) FROM %1").arg(count.table));
        if (ok && held != before.at(count.table) + count.count) {
            out.rollback();
            in.rollback();
            error = QStringLiteral("复制后核对不符，没有复制任何记录：%1 中应有 %2，实有 %3")
                        .arg(ShownLocation(to), count.words.arg(before.at(count.table) + count.count), count.words.arg(held));
            return std::nullopt;
        }
    }
    ok = ok && JoinAddresses(out, failure) && ExecTransaction(out, QStringLiteral("COMMIT"), failure);
    in.rollback();
    if (!ok) {
        out.rollback();
        error = target.Reason(failure);
        return std::nullopt;
    }
    return counts;
}

} // namespace vantorel
