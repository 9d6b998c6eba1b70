#pragma once

#include "HistoryTypes.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <vector>

namespace vantorel {

// What a check found of the linking page's worth besides its links.
struct PageValue {
    bool noindex = false;
    QString canonical{};                  // another page's address, when the page names one
    std::optional<QString> robotsTxt{};   // the crawlers robots.txt bars; none when not known
    std::optional<int> outboundLinks{};   // none: the check was made before the page's worth was read
    std::vector<std::optional<QString>> targetFailures{}; // of the links' targets, in their order (LinkEvidence)
};

// An address as one check found it: what telling changes needs of a stored row.
struct AddressCheck {
    int number = 0;
    QString address{};
    StoredOutcome outcome = StoredOutcome::Unreachable;
    QStringList anchors{}; // of the page's links to the domain, in page order
    QDateTime checkedAt{};
    QStringList targets{}; // where those links point, in the same order
    QString cause{};       // why the page could not be had: the failure's words, or "HTTP 503"
    QString evidence{};    // what the check found, in one line (EvidenceSummary); only of a run's own rows
    PageValue value{};
};
AddressCheck CheckOf(const StoredRow &row);

// What the site's history held of an address before a check: its latest check, and its latest
// check that could be had (the same one when the latest could).
struct AddressPast {
    std::optional<AddressCheck> last;
    std::optional<AddressCheck> lastReachable;
    // Removals not yet told as a loss, since the check 有效 before them (ChangesOf's confirmChecks):
    // how many completed checks in a row found the address removed, and that check.
    int misses = 0;
    std::optional<AddressCheck> beforeMisses;
    // A later check becomes part of the past.
    void Add(const AddressCheck &check);
};

enum class ChangeKind;

// The link agreed for an address (bought, or as an export or its first check found it); each
// part unset when nothing was agreed of it.
struct LinkExpectation {
    std::optional<QString> target; // an address on the site
    std::optional<QString> anchor;
    std::optional<bool> follow;
    bool Empty() const { return !target && !anchor && !follow; }
    friend bool operator==(const LinkExpectation &, const LinkExpectation &) = default;
};
// The agreed link a page's first link makes: its target (when known), anchor and weight.
LinkExpectation ExpectationOf(const LinkEvidence &link);
// The agreement a check that found links breaks; nothing for a page without a link to the domain,
// which the other kinds tell.
std::vector<ChangeKind> Mismatches(const LinkExpectation &expected, const AddressCheck &check);
// What the agreement says, in a line: "目标页 https://s.example/p；锚文本“买”；follow".
QString ExpectationText(const LinkExpectation &expected);

enum class ChangeKind {
    Added,             // 新增: a search lists an address the site never checked, not on its first
                       // search; or a page found 有效 after only checks that could not be had
    Lost,              // 丢失: removed now, 有效 when last reachable; said once
    UnconfirmedLoss,   // 疑似丢失: removed, by fewer checks in a row than confirm a loss; told nowhere
    BecameMention,     // 变为文字提及: the page still names the domain, and no longer links to it
    Restored,          // 恢复: 有效 again after 已失效, or after a check that could not be had
    BecameNofollow,    // 变为 nofollow: passed weight, passes none now
    BecameFollow,      // 变为 follow
    AnchorChanged,     // 锚文本变化: the links' anchors, in any order, differ from the last reachable check
    WrongTarget,       // 目标页不符: no link goes to the agreed page of the site
    WrongAnchor,       // 锚文本不符: no link carries the agreed anchor
    NotFollowed,       // 未传递权重（约定为 follow）: agreed to pass weight, passes none
    // Told only against a check that read the page's worth too, and never for what could not be had:
    BecameNoindex,            // 变为 noindex: the page now keeps search engines from indexing it
    BecameCanonicalElsewhere, // 规范地址指向别处: its canonical address now names another page
    BecameRobotsBarred,       // 被 robots.txt 屏蔽: its robots.txt now bars *, Googlebot or Baiduspider
    TargetBroken,             // 目标页失效: a page its links point to on the site fails, which answered well before
    BecameUnreachable, // 变为无法访问: reachable before; never 丢失
    StillUnreachable,  // 仍无法访问
    NoLongerListed,    // 未再列出: the previous completed search listed it, this one does not
};

// Every kind in the order changes are told, with its word and its machine id.
struct ChangeKindNames {
    ChangeKind kind;
    const char16_t *word;
    const char16_t *id;
};
std::span<const ChangeKindNames> ChangeKinds();
QString ChangeWord(ChangeKind kind); // 新增, 丢失, ...
QString ChangeId(ChangeKind kind);   // added, lost, ...
// A link gone: 丢失, and 变为文字提及, which the page's verdict (有效) would hide.
bool IsLoss(ChangeKind kind);
// The most checks in a row a loss may wait for.
inline constexpr int kMostConfirmChecks = 5;

struct RowChange {
    ChangeKind kind = ChangeKind::Added;
    QString address;
    int number = 0;                      // in the run; in the earlier search for 未再列出
    std::optional<AddressCheck> before; // the check the change is judged against; none for 新增
    std::optional<AddressCheck> after;  // none for 未再列出
    int miss = 0, confirmChecks = 1;     // for 疑似丢失: which of the checks that confirm a loss this is
    LinkExpectation expected{};          // what was agreed, for 目标页不符, 锚文本不符 and 未传递权重
    // The check that tells the change: the run's row, or the earlier search's for 未再列出.
    const AddressCheck &Told() const { return after ? *after : *before; }
};

// What a side of a change was, in one line: the outcome, then its anchors, its targets when they
// differ from the other side's, or why the page could not be had: "有效，传递权重；锚文本“旧”",
// "未能检测：HTTP 503"; empty for no side.
QString CheckDescription(const std::optional<AddressCheck> &check, const std::optional<AddressCheck> &other);
// What changed, in a few words for a line that names the change and its address: the anchors
// before and after ("锚文本“旧” → “新”"), the link's new target, why the page could not be had,
// what the page no longer has; empty when the change's word says it all.
QString ChangeDetail(const RowChange &change);
// The change's word as a list of changes shows it: "疑似丢失（第 1/2 次）", else ChangeWord.
QString ChangeLabel(const RowChange &change);

// How an address changed since its past; nothing when it did not (still 有效 with the same
// weight and anchors, still removed, a loss already told, first seen without a listing to
// compare with). A page back after an outage that changed its weight or anchors meanwhile has
// both: 恢复, then that change against the last check that could be had. listsAnew: the check
// was made by a search that has an earlier completed search. A removal is 丢失 once
// confirmChecks checks in a row found it, 疑似丢失 before; a page back before that was never lost.
std::vector<ChangeKind> ChangesOf(const AddressPast &past, const AddressCheck &now, bool listsAnew, int confirmChecks = 1);

// A run's changes: each address it checked (its first row counts) against the address's own
// past in the site's history, in row order (none for an import, which checked nothing); then,
// for a completed search, what the previous completed search listed and this one does not
// (previousSearch: its rows; null without one). A search or monitoring run lists anew when the
// site was searched before (searchedBefore: a completed search or monitoring run).
// expectations: the agreed link of each address that has one. A broken agreement is told once,
// by the check that found it broken after a reachable check that kept it.
std::vector<RowChange> ChangesOfRun(const StoredRun &run, const std::vector<AddressCheck> &rows,
                                    const QHash<QString, AddressPast> &pasts,
                                    const std::vector<AddressCheck> *previousSearch, bool searchedBefore,
                                    const QHash<QString, LinkExpectation> &expectations = {});
// That last part alone: what the previous completed search listed (its rows) and a completed
// search did not (listed: the addresses it checked); nothing for any other run.
std::vector<RowChange> NoLongerListed(const StoredRun &run, const QSet<QString> &listed,
                                      const std::vector<AddressCheck> &previousSearch);

// How far the past a run is judged against reaches, among completed runs in the order they
// completed (StoredRun::endOrder): a completed run's past holds the runs completed before it, so
// that each change is told by one run however runs of a site overlap; any other run's, the runs
// completed before the first run started after it completed. runs: the site's runs.
qint64 Horizon(const std::vector<StoredRun> &runs, const StoredRun &run);
// The latest completed search of the site within the run's horizon; monitorsToo: or monitoring run.
const StoredRun *PreviousSearch(const std::vector<StoredRun> &runs, const StoredRun &run, bool monitorsToo = false);

// The line a row's tool tip gains when its address was checked before (past.last): when, what
// it was, and how it changed since: "上次检测（2026-12-01 09:30）：有效，传递权重 · 丢失", judged
// as a run that tells a loss after confirmChecks checks in a row found it.
QString PreviousCheckLine(const AddressPast &past, const std::optional<AddressCheck> &now, int confirmChecks);

} // namespace vantorel
