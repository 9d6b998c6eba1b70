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

QJsonValue JsonOutcome(const std::optional<StoredOutcome> &outcome)
{
    return outcome ? QJsonValue(OutcomeName(*outcome)) : QJsonValue();
}

QJsonObject RunObject(const StoredRun &run)
{
    return {{QStringLiteral("id"), run.id},
            {QStringLiteral("domain"), SiteShown(run.domain)},
            {QStringLiteral("source"), SourceName(run.source)},
            {QStringLiteral("startedAt"), JsonTime(run.startedAt)},
            {QStringLiteral("endedAt"), JsonTime(run.endedAt)},
            {QStringLiteral("outcome"), run.outcome ? RunOutcomeName(*run.outcome) : QStringLiteral("interrupted")},
            {QStringLiteral("count"), run.countText ? QJsonValue(*run.countText) : QJsonValue()}};
}

} // namespace

CellTable RunsTable(const std::vector<RunSummary> &runs)
{
    CellTable table{{QStringLiteral("编号"), QStringLiteral("开始时间"), QStringLiteral("来源"), QStringLiteral("结果"),
                     QStringLiteral("行数"), QStringLiteral("有效"), QStringLiteral("已失效"), QStringLiteral("未能检测"),
                     QStringLiteral("丢失"), QStringLiteral("结果数")},
                    {}};
    for (const RunSummary &summary : runs) {
        const StoredRun &run = summary.run;
        table.rows.push_back({QString::number(run.id), ShownTime(run.startedAt), SourceWord(run.source),
                              RunOutcomeWord(run), QString::number(summary.rows), QString::number(summary.valid),
                              QString::number(summary.removed), QString::number(summary.unreachable),
                              QString::number(summary.lost), run.countText.value_or(QString())});
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
    const auto word = [](const std::optional<StoredOutcome> &outcome) {
        return outcome ? OutcomeWord(*outcome) : QString();
    };
    CellTable table{{QStringLiteral("变化"), QStringLiteral("序号"), QStringLiteral("上次"), QStringLiteral("本次"),
                     QStringLiteral("外链地址")},
                    {}};
    for (const RowChange &change : changes.changes)
        table.rows.push_back({ChangeWord(change.kind), QString::number(change.number), word(change.before),
                              word(change.after), change.address});
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
    for (const RowChange &change : changes.changes)
        array.append(QJsonObject{{QStringLiteral("kind"), ChangeId(change.kind)},
                                 {QStringLiteral("number"), change.number},
                                 {QStringLiteral("address"), change.address},
                                 {QStringLiteral("before"), JsonOutcome(change.before)},
                                 {QStringLiteral("after"), JsonOutcome(change.after)},
                                 {QStringLiteral("beforeCheckedAt"), JsonTime(change.beforeCheckedAt)}});
    return {{QStringLiteral("run"), RunObject(changes.run)},
            {QStringLiteral("previous"), changes.previous ? QJsonValue(RunObject(*changes.previous)) : QJsonValue()},
            {QStringLiteral("changes"), array}};
}

CellTable WatchedTable(const std::vector<WatchedSite> &sites)
{
    CellTable table{{QStringLiteral("网站"), QStringLiteral("间隔（小时）"), QStringLiteral("上次复查"),
                     QStringLiteral("下次复查"), QStringLiteral("最近检测"), QStringLiteral("有效"),
                     QStringLiteral("已失效"), QStringLiteral("未能检测")},
                    {}};
    for (const WatchedSite &site : sites) {
        const WatchedDomain &watch = site.watch;
        const auto count = [&site](int RowCounts::*field) {
            return site.last ? QString::number((*site.last).*field) : QString();
        };
        table.rows.push_back({SiteShown(watch.domain), QString::number(watch.intervalHours), ShownTime(watch.lastRecheck),
                              watch.lastRecheck.isValid() ? ShownTime(watch.NextRecheck()) : QStringLiteral("立即"),
                              site.last ? ShownTime(site.last->run.startedAt) : QString(), count(&RowCounts::valid),
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
        if (site.last)
            last = {{QStringLiteral("id"), site.last->run.id},
                    {QStringLiteral("startedAt"), JsonTime(site.last->run.startedAt)},
                    {QStringLiteral("rows"), site.last->rows},
                    {QStringLiteral("valid"), site.last->valid},
                    {QStringLiteral("removed"), site.last->removed},
                    {QStringLiteral("unreachable"), site.last->unreachable}};
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
