#include "RunChanges.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace vantorel {

QString ChangeWord(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Added: return QStringLiteral("新增");
    case ChangeKind::Lost: return QStringLiteral("丢失");
    case ChangeKind::Restored: return QStringLiteral("恢复");
    case ChangeKind::BecameNofollow: return QStringLiteral("变为 nofollow");
    case ChangeKind::BecameFollow: return QStringLiteral("变为 follow");
    case ChangeKind::StillUnreachable: return QStringLiteral("仍无法访问");
    case ChangeKind::BecameUnreachable: return QStringLiteral("变为无法访问");
    case ChangeKind::NoLongerListed: break;
    }
    return QStringLiteral("未再列出");
}

QString ChangeKindName(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Added: return QStringLiteral("added");
    case ChangeKind::Lost: return QStringLiteral("lost");
    case ChangeKind::Restored: return QStringLiteral("restored");
    case ChangeKind::BecameNofollow: return QStringLiteral("became-nofollow");
    case ChangeKind::BecameFollow: return QStringLiteral("became-follow");
    case ChangeKind::StillUnreachable: return QStringLiteral("still-unreachable");
    case ChangeKind::BecameUnreachable: return QStringLiteral("became-unreachable");
    case ChangeKind::NoLongerListed: break;
    }
    return QStringLiteral("no-longer-listed");
}

std::optional<ChangeKind> ChangeOf(const AddressCheck &before, StoredOutcome now)
{
    const bool wasUnreachable = before.outcome == StoredOutcome::Unreachable;
    if (now == StoredOutcome::Unreachable)
        return wasUnreachable ? ChangeKind::StillUnreachable : ChangeKind::BecameUnreachable;
    // A page that could not be had says nothing about its link: compare with the last time it
    // could be.
    const std::optional<StoredOutcome> known = wasUnreachable ? before.lastReachable : before.outcome;
    if (!known)
        return std::nullopt;
    if (now == StoredOutcome::Removed)
        return IsValid(*known) ? std::optional(ChangeKind::Lost) : std::nullopt;
    if (*known == StoredOutcome::Removed)
        return ChangeKind::Restored;
    if (*known == now)
        return std::nullopt;
    return now == StoredOutcome::NoWeight ? ChangeKind::BecameNofollow : ChangeKind::BecameFollow;
}

std::vector<RowChange> CompareRuns(const std::vector<AddressCheck> &before, const std::vector<AddressCheck> &after,
                                   RunSource afterSource, bool afterCompleted)
{
    QHash<QString, const AddressCheck *> earlier;
    earlier.reserve(static_cast<qsizetype>(before.size()));
    for (const AddressCheck &row : before)
        if (!earlier.contains(row.address))
            earlier.insert(row.address, &row);

    const bool listing = afterSource == RunSource::Search;
    std::vector<RowChange> changes;
    QSet<QString> seen;
    seen.reserve(static_cast<qsizetype>(after.size()));
    for (const AddressCheck &row : after) {
        if (seen.contains(row.address))
            continue;
        seen.insert(row.address);
        const auto found = earlier.constFind(row.address);
        if (found == earlier.cend()) {
            if (listing)
                changes.push_back({ChangeKind::Added, row.address, row.number, std::nullopt, row.outcome});
        } else if (const std::optional<ChangeKind> kind = ChangeOf(**found, row.outcome)) {
            changes.push_back({*kind, row.address, row.number, (*found)->outcome, row.outcome});
        }
    }
    if (listing && afterCompleted)
        for (const AddressCheck &row : before)
            if (!seen.contains(row.address) && earlier.value(row.address) == &row)
                changes.push_back({ChangeKind::NoLongerListed, row.address, row.number, row.outcome, std::nullopt});
    return changes;
}

const StoredRun *PreviousRun(const std::vector<StoredRun> &runs, const StoredRun &run)
{
    auto it = std::lower_bound(runs.begin(), runs.end(), run.id,
                               [](const StoredRun &candidate, qint64 id) { return candidate.id < id; });
    while (it != runs.begin()) {
        --it;
        if (it->outcome == RunOutcome::Completed && (run.source != RunSource::Search || it->source == RunSource::Search))
            return &*it;
    }
    return nullptr;
}

QString PreviousCheckLine(const AddressCheck &last, std::optional<StoredOutcome> now)
{
    QString line = QStringLiteral("上次检测（%1）：%2")
                       .arg(last.checkedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            OutcomeWord(last.outcome));
    if (now)
        if (const std::optional<ChangeKind> kind = ChangeOf(last, *now))
            line += QStringLiteral(" · ") + ChangeWord(*kind);
    return line;
}

} // namespace vantorel
