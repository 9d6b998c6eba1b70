#include "RunChanges.h"

#include <QSet>

#include <algorithm>
#include <array>

namespace vantorel {

namespace {

constexpr std::array<ChangeKindNames, 9> kChangeKinds{{
    {ChangeKind::Added, u"新增", u"added"},
    {ChangeKind::Lost, u"丢失", u"lost"},
    {ChangeKind::Restored, u"恢复", u"restored"},
    {ChangeKind::BecameNofollow, u"变为 nofollow", u"became-nofollow"},
    {ChangeKind::BecameFollow, u"变为 follow", u"became-follow"},
    {ChangeKind::AnchorChanged, u"锚文本变化", u"anchor-changed"},
    {ChangeKind::BecameUnreachable, u"变为无法访问", u"became-unreachable"},
    {ChangeKind::StillUnreachable, u"仍无法访问", u"still-unreachable"},
    {ChangeKind::NoLongerListed, u"未再列出", u"no-longer-listed"},
}};

const ChangeKindNames &NamesOf(ChangeKind kind)
{
    return *std::find_if(kChangeKinds.begin(), kChangeKinds.end(),
                         [kind](const ChangeKindNames &names) { return names.kind == kind; });
}

// The check a change is judged against: a loss against the last check that could be had.
const AddressCheck *ComparedWith(const AddressPast &past, ChangeKind kind)
{
    if (kind == ChangeKind::Added)
        return nullptr;
    return kind == ChangeKind::Lost ? &*past.lastReachable : &*past.last;
}

// Each address's first row, in row order.
std::vector<const AddressCheck *> FirstRows(const std::vector<AddressCheck> &rows)
{
    std::vector<const AddressCheck *> first;
    QSet<QString> seen;
    seen.reserve(static_cast<qsizetype>(rows.size()));
    for (const AddressCheck &row : rows) {
        if (seen.contains(row.address))
            continue;
        seen.insert(row.address);
        first.push_back(&row);
    }
    return first;
}

} // namespace

AddressCheck CheckOf(const StoredRow &row)
{
    AddressCheck check{row.number, row.address, row.outcome, {}, row.checkedAt};
    for (const LinkEvidence &link : row.links)
        check.anchors << link.anchor;
    return check;
}

void AddressPast::Add(const AddressCheck &check)
{
    last = check;
    if (check.outcome != StoredOutcome::Unreachable)
        lastReachable = check;
}

std::span<const ChangeKindNames> ChangeKinds()
{
    return kChangeKinds;
}

QString ChangeWord(ChangeKind kind)
{
    return QString::fromUtf16(NamesOf(kind).word);
}

QString ChangeId(ChangeKind kind)
{
    return QString::fromUtf16(NamesOf(kind).id);
}

std::optional<ChangeKind> ChangeOf(const AddressPast &past, const AddressCheck &now, bool listsAnew)
{
    if (!past.last)
        return listsAnew ? std::optional(ChangeKind::Added) : std::nullopt;
    const StoredOutcome last = past.last->outcome;
    if (now.outcome == StoredOutcome::Unreachable)
        return last == StoredOutcome::Unreachable ? ChangeKind::StillUnreachable : ChangeKind::BecameUnreachable;
    // A page that could not be had says nothing about its link: a loss is judged against the last
    // check that could be had, so that it is told once, whatever came between.
    if (now.outcome == StoredOutcome::Removed)
        return past.lastReachable && IsValid(past.lastReachable->outcome) ? std::optional(ChangeKind::Lost)
                                                                          : std::nullopt;
    if (last == StoredOutcome::Removed || (last == StoredOutcome::Unreachable && past.lastReachable))
        return ChangeKind::Restored;
    if (last == StoredOutcome::Unreachable)
        return std::nullopt; // never had before: nothing to compare with
    if (last != now.outcome)
        return now.outcome == StoredOutcome::NoWeight ? ChangeKind::BecameNofollow : ChangeKind::BecameFollow;
    if (past.last->anchors != now.anchors)
        return ChangeKind::AnchorChanged;
    return std::nullopt;
}

std::vector<RowChange> ChangesOfRun(const StoredRun &run, const std::vector<AddressCheck> &rows,
                                    const QHash<QString, AddressPast> &pasts,
                                    const std::vector<AddressCheck> *previousSearch)
{
    const bool search = run.source == RunSource::Search;
    std::vector<RowChange> changes;
    if (run.source == RunSource::Import)
        return changes; // what an export said is the past of the checks that follow, no change of its own
    QSet<QString> listed;
    const AddressPast none;
    for (const AddressCheck *row : FirstRows(rows)) {
        listed.insert(row->address);
        const auto found = pasts.constFind(row->address);
        const AddressPast &past = found == pasts.cend() ? none : *found;
        if (const std::optional<ChangeKind> kind = ChangeOf(past, *row, search && previousSearch)) {
            const AddressCheck *before = ComparedWith(past, *kind);
            changes.push_back({*kind, row->address, row->number,
                               before ? std::optional(before->outcome) : std::nullopt, row->outcome,
                               before ? before->checkedAt : QDateTime()});
        }
    }
    // A stopped search never judged the rest, and a list names its own addresses.
    if (search && previousSearch && run.outcome == RunOutcome::Completed)
        for (const AddressCheck *row : FirstRows(*previousSearch))
            if (!listed.contains(row->address))
                changes.push_back({ChangeKind::NoLongerListed, row->address, row->number, row->outcome, std::nullopt,
                                   row->checkedAt});
    return changes;
}

std::vector<RowChange> SiteHistory::Add(const StoredRun &run, const std::vector<AddressCheck> &rows)
{
    std::vector<RowChange> changes = ChangesOfRun(run, rows, pasts_, lastSearch_ ? &*lastSearch_ : nullptr);
    // Backwards, so that an address listed twice keeps its first row, as the store reads it.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        pasts_[row->address].Add(*row);
    if (run.source == RunSource::Search && run.outcome == RunOutcome::Completed)
        lastSearch_ = rows;
    return changes;
}

const StoredRun *PreviousSearch(const std::vector<StoredRun> &runs, const StoredRun &run)
{
    auto it = std::lower_bound(runs.begin(), runs.end(), run.id,
                               [](const StoredRun &candidate, qint64 id) { return candidate.id < id; });
    while (it != runs.begin()) {
        --it;
        if (it->outcome == RunOutcome::Completed && it->source == RunSource::Search)
            return &*it;
    }
    return nullptr;
}

QString PreviousCheckLine(const AddressPast &past, const std::optional<AddressCheck> &now)
{
    const std::optional<ChangeKind> kind = now ? ChangeOf(past, *now, false) : std::nullopt;
    const AddressCheck &shown = kind ? *ComparedWith(past, *kind) : *past.last;
    QString line = QStringLiteral("上次检测（%1）：%2")
                       .arg(shown.checkedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            OutcomeWord(shown.outcome));
    if (kind)
        line += QStringLiteral(" · ") + ChangeWord(*kind);
    return line;
}

} // namespace vantorel
