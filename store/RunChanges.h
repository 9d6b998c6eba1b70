#pragma once

#include "HistoryTypes.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace vantorel {

// An address as one run found it: what comparing runs needs of a stored row.
struct AddressCheck {
    int number = 0;
    QString address;
    StoredOutcome outcome = StoredOutcome::Unreachable;
    // For an unreachable row: the outcome of the address's latest reachable check before this
    // row's run, when there was one.
    std::optional<StoredOutcome> lastReachable;
    QDateTime checkedAt;
};

enum class ChangeKind {
    Added,            // 新增: not listed by the previous run
    Lost,             // 丢失: 有效 when last reachable, removed now
    Restored,         // 恢复: removed when last reachable, 有效 now
    BecameNofollow,   // 变为 nofollow: passed weight, passes none now
    BecameFollow,     // 变为 follow
    StillUnreachable, // 仍无法访问
    BecameUnreachable,// 变为无法访问: reachable before (有效 or removed); never 丢失
    NoLongerListed,   // 未再列出: the engine no longer lists it; it is not lost
};
QString ChangeWord(ChangeKind kind);
QString ChangeKindName(ChangeKind kind); // for programs: "lost", "became-unreachable", ...

struct RowChange {
    ChangeKind kind = ChangeKind::Added;
    QString address;
    int number = 0; // in the later run; in the earlier one for 未再列出
    std::optional<StoredOutcome> before;
    std::optional<StoredOutcome> after;
};

// How an address changed from its previous check to now; nothing when it did not (still 有效
// with the same weight, still removed) or when no reachable check came before an unreachable
// one and the address is reachable now.
std::optional<ChangeKind> ChangeOf(const AddressCheck &before, StoredOutcome now);

// The changes of a run against an earlier run of the same domain, address by address: the later
// run's rows in order, then the addresses it no longer lists. Only a search run lists addresses
// anew, so only it has 新增, and only a completed one 未再列出 (a stopped run never judged the
// rest). An address a run lists twice counts by its first row.
std::vector<RowChange> CompareRuns(const std::vector<AddressCheck> &before, const std::vector<AddressCheck> &after,
                                   RunSource afterSource, bool afterCompleted);

// The run a run is compared with: the latest completed run of the same domain that started
// before it; for a search run, the latest completed search run, so that 新增 and 未再列出 speak of
// the engine's listing. runs: one domain's runs, oldest first.
const StoredRun *PreviousRun(const std::vector<StoredRun> &runs, const StoredRun &run);

// The line a row's tool tip gains when its address was checked before: when, what it was, and
// how it changed since: "上次检测（2026-12-01 09:30）：有效，传递权重 · 丢失".
QString PreviousCheckLine(const AddressCheck &last, std::optional<StoredOutcome> now);

} // namespace vantorel
