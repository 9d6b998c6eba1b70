#pragma once

// Rows for the history tests and benchmarks, the same in every process that writes them.

#include <HistoryTypes.h>
#include <HistoryWriter.h>

namespace vantorel {

// A judged row with three links to the domain, the second with rel tokens; addressLength pads
// the address to that many characters.
inline StoredRow SampleRow(int number, const QString &address, StoredOutcome outcome = StoredOutcome::PassesWeight,
                           int addressLength = 0)
{
    StoredRow row;
    row.number = number;
    row.address = address.leftJustified(addressLength, u'x');
    row.finalUrl = address + QStringLiteral("?final");
    row.verdict = IsValid(outcome) ? QStringLiteral("有效") : QStringLiteral("无效");
    row.outcome = outcome;
    row.pageHad = outcome != StoredOutcome::Unreachable;
    row.httpStatus = outcome == StoredOutcome::Unreachable ? 0 : 200;
    row.failureCause = outcome == StoredOutcome::Unreachable ? QStringLiteral("连接超时") : QString();
    row.charset = QStringLiteral("UTF-8");
    row.links = {{QStringLiteral("https://example.com/"), QStringLiteral("首页 %1").arg(number)},
                 {QStringLiteral("https://example.com/shop"), QStringLiteral("商店"), true, true, false},
                 {QStringLiteral("https://www.example.com/a?b=1"), QStringLiteral("a page of the shop")}};
    row.checkedAt = QDateTime::currentDateTime();
    return row;
}

// Ten days of daily re-checks of two sites, the last a day ago, of twelve addresses each:
// example.com finds p0 removed from day 5 and cannot reach p1 from day 7, its day-6 run stopped
// after five rows; 例子.中国 finds p2 removed from day 1. Returns the writer's failure, if any.
inline QString WriteTenDaysOfTwoSites(const QString &file)
{
    HistoryWriter writer(file);
    const QDateTime start = QDateTime::currentDateTime().addDays(-10);
    for (int day = 0; day < 10; ++day)
        for (const QString &site : {QStringLiteral("example.com"), QStringLiteral("例子.中国")}) {
            const bool first = site == u"example.com";
            const bool stopped = first && day == 6;
            const HistoryWriter::Ticket run = writer.BeginRun(site, RunSource::Recheck, start.addDays(day));
            for (int i = 0; i < (stopped ? 5 : 12); ++i) {
                StoredOutcome outcome = StoredOutcome::PassesWeight;
                if (first && i == 0 && day >= 5)
                    outcome = StoredOutcome::Removed;
                if (first && i == 1 && day >= 7)
                    outcome = StoredOutcome::Unreachable;
                if (!first && i == 2 && day >= 1)
                    outcome = StoredOutcome::Removed;
                writer.SaveRow(run, SampleRow(i + 1, QStringLiteral("http://p%1.example.org/").arg(i), outcome));
            }
            writer.EndRun(run, stopped ? RunOutcome::Stopped : RunOutcome::Completed, std::nullopt,
                          start.addDays(day).addSecs(60));
        }
    writer.WaitUntilWritten();
    return writer.FirstFailure();
}

} // namespace vantorel
