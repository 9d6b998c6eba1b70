#include "RunChanges.h"

#include <QSet>
#include <QUrl>

#include <algorithm>
#include <array>
#include <limits>
#include <tuple>

namespace vantorel {

namespace {

constexpr std::array<ChangeKindNames, 18> kChangeKinds{{
    {ChangeKind::Added, u"新增", u"added"},
    {ChangeKind::Lost, u"丢失", u"lost"},
    {ChangeKind::UnconfirmedLoss, u"疑似丢失", u"unconfirmed-loss"},
    {ChangeKind::BecameMention, u"变为文字提及", u"became-mention"},
    {ChangeKind::Restored, u"恢复", u"restored"},
    {ChangeKind::BecameNofollow, u"变为 nofollow", u"became-nofollow"},
    {ChangeKind::BecameFollow, u"变为 follow", u"became-follow"},
    {ChangeKind::AnchorChanged, u"锚文本变化", u"anchor-changed"},
    {ChangeKind::WrongTarget, u"目标页不符", u"wrong-target"},
    {ChangeKind::WrongAnchor, u"锚文本不符", u"wrong-anchor"},
    {ChangeKind::NotFollowed, u"未传递权重（约定为 follow）", u"not-followed"},
    {ChangeKind::BecameNoindex, u"变为 noindex", u"became-noindex"},
    {ChangeKind::BecameCanonicalElsewhere, u"规范地址指向别处", u"became-canonical-elsewhere"},
    {ChangeKind::BecameRobotsBarred, u"被 robots.txt 屏蔽", u"became-robots-barred"},
    {ChangeKind::TargetBroken, u"目标页失效", u"target-broken"},
    {ChangeKind::BecameUnreachable, u"变为无法访问", u"became-unreachable"},
    {ChangeKind::StillUnreachable, u"仍无法访问", u"still-unreachable"},
    {ChangeKind::NoLongerListed, u"未再列出", u"no-longer-listed"},
}};

const ChangeKindNames &NamesOf(ChangeKind kind)
{
    return *std::find_if(kChangeKinds.begin(), kChangeKinds.end(),
                         [kind](const ChangeKindNames &names) { return names.kind == kind; });
}

// The check a change is judged against: the latest for the page's coming and going, the last
// that could be had for what its links became.
const AddressCheck *ComparedWith(const AddressPast &past, ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Added:
        return nullptr;
    case ChangeKind::Restored:
    case ChangeKind::BecameUnreachable:
    case ChangeKind::StillUnreachable:
    case ChangeKind::NoLongerListed:
        return &*past.last;
    case ChangeKind::Lost:
    case ChangeKind::UnconfirmedLoss:
    case ChangeKind::BecameMention:
    case ChangeKind::BecameNofollow:
    case ChangeKind::BecameFollow:
    case ChangeKind::AnchorChanged:
    case ChangeKind::BecameNoindex:
    case ChangeKind::BecameCanonicalElsewhere:
    case ChangeKind::BecameRobotsBarred:
    case ChangeKind::TargetBroken:
        break;
    case ChangeKind::WrongTarget:
    case ChangeKind::WrongAnchor:
    case ChangeKind::NotFollowed: // the first check of an address may break what an export agreed
        return past.lastReachable ? &*past.lastReachable : nullptr;
    }
    return &*past.lastReachable;
}

// The past as the next check is judged against it: removals not yet told as a loss are left
// out, so that a page back meanwhile was never lost and a loss confirmed is told against the
// check 有效 before them.
AddressPast AsTold(const AddressPast &past)
{
    if (!past.beforeMisses)
        return past;
    AddressPast told = past;
    told.lastReachable = past.beforeMisses;
    if (told.last->outcome == StoredOutcome::Removed)
        told.last = past.beforeMisses;
    return told;
}

bool Known(const std::optional<QString> &value, bool fine)
{
    return value && value->isEmpty() == fine;
}

// A target failing now that answered well before, or that the page did not link to before.
bool TargetBroke(const AddressCheck &before, const AddressCheck &now)
{
    for (std::size_t i = 0; i < now.value.targetFailures.size() && i < std::size_t(now.targets.size()); ++i) {
        if (!Known(now.value.targetFailures[i], false))
            continue;
        const qsizetype was = before.targets.indexOf(now.targets[static_cast<qsizetype>(i)]);
        if (was < 0 || (static_cast<std::size_t>(was) < before.value.targetFailures.size() &&
                        Known(before.value.targetFailures[static_cast<std::size_t>(was)], true)))
            return true;
    }
    return false;
}

// What the links of a page 有效 before and now became: the anchors are a set, since an export
// lists a page's links in its own order. A page's worth is compared only when both checks read it
// from a page with links; what could not be had then or now tells nothing.
std::vector<ChangeKind> LinksChanges(const AddressCheck &before, const AddressCheck &now)
{
    using enum ChangeKind;
    if (!before.anchors.isEmpty() && now.anchors.isEmpty())
        return {BecameMention};
    std::vector<ChangeKind> changes;
    const bool worthRead = before.value.outboundLinks && now.value.outboundLinks && !before.anchors.isEmpty();
    const bool becameNoindex = worthRead && now.value.noindex && !before.value.noindex;
    // The weight a page lost by becoming noindex is told as that.
    if (before.outcome != now.outcome && !(becameNoindex && now.outcome == StoredOutcome::NoWeight))
        changes.push_back(now.outcome == StoredOutcome::NoWeight ? BecameNofollow : BecameFollow);
    QStringList anchorsBefore = before.anchors, anchorsNow = now.anchors;
    anchorsBefore.sort();
    anchorsNow.sort();
    if (anchorsBefore != anchorsNow)
        changes.push_back(AnchorChanged);
    if (!worthRead)
        return changes;
    if (becameNoindex)
        changes.push_back(BecameNoindex);
    if (before.value.canonical.isEmpty() && !now.value.canonical.isEmpty())
        changes.push_back(BecameCanonicalElsewhere);
    if (Known(before.value.robotsTxt, true) && Known(now.value.robotsTxt, false))
        changes.push_back(BecameRobotsBarred);
    if (TargetBroke(before, now))
        changes.push_back(TargetBroken);
    return changes;
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

// Anchors as the user reads them: “首页”、“友情链接”.
QString Quoted(const QStringList &anchors)
{
    QStringList shown;
    for (const QString &anchor : anchors)
        shown << u'“' + anchor + u'”';
    return shown.join(u'、');
}

// A page's link targets as a set: several links to one address are one target.
QStringList Distinct(QStringList targets)
{
    targets.sort();
    targets.removeDuplicates();
    return targets;
}

// One address however a page or an export writes it: a fragment, a trailing slash and dot
// segments change no page.
QString SamePage(const QString &address)
{
    return QUrl(address)
        .adjusted(QUrl::RemoveFragment | QUrl::StripTrailingSlash | QUrl::NormalizePathSegments)
        .toString(QUrl::FullyEncoded);
}

} // namespace

LinkExpectation ExpectationOf(const LinkEvidence &link)
{
    return {link.url.isEmpty() ? std::nullopt : std::optional(link.url), link.anchor, link.PassesWeight()};
}

std::vector<ChangeKind> Mismatches(const LinkExpectation &expected, const AddressCheck &check)
{
    std::vector<ChangeKind> kinds;
    if (!IsValid(check.outcome) || check.anchors.isEmpty())
        return kinds;
    if (expected.target && std::none_of(check.targets.begin(), check.targets.end(), [&](const QString &target) {
            return SamePage(target) == SamePage(*expected.target);
        }))
        kinds.push_back(ChangeKind::WrongTarget);
    if (expected.anchor && !check.anchors.contains(expected.anchor->simplified()))
        kinds.push_back(ChangeKind::WrongAnchor);
    if (expected.follow == true && check.outcome == StoredOutcome::NoWeight)
        kinds.push_back(ChangeKind::NotFollowed);
    return kinds;
}

QString ExpectationText(const LinkExpectation &expected)
{
    QStringList parts;
    if (expected.target)
        parts << QStringLiteral("目标页 ") + *expected.target;
    if (expected.anchor)
        parts << QStringLiteral("锚文本“%1”").arg(*expected.anchor);
    if (expected.follow)
        parts << (*expected.follow ? QStringLiteral("follow") : QStringLiteral("nofollow"));
    return parts.isEmpty() ? QStringLiteral("无约定") : parts.join(u'；');
}

AddressCheck CheckOf(const StoredRow &row)
{
    AddressCheck check{.number = row.number, .address = row.address, .outcome = row.outcome,
                       .checkedAt = row.checkedAt, .evidence = EvidenceSummary(row),
                       .value = {row.robots.noindex, row.canonical, row.robotsTxt, row.outboundLinks, {}}};
    for (const LinkEvidence &link : row.links) {
        check.anchors << link.anchor;
        check.targets << link.url;
        check.value.targetFailures.push_back(link.targetFailure);
    }
    if (row.outcome == StoredOutcome::Unreachable)
        check.cause = row.failureCause.isEmpty() && row.httpStatus > 0 ? QStringLiteral("HTTP %1").arg(row.httpStatus)
                                                                      : row.failureCause;
    return check;
}

QString CheckDescription(const std::optional<AddressCheck> &side, const std::optional<AddressCheck> &other)
{
    if (!side)
        return {};
    const AddressCheck &check = *side;
    QString text = OutcomeWord(check.outcome);
    if (!check.cause.isEmpty())
        return text + u'：' + check.cause;
    if (!IsValid(check.outcome))
        return text;
    // The anchors tell which link it is; the targets only when they moved.
    if (!check.anchors.isEmpty())
        text += QStringLiteral("；锚文本") + Quoted(check.anchors);
    if (other && !check.targets.isEmpty() && !other->targets.isEmpty() && Distinct(check.targets) != Distinct(other->targets))
        text += QStringLiteral("；链接 ") + Distinct(check.targets).join(u' ');
    return text;
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

bool IsLoss(ChangeKind kind)
{
    return kind == ChangeKind::Lost || kind == ChangeKind::BecameMention;
}

std::vector<ChangeKind> ChangesOf(const AddressPast &given, const AddressCheck &now, bool listsAnew, int confirmChecks)
{
    using enum ChangeKind;
    const AddressPast past = AsTold(given);
    if (!past.last)
        return listsAnew ? std::vector{Added} : std::vector<ChangeKind>{};
    const StoredOutcome last = past.last->outcome;
    if (now.outcome == StoredOutcome::Unreachable)
        return {last == StoredOutcome::Unreachable ? StillUnreachable : BecameUnreachable};
    // A page that could not be had says nothing about its link: a loss is judged against the last
    // check that could be had, so that it is told once, whatever came between.
    if (now.outcome == StoredOutcome::Removed) {
        if (!past.lastReachable || !IsValid(past.lastReachable->outcome))
            return {};
        return {past.misses + 1 >= confirmChecks ? Lost : UnconfirmedLoss};
    }
    // Only checks that could not be had before: the link is new to the history.
    if (!past.lastReachable)
        return {Added};
    if (last == StoredOutcome::Removed)
        return {Restored};
    std::vector<ChangeKind> changes;
    if (last == StoredOutcome::Unreachable)
        changes.push_back(Restored);
    if (IsValid(past.lastReachable->outcome))
        for (const ChangeKind change : LinksChanges(*past.lastReachable, now))
            changes.push_back(change);
    return changes;
}

QString ChangeDetail(const RowChange &change)
{
    switch (change.kind) {
    case ChangeKind::AnchorChanged:
        return QStringLiteral("锚文本%1 → %2").arg(Quoted(change.before->anchors), Quoted(change.after->anchors));
    case ChangeKind::BecameUnreachable:
    case ChangeKind::StillUnreachable:
        return change.after->cause;
    case ChangeKind::Lost:
    case ChangeKind::UnconfirmedLoss:
    case ChangeKind::BecameMention:
        return change.after->evidence;
    case ChangeKind::BecameNofollow:
    case ChangeKind::BecameFollow:
        if (Distinct(change.before->targets) != Distinct(change.after->targets))
            return QStringLiteral("链接 %1 → %2").arg(Distinct(change.before->targets).join(u' '),
                                                     Distinct(change.after->targets).join(u' '));
        break;
    case ChangeKind::WrongTarget:
        return QStringLiteral("链接 %1，约定 %2").arg(Distinct(change.after->targets).join(u' '), *change.expected.target);
    case ChangeKind::WrongAnchor:
        return QStringLiteral("锚文本%1，约定“%2”").arg(Quoted(change.after->anchors), *change.expected.anchor);
    case ChangeKind::BecameCanonicalElsewhere:
        return QStringLiteral("规范地址 ") + change.after->value.canonical;
    case ChangeKind::BecameRobotsBarred:
        return QStringLiteral("屏蔽 ") + change.after->value.robotsTxt.value_or(QString());
    case ChangeKind::TargetBroken: {
        QStringList broken;
        const AddressCheck &now = *change.after;
        for (qsizetype i = 0; i < now.targets.size() && static_cast<std::size_t>(i) < now.value.targetFailures.size(); ++i)
            if (const std::optional<QString> &failure = now.value.targetFailures[static_cast<std::size_t>(i)];
                Known(failure, false) && !broken.contains(now.targets[i] + u' ' + *failure))
                broken << now.targets[i] + u' ' + *failure;
        return broken.join(QStringLiteral("；"));
    }
    case ChangeKind::Added:
    case ChangeKind::Restored:
    case ChangeKind::NoLongerListed:
    case ChangeKind::BecameNoindex:
    case ChangeKind::NotFollowed:
        break;
    }
    return {};
}

QString ChangeLabel(const RowChange &change)
{
    if (change.kind == ChangeKind::UnconfirmedLoss)
        return QStringLiteral("%1（第 %2/%3 次）").arg(ChangeWord(change.kind)).arg(change.miss).arg(change.confirmChecks);
    return ChangeWord(change.kind);
}

std::vector<RowChange> ChangesOfRun(const StoredRun &run, const std::vector<AddressCheck> &rows,
                                    const QHash<QString, AddressPast> &pasts,
                                    const std::vector<AddressCheck> *previousSearch, bool searchedBefore,
                                    const QHash<QString, LinkExpectation> &expectations)
{
    const bool listsAnew = (run.source == RunSource::Search || run.source == RunSource::Monitor) && searchedBefore;
    std::vector<RowChange> changes;
    if (run.source == RunSource::Import)
        return changes; // what an export said is the past of the checks that follow, no change of its own
    QSet<QString> listed;
    const AddressPast none;
    for (const AddressCheck *row : FirstRows(rows)) {
        listed.insert(row->address);
        const auto found = pasts.constFind(row->address);
        const AddressPast past = AsTold(found == pasts.cend() ? none : *found);
        std::vector<ChangeKind> kinds = ChangesOf(past, *row, listsAnew, run.confirmChecks);
        const LinkExpectation expected = expectations.value(row->address);
        // A broken agreement is told when it breaks, not on every check that finds it still broken.
        const std::vector<ChangeKind> keptBefore =
            past.lastReachable ? Mismatches(expected, *past.lastReachable) : std::vector<ChangeKind>{};
        for (const ChangeKind kind : Mismatches(expected, *row))
            if (std::find(keptBefore.begin(), keptBefore.end(), kind) == keptBefore.end())
                kinds.push_back(kind);
        for (const ChangeKind kind : kinds) {
            const AddressCheck *before = ComparedWith(past, kind);
            changes.push_back({kind, row->address, row->number, before ? std::optional(*before) : std::nullopt, *row,
                               past.misses + 1, run.confirmChecks, expected});
        }
    }
    if (previousSearch) {
        const std::vector<RowChange> gone = NoLongerListed(run, listed, *previousSearch);
        changes.insert(changes.end(), gone.begin(), gone.end());
    }
    return changes;
}

std::vector<RowChange> NoLongerListed(const StoredRun &run, const QSet<QString> &listed,
                                      const std::vector<AddressCheck> &previousSearch)
{
    std::vector<RowChange> changes;
    // A stopped search never judged the rest, and a list names its own addresses.
    if (run.source == RunSource::Search && run.outcome == RunOutcome::Completed)
        for (const AddressCheck *row : FirstRows(previousSearch))
            if (!listed.contains(row->address))
                changes.push_back({ChangeKind::NoLongerListed, row->address, row->number, *row, std::nullopt});
    return changes;
}

qint64 Horizon(const std::vector<StoredRun> &runs, const StoredRun &run)
{
    if (run.endOrder)
        return *run.endOrder;
    qint64 horizon = std::numeric_limits<qint64>::max();
    for (const StoredRun &other : runs)
        if (other.id > run.id && other.endOrder)
            horizon = std::min(horizon, *other.endOrder);
    return horizon;
}

const StoredRun *PreviousSearch(const std::vector<StoredRun> &runs, const StoredRun &run, bool monitorsToo)
{
    const qint64 horizon = Horizon(runs, run);
    const StoredRun *latest = nullptr;
    for (const StoredRun &candidate : runs)
        if ((candidate.source == RunSource::Search || (monitorsToo && candidate.source == RunSource::Monitor)) &&
            candidate.endOrder && *candidate.endOrder < horizon &&
            (!latest || *candidate.endOrder > *latest->endOrder))
            latest = &candidate;
    return latest;
}

QString PreviousCheckLine(const AddressPast &past, const std::optional<AddressCheck> &now, int confirmChecks)
{
    const std::vector<ChangeKind> kinds = now ? ChangesOf(past, *now, false, confirmChecks) : std::vector<ChangeKind>{};
    const AddressPast told = AsTold(past); // what compared points into
    const AddressCheck *compared = kinds.empty() ? nullptr : ComparedWith(told, kinds.front());
    const AddressCheck &shown = compared ? *compared : *past.last;
    QString line = QStringLiteral("上次检测（%1）：%2")
                       .arg(shown.checkedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            OutcomeWord(shown.outcome));
    QStringList words;
    for (const ChangeKind kind : kinds)
        words << ChangeLabel({.kind = kind, .miss = past.misses + 1, .confirmChecks = confirmChecks});
    if (!words.isEmpty())
        line += QStringLiteral(" · ") + words.join(u'、');
    return line;
}

} // namespace vantorel
