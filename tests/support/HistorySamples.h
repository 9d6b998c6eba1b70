#pragma once

// Rows for the history tests and benchmarks, the same in every process that writes them.

#include <HistoryTypes.h>

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

} // namespace vantorel
