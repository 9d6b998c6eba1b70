#include "HistoryReport.h"

#include <Domain.h>

#include <QJsonArray>

namespace vantorel {

namespace {

QString ShownTime(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QJsonValue JsonTime(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toString(Qt::ISODate)) : QJsonValue();
}

QJsonObject RunObject(const StoredRun &run)
{
    return {{QStringLiteral("id"), run.id},
            {QStringLiteral("domain"), SiteShown(run.domain)},
            {QStringLiteral("source"), SourceName(run.source)},
            {QStringLiteral("startedAt"), JsonTime(run.startedAt)},
            {QStringLiteral("endedAt"), JsonTime(run.endedAt)},
            {QStringLiteral("outcome"), run.outcome ? RunOutcomeName(*run.outcome) : QStringLiteral("interrupted")},
            {QStringLiteral("count"), run.EngineCount() ? QJsonValue(*run.EngineCount()) : QJsonValue()},
            {QStringLiteral("reason"), run.FailureReason() ? QJsonValue(*run.FailureReason()) : QJsonValue()}};
}

// Whether the run judged rows to count: not a search that failed.
bool JudgedRows(const std::optional<RunSummary> &summary)
{
    return summary && !(summary->run.outcome && IsSearchFailure(*summary->run.outcome));
}

} // namespace

QJsonValue CheckJson(const std::optional<AddressCheck> &check)
{
    if (!check)
        return QJsonValue();
    QJsonArray links;
    for (qsizetype i = 0; i < check->anchors.size(); ++i)
        links.append(QJsonObject{{QStringLiteral("url"), check->targets.value(i)},
                                 {QStringLiteral("anchor"), check->anchors[i]}});
    return QJsonObject{{QStringLiteral("outcome"), OutcomeName(check->outcome)},
                       {QStringLiteral("checkedAt"), JsonTime(check->checkedAt)},
                       {QStringLiteral("cause"), check->cause.isEmpty() ? QJsonValue() : QJsonValue(check->cause)},
                       {QStringLiteral("links"), links}};
}

CellTable RunsTable(const std::vector<RunSummary> &runs)
{
    CellTable table{{QStringLiteral("编号"), QStringLiteral("开始时间"), QStringLiteral("来源"), QStringLiteral("运行状态"),
                     QStringLiteral("行数"), QStringLiteral("有效"), QStringLiteral("已失效"), QStringLiteral("未能检测"),
                     QStringLiteral("丢失"), QStringLiteral("搜索结果数"), QStringLiteral("原因")},
                    {},
                    kRunReasonColumn};
    for (const RunSummary &summary : runs) {
        const StoredRun &run = summary.run;
        table.rows.push_back({QString::number(run.id), ShownTime(run.startedAt), SourceWord(run.source),
                              RunOutcomeWord(run), QString::number(summary.rows), QString::number(summary.valid),
                              QString::number(summary.removed), QString::number(summary.unreachable),
                              QString::number(summary.lost), run.EngineCount().value_or(QString()),
                              run.FailureReason().value_or(QString())});
    }
    return table;
}

QJsonObject RunsJson(const QString &domain, const std::vector<RunSummary> &runs)
{
    QJsonArray array;
    for (const RunSummary &summary : runs) {
        QJsonObject object = RunObject(summary.run);
        object.insert(QStringLiteral("rows"), summary.rows);
        object.insert(QStringLiteral("valid"), summary.valid);
        object.insert(QStringLiteral("removed"), summary.removed);
        object.insert(QStringLiteral("unreachable"), summary.unreachable);
        object.insert(QStringLiteral("lost"), summary.lost);
        array.append(object);
    }
    return {{QStringLiteral("domain"), SiteShown(SiteKey(domain))}, {QStringLiteral("runs"), array}};
}

CellTable ChangesTable(const RunChanges &changes)
{
    CellTable table{{QStringLiteral("变化"), QStringLiteral("序号"), QStringLiteral("外链地址"), QStringLiteral("上次"),
                     QStringLiteral("本次"), QStringLiteral("依据")},
                    {},
                    3};
    for (const RowChange &change : changes.changes) {
            table.rows.push_back({ChangeLabel(change), QString::number(change.number), change.address,
                              CheckDescription(change.before, change.after), CheckDescription(change.after, change.before),
                              change.Told().evidence});
    }
    return table;
}

QStringList ChangeSummary(const std::vector<RowChange> &changes)
{
    constexpr qsizetype kAddressesNamed = 10;
    QStringList lines;
    for (const ChangeKindNames &kind : ChangeKinds()) {
        QStringList addresses;
        for (const RowChange &change : changes)
            if (change.kind == kind.kind)
                addresses << change.address;
        if (addresses.isEmpty())
            continue;
        QString line = QStringLiteral("%1 %2 条：").arg(QString::fromUtf16(kind.word)).arg(addresses.size()) +
                       addresses.first(std::min(addresses.size(), kAddressesNamed)).join(u'、');
        if (addresses.size() > kAddressesNamed)
            line += QStringLiteral(" 等 %1 条").arg(addresses.size());
        lines << line;
    }
    return lines;
}

QJsonObject ChangesJson(const RunChanges &changes)
{
    QJsonArray array;
    for (const RowChange &change : changes.changes) {
        QJsonObject object{{QStringLiteral("kind"), ChangeId(change.kind)},
                           {QStringLiteral("number"), change.number},
                           {QStringLiteral("address"), change.address},
                           {QStringLiteral("before"), CheckJson(change.before)},
                           {QStringLiteral("after"), CheckJson(change.after)},
                           {QStringLiteral("evidence"), change.Told().evidence}};
        if (change.kind == ChangeKind::UnconfirmedLoss) { // which of the checks that confirm a loss
            object.insert(QStringLiteral("miss"), change.miss);
            object.insert(QStringLiteral("confirmChecks"), change.confirmChecks);
        }
        array.append(object);
    }
    return {{QStringLiteral("run"), RunObject(changes.run)},
            {QStringLiteral("previous"), changes.previous ? QJsonValue(RunObject(*changes.previous)) : QJsonValue()},
            {QStringLiteral("changes"), array}};
}

CellTable WatchedTable(const std::vector<WatchedSite> &sites)
{
    CellTable table{{QStringLiteral("网站"), QStringLiteral("间隔（小时）"), QStringLiteral("上次复查"),
                     QStringLiteral("下次复查"), QStringLiteral("最近检测"), QStringLiteral("运行状态"),
                     QStringLiteral("有效"), QStringLiteral("已失效"), QStringLiteral("未能检测")},
                    {}, {}};
    for (const WatchedSite &site : sites) {
        const WatchedDomain &watch = site.watch;
        const auto count = [&site](int RowCounts::*field) {
            return JudgedRows(site.last) ? QString::number((*site.last).*field) : QString();
        };
        table.rows.push_back({SiteShown(watch.domain), QString::number(watch.intervalHours), ShownTime(watch.lastRecheck),
                              watch.lastRecheck.isValid() ? ShownTime(watch.NextRecheck()) : QStringLiteral("立即"),
                              site.last ? ShownTime(site.last->run.startedAt) : QString(),
                              site.last ? RunOutcomeWord(site.last->run) : QString(), count(&RowCounts::valid),
                              count(&RowCounts::removed), count(&RowCounts::unreachable)});
    }
    return table;
}

QJsonObject WatchedJson(const std::vector<WatchedSite> &sites)
{
    QJsonArray array;
    for (const WatchedSite &site : sites) {
        const WatchedDomain &watch = site.watch;
        QJsonObject last;
        if (site.last) {
            const auto count = [&site](int RowCounts::*field) {
                return JudgedRows(site.last) ? QJsonValue((*site.last).*field) : QJsonValue();
            };
            last = RunObject(site.last->run);
            last.insert(QStringLiteral("rows"), count(&RowCounts::rows));
            last.insert(QStringLiteral("valid"), count(&RowCounts::valid));
            last.insert(QStringLiteral("removed"), count(&RowCounts::removed));
            last.insert(QStringLiteral("unreachable"), count(&RowCounts::unreachable));
        }
        array.append(QJsonObject{{QStringLiteral("domain"), watch.domain},
                                 {QStringLiteral("intervalHours"), watch.intervalHours},
                                 {QStringLiteral("lastRecheck"), JsonTime(watch.lastRecheck)},
                                 {QStringLiteral("nextRecheck"), JsonTime(watch.NextRecheck())},
                                 // host:pid of the worker re-checking it, or of one that died
                                 // holding it, until the claim expires
                                 {QStringLiteral("claimedBy"), watch.claimedBy.isEmpty() ? QJsonValue() : QJsonValue(watch.claimedBy)},
                                 {QStringLiteral("claimExpires"), JsonTime(watch.claimExpires)},
                                 {QStringLiteral("lastRun"), site.last ? QJsonValue(last) : QJsonValue()}});
    }
    return {{QStringLiteral("watched"), array}};
}

} // namespace vantorel
