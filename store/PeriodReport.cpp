#include "PeriodReport.h"

#include <Domain.h>

#include <QJsonArray>

#include <algorithm>

namespace vantorel {

namespace {

QString ShownTime(const QDateTime &time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QStringList CountCells(const std::optional<RunSummary> &counts)
{
    if (!counts)
        return {QStringLiteral("—"), QStringLiteral("—"), QStringLiteral("—")};
    return {QString::number(counts->valid), QString::number(counts->removed), QString::number(counts->unreachable)};
}

QJsonValue CountsJson(const std::optional<RunSummary> &counts)
{
    if (!counts)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("run"), counts->run.id},
                       {QStringLiteral("endedAt"), counts->run.endedAt.toString(Qt::ISODate)},
                       {QStringLiteral("rows"), counts->rows},
                       {QStringLiteral("valid"), counts->valid},
                       {QStringLiteral("removed"), counts->removed},
                       {QStringLiteral("unreachable"), counts->unreachable}};
}

} // namespace

int SiteReport::Lost() const
{
    return static_cast<int>(std::count_if(changes.begin(), changes.end(),
                                          [](const ReportedChange &told) { return IsLoss(told.change.kind); }));
}

int PeriodReport::Lost() const
{
    int lost = 0;
    for (const SiteReport &site : sites)
        lost += site.Lost();
    return lost;
}

std::optional<PeriodReport> ReadPeriodReport(HistoryReader &reader, const QStringList &domains, const QDateTime &since,
                                             const QDateTime &until)
{
    PeriodReport report{since, until, {}};
    QStringList keys;
    for (const QString &domain : domains)
        keys << SiteKey(domain);
    if (keys.isEmpty()) {
        for (const DomainSummary &summary : reader.Domains())
            keys << summary.domain;
        keys.sort();
    }
    keys.removeDuplicates();
    for (const QString &key : std::as_const(keys)) {
        SiteReport site{key, {}, {}, {}, {}};
        std::vector<RunSummary> runs = reader.Runs(key);
        if (!reader.Error().isEmpty())
            return std::nullopt;
        std::reverse(runs.begin(), runs.end()); // oldest first
        for (const RunSummary &summary : runs) {
            const StoredRun &run = summary.run;
            const bool completed = run.outcome == RunOutcome::Completed && run.endedAt.isValid();
            if (completed && run.endedAt <= since)
                site.start = summary;
            if (completed && run.endedAt <= until) {
                site.end = summary;
                if (run.endedAt > since)
                    site.completed.push_back(summary);
            }
            if (run.startedAt < since || run.startedAt > until)
                continue;
            const std::optional<RunChanges> changes = reader.Changes(run.id);
            if (!changes)
                return std::nullopt;
            for (const RowChange &change : changes->changes)
                if (change.kind != ChangeKind::StillUnreachable)
                    site.changes.push_back({run, change});
        }
        report.sites.push_back(std::move(site));
    }
    return report;
}

CellTable ReportSitesTable(const PeriodReport &report)
{
    CellTable table{{QStringLiteral("网站"), QStringLiteral("期初有效"), QStringLiteral("期初已失效"),
                     QStringLiteral("期初未能检测"), QStringLiteral("期末有效"), QStringLiteral("期末已失效"),
                     QStringLiteral("期末未能检测"), QStringLiteral("完成的检测"), QStringLiteral("变化"),
                     QStringLiteral("丢失")},
                    {},
                    {}};
    for (const SiteReport &site : report.sites)
        table.rows.push_back(QStringList{SiteShown(site.domain)} + CountCells(site.start) + CountCells(site.end) +
                             QStringList{QString::number(site.completed.size()), QString::number(site.changes.size()),
                                         QString::number(site.Lost())});
    return table;
}

CellTable ReportChangesTable(const PeriodReport &report)
{
    CellTable table{{QStringLiteral("网站"), QStringLiteral("检测时间"), QStringLiteral("检测编号"), QStringLiteral("变化"),
                     QStringLiteral("上次"), QStringLiteral("本次"), QStringLiteral("外链地址")},
                    {},
                    {}};
    for (const SiteReport &site : report.sites)
        for (const ReportedChange &told : site.changes)
            table.rows.push_back({SiteShown(site.domain), ShownTime(told.run.startedAt), QString::number(told.run.id),
                                  ChangeWord(told.change.kind), CheckDescription(told.change.before, told.change.after),
                                  CheckDescription(told.change.after, told.change.before), told.change.address});
    return table;
}

QJsonObject ReportJson(const PeriodReport &report)
{
    QJsonArray sites;
    for (const SiteReport &site : report.sites) {
        QJsonArray runs;
        for (const RunSummary &run : site.completed)
            runs.append(QJsonObject{{QStringLiteral("id"), run.run.id},
                                    {QStringLiteral("endedAt"), run.run.endedAt.toString(Qt::ISODate)},
                                    {QStringLiteral("valid"), run.valid},
                                    {QStringLiteral("removed"), run.removed},
                                    {QStringLiteral("unreachable"), run.unreachable}});
        QJsonArray changes;
        for (const ReportedChange &told : site.changes)
            changes.append(QJsonObject{{QStringLiteral("run"), told.run.id},
                                       {QStringLiteral("startedAt"), told.run.startedAt.toString(Qt::ISODate)},
                                       {QStringLiteral("kind"), ChangeId(told.change.kind)},
                                       {QStringLiteral("word"), ChangeWord(told.change.kind)},
                                       {QStringLiteral("address"), told.change.address},
                                       {QStringLiteral("before"), CheckJson(told.change.before)},
                                       {QStringLiteral("after"), CheckJson(told.change.after)},
                                       {QStringLiteral("evidence"), told.change.Told().evidence}});
        sites.append(QJsonObject{{QStringLiteral("domain"), SiteShown(site.domain)},
                                 {QStringLiteral("start"), CountsJson(site.start)},
                                 {QStringLiteral("end"), CountsJson(site.end)},
                                 {QStringLiteral("runs"), runs},
                                 {QStringLiteral("changes"), changes}});
    }
    return {{QStringLiteral("since"), report.since.toString(Qt::ISODate)},
            {QStringLiteral("until"), report.until.toString(Qt::ISODate)},
            {QStringLiteral("sites"), sites}};
}

} // namespace vantorel
