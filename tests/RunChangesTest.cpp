// What a judged row is worth when stored, what changed between two runs of a domain, address
// by address, and which run a run is compared with.

#include "QtPrinters.h"

#include <HistoryReport.h>
#include <ResultExport.h>
#include <RunChanges.h>
#include <SiteReplay.h>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

using enum StoredOutcome;
using enum ChangeKind;

struct Checked {
    const char *address;
    StoredOutcome outcome;
    const char *anchors = "友链"; // of the page's links, "|" between them; empty: a mention without a link
    const char *target = "http://s/"; // where each of them points
    // What the page was worth, as words: none before it was read; "noindex", "canonical",
    // "barred" (by robots.txt), "robots?" (robots.txt not had), "broken" (its targets fail),
    // "target?" (its targets not had); else all is well.
    const char *worth = nullptr;
};

std::vector<AddressCheck> Checks(const std::vector<Checked> &rows)
{
    std::vector<AddressCheck> checks;
    for (const Checked &row : rows) {
        AddressCheck check{.number = static_cast<int>(checks.size() + 1), .address = QString::fromLatin1(row.address),
                           .outcome = row.outcome, .anchors = QString::fromUtf8(row.anchors).split(u'|', Qt::SkipEmptyParts)};
        for (qsizetype i = 0; i < check.anchors.size(); ++i)
            check.targets << QString::fromUtf8(row.target);
        if (row.worth) {
            const QStringList words = QString::fromLatin1(row.worth).split(u' ');
            PageValue &value = check.value;
            value.outboundLinks = 3;
            value.noindex = words.contains(u"noindex");
            value.canonical = words.contains(u"canonical") ? QStringLiteral("http://c/") : QString();
            value.robotsTxt = words.contains(u"robots?") ? std::nullopt
                              : std::optional(words.contains(u"barred") ? QStringLiteral("*") : QString());
            for (qsizetype i = 0; i < check.targets.size(); ++i)
                value.targetFailures.push_back(words.contains(u"target?") ? std::nullopt
                                               : std::optional(words.contains(u"broken") ? QStringLiteral("目标页返回 404")
                                                                                         : QString()));
        }
        checks.push_back(std::move(check));
    }
    return checks;
}

TEST(ToStoredRow, TheOutcomeOfAJudgedRowAndTheRowReadBack)
{
    const LinkEvidence follow{QStringLiteral("https://example.com/"), QStringLiteral("a")};
    LinkEvidence nofollow = follow;
    nofollow.nofollow = true;
    struct Case {
        const char *name;
        bool pageHad, mentionsDomain;
        std::vector<LinkEvidence> links;
        bool robotsNofollow;
        StoredOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"a link that passes weight", true, true, {nofollow, follow}, false, PassesWeight},
        {"only nofollow links", true, true, {nofollow}, false, NoWeight},
        {"a page that tells robots nofollow", true, true, {follow}, true, NoWeight},
        {"a mention without a link", true, true, {}, false, NoWeight},
        {"a page without the domain", true, false, {}, false, Removed},
        {"no page", false, false, {}, false, Unreachable},
        {"a page that says nothing of itself", true, false, {}, false, Unreachable},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResultRow row = ListedRow(7, QStringLiteral("a.example.org/x"));
        row.evidence.emplace();
        row.evidence->pageHad = c.pageHad;
        row.evidence->httpStatus = c.pageHad ? (c.outcome == Unreachable ? 503 : 200) : 0;
        row.evidence->failureCause = c.pageHad ? QString() : QStringLiteral("连接超时");
        row.evidence->attempts = 3;
        row.evidence->mentionsDomain = c.mentionsDomain;
        row.evidence->page.links = c.links;
        row.evidence->page.robots.nofollow = c.robotsNofollow;
        const StoredRow stored = ToStoredRow(row);
        EXPECT_EQ(stored.outcome, c.outcome);
        EXPECT_EQ(stored.number, 7);
        EXPECT_EQ(stored.address, QStringLiteral("http://a.example.org/x"));
        EXPECT_EQ(stored.verdict, row.Verdict());
        EXPECT_EQ(stored.attempts, 3);

        const ResultRow back = FromStoredRow(stored);
        EXPECT_EQ(back.url, row.url);
        EXPECT_EQ(back.address, row.address);
        ASSERT_TRUE(back.evidence);
        EXPECT_EQ(Strength(*back.evidence), Strength(*row.evidence));
        EXPECT_EQ(VerdictToolTip(*back.evidence), VerdictToolTip(*row.evidence));
    }
    // A page an export listed passes weight when one of its links is not nofollow.
    EXPECT_EQ(ExportedRow(1, {QStringLiteral("http://a.org/"), {nofollow, follow}}, {}).outcome, PassesWeight);
    EXPECT_EQ(ExportedRow(1, {QStringLiteral("http://a.org/"), {nofollow}}, {}).outcome, NoWeight);
}

TEST(SiteHistory, EachAddressAgainstItsOwnPast)
{
    using enum RunSource;
    struct Change {
        ChangeKind kind;
        QString address;
        std::optional<StoredOutcome> before = std::nullopt;
        bool operator==(const Change &) const = default;
    };
    struct Run {
        RunSource source;
        std::vector<Checked> rows;
        std::vector<Change> changes;
        bool completed = true;
        int confirm = 1; // checks in a row that confirm a loss
    };
    struct Case {
        const char *name;
        std::vector<Run> runs;
        QHash<QString, LinkExpectation> agreed{};
    };
    const LinkExpectation toPage{QStringLiteral("http://s/p"), std::nullopt, std::nullopt},
        anchored{std::nullopt, QStringLiteral("友链"), std::nullopt}, followed{std::nullopt, std::nullopt, true};
    const std::vector<Case> cases = {
        {"a page checked alone in between: the loss is still told, once",
         {{Search, {{"x", PassesWeight}, {"y", Unreachable}}, {}},
          {AddressList, {{"y", PassesWeight}}, {{Added, "y"}}},
          {Recheck, {{"x", Removed}, {"y", PassesWeight}}, {{Lost, "x", PassesWeight}}},
          {Recheck, {{"x", Removed}, {"y", PassesWeight}}, {}}}},
        {"unreachable in between: a loss against the last check that could be had, recoveries told",
         {{Search, {{"a", PassesWeight}, {"b", PassesWeight}, {"c", Removed}}, {}},
          {Recheck, {{"a", Unreachable}, {"b", Unreachable}, {"c", Unreachable}},
           {{BecameUnreachable, "a", PassesWeight}, {BecameUnreachable, "b", PassesWeight}, {BecameUnreachable, "c", Removed}}},
          {Recheck, {{"a", Unreachable}, {"b", Removed}, {"c", PassesWeight}},
           {{StillUnreachable, "a", Unreachable}, {Lost, "b", PassesWeight}, {Restored, "c", Unreachable}}},
          {Recheck, {{"a", NoWeight}, {"b", Removed}, {"c", PassesWeight}},
           {{Restored, "a", Unreachable}, {BecameNofollow, "a", PassesWeight}}}}},
        {"lost, then back",
         {{AddressList, {{"a", NoWeight}}, {}},
          {AddressList, {{"a", Removed}}, {{Lost, "a", NoWeight}}},
          {AddressList, {{"a", PassesWeight}}, {{Restored, "a", Removed}}}}},
        {"weight and anchors",
         {{AddressList, {{"a", PassesWeight}, {"b", NoWeight}, {"c", PassesWeight}}, {}},
          {Recheck, {{"a", NoWeight}, {"b", PassesWeight}, {"c", PassesWeight, "首页"}},
           {{BecameNofollow, "a", PassesWeight}, {BecameFollow, "b", NoWeight}, {AnchorChanged, "c", PassesWeight}}},
          {Recheck, {{"a", NoWeight}, {"b", PassesWeight}, {"c", PassesWeight, "首页"}}, {}}}},
        {"first had after only checks that could not be had: new",
         {{AddressList, {{"a", Unreachable}, {"b", Unreachable}}, {}},
          {AddressList, {{"a", PassesWeight}, {"b", Removed}}, {{Added, "a"}}},
          {AddressList, {{"a", Removed}}, {{Lost, "a", PassesWeight}}}}},
        {"a link that became a mention is lost, once, and so is the mention when it goes; anchors are a set",
         {{AddressList, {{"a", PassesWeight}, {"b", NoWeight, "首页|商店"}, {"c", PassesWeight, "首页|商店"}}, {}},
          {Recheck, {{"a", NoWeight, ""}, {"b", NoWeight, ""}, {"c", PassesWeight, "商店|首页"}},
           {{BecameMention, "a", PassesWeight}, {BecameMention, "b", NoWeight}}},
          {Recheck, {{"a", NoWeight, ""}, {"b", Removed}}, {{Lost, "b", NoWeight}}}}},
        {"back after an outage with its links changed: both told, against the last check that could be had",
         {{AddressList, {{"a", PassesWeight}, {"b", PassesWeight}, {"c", PassesWeight}, {"d", PassesWeight}}, {}},
          {Recheck, {{"a", Unreachable}, {"b", Unreachable}, {"c", Unreachable}, {"d", Unreachable}},
           {{BecameUnreachable, "a", PassesWeight}, {BecameUnreachable, "b", PassesWeight},
            {BecameUnreachable, "c", PassesWeight}, {BecameUnreachable, "d", PassesWeight}}},
          {Recheck, {{"a", PassesWeight, "首页"}, {"b", NoWeight}, {"c", PassesWeight}, {"d", NoWeight, ""}},
           {{Restored, "a", Unreachable}, {AnchorChanged, "a", PassesWeight}, {Restored, "b", Unreachable},
            {BecameNofollow, "b", PassesWeight}, {Restored, "c", Unreachable}, {Restored, "d", Unreachable},
            {BecameMention, "d", PassesWeight}}}}},
        {"searches list anew, against the previous completed search only; the first has nothing to compare",
         {{Search, {{"f", PassesWeight}}, {}, false},
          {Search, {{"a", PassesWeight}, {"b", Removed}, {"c", Unreachable}}, {}},
          {AddressList, {{"d", PassesWeight}}, {}},
          {Search, {{"e", PassesWeight}}, {{Added, "e"}}, false},
          {Search, {{"d", NoWeight}, {"b", Removed}},
           {{BecameNofollow, "d", PassesWeight}, {NoLongerListed, "a", PassesWeight}, {NoLongerListed, "c", Unreachable}}}}},
        {"monitoring runs list anew after any earlier search, and never say what the engine no longer lists",
         {{Monitor, {{"a", PassesWeight}}, {}},
          {Monitor, {{"b", PassesWeight}, {"a", PassesWeight}}, {{Added, "b"}}},
          {Search, {{"c", PassesWeight}}, {{Added, "c"}}},
          {Monitor, {{"d", PassesWeight}}, {{Added, "d"}}}}},
        {"what an export said: no change of its own, the first check compared with it",
         {{AddressList, {{"e", Removed}}, {}},
          {Import, {{"a", PassesWeight, "旧"}, {"b", PassesWeight}, {"c", NoWeight}, {"d", PassesWeight}, {"e", PassesWeight}}, {}},
          {AddressList, {{"a", PassesWeight}, {"b", NoWeight}, {"c", PassesWeight}, {"d", Removed}, {"e", PassesWeight}},
           {{AnchorChanged, "a", PassesWeight}, {BecameNofollow, "b", PassesWeight}, {BecameFollow, "c", NoWeight},
            {Lost, "d", PassesWeight}}}}},
        {"a stopped run's loss is told by the next run that completes, once",
         {{Recheck, {{"x", PassesWeight}, {"y", PassesWeight}}, {}},
          {Recheck, {{"x", Removed}}, {{Lost, "x", PassesWeight}}, false},
          {Recheck, {{"y", Removed}}, {{Lost, "y", PassesWeight}}, false},
          {Recheck, {{"x", Removed}, {"y", PassesWeight}}, {{Lost, "x", PassesWeight}}},
          {Recheck, {{"x", Removed}, {"y", PassesWeight}}, {}}}},
        {"a loss confirmed by the second removal in a row, against the check 有效 before both, told once",
         {{AddressList, {{"a", PassesWeight}, {"b", PassesWeight}}, {}},
          {Recheck, {{"a", Removed}, {"b", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}, {UnconfirmedLoss, "b", PassesWeight}}, true, 2},
          {Recheck, {{"a", Removed}, {"b", Unreachable}}, {{Lost, "a", PassesWeight}, {BecameUnreachable, "b", PassesWeight}}, true, 2},
          {Recheck, {{"a", Removed}, {"b", Removed}}, {{Lost, "b", PassesWeight}}, true, 2},
          {Recheck, {{"a", Removed}, {"b", Removed}}, {}, true, 2}}},
        {"a removal then the link back is nothing; what changed meanwhile is told against the check before",
         {{AddressList, {{"a", PassesWeight}, {"b", PassesWeight}}, {}},
          {Recheck, {{"a", Removed}, {"b", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}, {UnconfirmedLoss, "b", PassesWeight}}, true, 3},
          {Recheck, {{"a", PassesWeight}, {"b", NoWeight}}, {{BecameNofollow, "b", PassesWeight}}, true, 3},
          {Recheck, {{"a", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}}, true, 3}}},
        {"a run that did not complete confirms nothing",
         {{AddressList, {{"a", PassesWeight}}, {}},
          {Recheck, {{"a", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}}, false, 2},
          {Recheck, {{"a", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}}, true, 2},
          {Recheck, {{"a", Removed}}, {{Lost, "a", PassesWeight}}, true, 2}}},
        {"fewer checks asked later: the removal that reaches it tells the loss",
         {{AddressList, {{"a", PassesWeight}}, {}},
          {Recheck, {{"a", Removed}}, {{UnconfirmedLoss, "a", PassesWeight}}, true, 4},
          {Recheck, {{"a", Removed}}, {{Lost, "a", PassesWeight}}, true, 1},
          {Recheck, {{"a", Removed}}, {}, true, 1}}},
        {"what a page is worth: told as it changes, never against a check that did not read it or could not have it",
         {{AddressList, {{"a", PassesWeight, "友链", "http://s/", ""}, {"b", PassesWeight}, {"c", PassesWeight, "友链", "http://s/", ""},
                         {"d", PassesWeight, "友链", "http://s/", ""}, {"e", PassesWeight, "友链", "http://s/", ""}, {"f", PassesWeight, "友链", "http://s/", ""}}, {}},
          {Recheck, {{"a", NoWeight, "友链", "http://s/", "noindex"}, {"b", NoWeight, "友链", "http://s/", "noindex"},
                     {"c", PassesWeight, "友链", "http://s/", "canonical barred"}, {"d", PassesWeight, "友链", "http://s/", "robots? target?"},
                     {"e", PassesWeight, "友链", "http://s/", "broken"}, {"f", PassesWeight, "首页", "http://s/", "broken"}},
           {{BecameNoindex, "a", PassesWeight}, {BecameNofollow, "b", PassesWeight},
            {BecameCanonicalElsewhere, "c", PassesWeight}, {BecameRobotsBarred, "c", PassesWeight},
            {TargetBroken, "e", PassesWeight}, {AnchorChanged, "f", PassesWeight}, {TargetBroken, "f", PassesWeight}}},
          {Recheck, {{"a", NoWeight, "友链", "http://s/", "noindex"}, {"c", PassesWeight, "友链", "http://s/", "canonical barred"},
                     {"d", PassesWeight, "友链", "http://s/", "barred broken"}, {"e", PassesWeight, "友链", "http://s/", "target?"}}, {}},
          {Recheck, {{"d", PassesWeight, "友链", "http://s/", ""}, {"e", PassesWeight, "友链", "http://s/", "broken"}}, {}},
          {Recheck, {{"d", PassesWeight, "友链", "http://s/", "barred"}, {"e", Unreachable}},
           {{BecameRobotsBarred, "d", PassesWeight}, {BecameUnreachable, "e", PassesWeight}}},
          {Recheck, {{"d", PassesWeight, "友链", "http://s/", "barred"}, {"e", PassesWeight, "友链", "http://s/", ""}}, {{Restored, "e", Unreachable}}},
          {Recheck, {{"e", PassesWeight, "友链", "http://s/", "broken"}}, {{TargetBroken, "e", PassesWeight}}}}},
        {"what was agreed: told when it breaks, once; a page without its link is told by the other kinds",
         {{AddressList, {{"a", PassesWeight, "友链", "http://s/p#top"}, {"b", PassesWeight}, {"c", PassesWeight},
                         {"d", PassesWeight, "友链", "http://s/p"}, {"e", PassesWeight}, {"f", NoWeight, "买"}},
           {{WrongAnchor, "f"}, {NotFollowed, "f"}}},
          {Recheck, {{"a", PassesWeight, "友链", "http://s/q"}, {"b", PassesWeight, "买"}, {"c", NoWeight},
                     {"d", Unreachable}, {"e", NoWeight}, {"f", NoWeight, "买"}},
           {{WrongTarget, "a", PassesWeight}, {AnchorChanged, "b", PassesWeight}, {WrongAnchor, "b", PassesWeight},
            {BecameNofollow, "c", PassesWeight}, {NotFollowed, "c", PassesWeight}, {BecameUnreachable, "d", PassesWeight},
            {BecameNofollow, "e", PassesWeight}}},
          {Recheck, {{"a", PassesWeight, "友链|首页", "http://s/q"}, {"b", PassesWeight, "买"}, {"c", NoWeight}, {"d", Removed}},
           {{AnchorChanged, "a", PassesWeight}, {Lost, "d", PassesWeight}}},
          {Recheck, {{"a", PassesWeight, "友链", "http://s/p/"}, {"d", NoWeight, "买", "http://s/p"}},
           {{AnchorChanged, "a", PassesWeight}, {Restored, "d", Removed}, {WrongAnchor, "d", Removed}, {NotFollowed, "d", Removed}}},
          {Recheck, {{"a", PassesWeight, "友链", "http://s/q"}}, {{WrongTarget, "a", PassesWeight}}}},
         {{QStringLiteral("a"), toPage}, {QStringLiteral("b"), anchored}, {QStringLiteral("c"), followed},
          {QStringLiteral("d"), {QStringLiteral("http://s/p"), QStringLiteral("友链"), true}},
          {QStringLiteral("f"), {std::nullopt, QStringLiteral(" 友链 "), true}}}},
        {"an address listed twice counts by its first row",
         {{Search, {{"a", PassesWeight}, {"a", Removed}}, {}},
          {AddressList, {{"a", Removed}, {"a", PassesWeight}}, {{Lost, "a", PassesWeight}}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SiteHistory history;
        history.expectations = c.agreed;
        qint64 id = 0;
        for (const Run &run : c.runs) {
            StoredRun stored;
            stored.id = ++id;
            stored.source = run.source;
            stored.confirmChecks = run.confirm;
            if (run.completed) {
                stored.outcome = RunOutcome::Completed;
                stored.endOrder = id;
            }
            std::vector<Change> got;
            for (const RowChange &change : history.Add(stored, Checks(run.rows)))
                got.push_back({change.kind, change.address, change.before ? std::optional(change.before->outcome) : std::nullopt});
            EXPECT_EQ(got, run.changes) << "run " << id;
        }
    }
}

TEST(ChangeSummary, ALinePerKindInTheTablesOrderNamingTenAddresses)
{
    const auto change = [](ChangeKind kind, const QString &address) {
        RowChange made;
        made.kind = kind;
        made.address = address;
        return made;
    };
    std::vector<RowChange> changes{change(Restored, QStringLiteral("http://r/"))};
    for (int i = 1; i <= 12; ++i)
        changes.push_back(change(Lost, QStringLiteral("http://%1/").arg(i)));
    const QStringList lines = ChangeSummary(changes);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("丢失 12 条：http://1/、http://2/、http://3/、http://4/、http://5/、http://6/、"
                                       "http://7/、http://8/、http://9/、http://10/ 等 12 条"));
    EXPECT_EQ(lines[1], QStringLiteral("恢复 1 条：http://r/"));
    EXPECT_TRUE(ChangeSummary({}).isEmpty());
}

// A stored row as a check: its status, failure and links, "url anchor" each.
AddressCheck Stored(StoredOutcome outcome, long status, const char *failure, std::vector<std::pair<const char *, const char *>> links = {})
{
    StoredRow row;
    row.address = QStringLiteral("http://a.example.org/");
    row.outcome = outcome;
    row.httpStatus = status;
    row.failureCause = QString::fromUtf8(failure);
    for (const auto &[url, anchor] : links)
        row.links.push_back({QString::fromUtf8(url), QString::fromUtf8(anchor)});
    return CheckOf(row);
}

// A page linking as `linked` does, read for its worth: its canonical, robots.txt and target failure.
AddressCheck Worth(const char *canonical, const char *robotsTxt, const char *targetFailure)
{
    StoredRow row;
    row.address = QStringLiteral("http://a.example.org/");
    row.outcome = PassesWeight;
    row.httpStatus = 200;
    row.links.push_back({QStringLiteral("https://example.com/"), QStringLiteral("友链")});
    row.links.back().targetFailure = QString::fromUtf8(targetFailure);
    row.canonical = QString::fromUtf8(canonical);
    row.robotsTxt = QString::fromUtf8(robotsTxt);
    row.outboundLinks = 2;
    return CheckOf(row);
}

TEST(ChangeDetail, WhatWasAndWhatIsAndWhy)
{
    const AddressCheck linked = Stored(PassesWeight, 200, "", {{"https://example.com/", "友链"}});
    const LinkExpectation agreed{QStringLiteral("https://example.com/"), QStringLiteral("友链"), true};
    const struct {
        const char *what;
        ChangeKind kind;
        std::optional<AddressCheck> before, after;
        const char *detail, *wasText, *isText, *evidence;
    } cases[] = {
        {"anchors", AnchorChanged, linked, Stored(PassesWeight, 200, "", {{"https://example.com/", "首页"}, {"https://example.com/", "友链"}}),
         "锚文本“友链” → “首页”、“友链”", "有效，传递权重；锚文本“友链”", "有效，传递权重；锚文本“首页”、“友链”",
         "HTTP 200，链接 https://example.com/（锚文本“首页”）"},
        {"a new target, now nofollow", BecameNofollow, linked, Stored(NoWeight, 200, "", {{"https://example.com/shop", "友链"}}),
         "链接 https://example.com/ → https://example.com/shop", "有效，传递权重；锚文本“友链”；链接 https://example.com/",
         "有效，不传递权重；锚文本“友链”；链接 https://example.com/shop", "HTTP 200，链接 https://example.com/shop（锚文本“友链”）"},
        {"a status", BecameUnreachable, linked, Stored(Unreachable, 503, ""), "HTTP 503", "有效，传递权重；锚文本“友链”",
         "未能检测：HTTP 503", "HTTP 503"},
        {"the failure's words", StillUnreachable, Stored(Unreachable, 0, "连接超时"),
         Stored(Unreachable, 0, "被网站的访问防护拦截（Cloudflare）"), "被网站的访问防护拦截（Cloudflare）", "未能检测：连接超时",
         "未能检测：被网站的访问防护拦截（Cloudflare）", "被网站的访问防护拦截（Cloudflare）"},
        {"a loss", Lost, linked, Stored(Removed, 404, ""), "HTTP 404，未提到域名", "有效，传递权重；锚文本“友链”", "已失效",
         "HTTP 404，未提到域名"},
        {"a removal not yet confirmed", UnconfirmedLoss, linked, Stored(Removed, 404, ""), "HTTP 404，未提到域名",
         "有效，传递权重；锚文本“友链”", "已失效", "HTTP 404，未提到域名"},
        {"a link become text", BecameMention, linked, Stored(NoWeight, 200, ""), "HTTP 200，提到域名，没有链接",
         "有效，传递权重；锚文本“友链”", "有效，不传递权重", "HTTP 200，提到域名，没有链接"},
        {"another page of the site", WrongTarget, linked, Stored(PassesWeight, 200, "", {{"https://example.com/shop", "友链"}}),
         "链接 https://example.com/shop，约定 https://example.com/", "有效，传递权重；锚文本“友链”；链接 https://example.com/",
         "有效，传递权重；锚文本“友链”；链接 https://example.com/shop", "HTTP 200，链接 https://example.com/shop（锚文本“友链”）"},
        {"another anchor", WrongAnchor, linked, Stored(PassesWeight, 200, "", {{"https://example.com/", "首页"}}),
         "锚文本“首页”，约定“友链”", "有效，传递权重；锚文本“友链”", "有效，传递权重；锚文本“首页”",
         "HTTP 200，链接 https://example.com/（锚文本“首页”）"},
        {"the word says it all", Restored, Stored(Unreachable, 0, "连接超时"), linked, "", "未能检测：连接超时",
         "有效，传递权重；锚文本“友链”", "HTTP 200，链接 https://example.com/（锚文本“友链”）"},
        {"a canonical elsewhere", BecameCanonicalElsewhere, linked, Worth("http://a.example.org/main", "", ""),
         "规范地址 http://a.example.org/main", "有效，传递权重；锚文本“友链”", "有效，传递权重；锚文本“友链”",
         "HTTP 200，链接 https://example.com/（锚文本“友链”）；规范地址指向 http://a.example.org/main"},
        {"barred by robots.txt", BecameRobotsBarred, linked, Worth("", "*, Googlebot", ""), "屏蔽 *, Googlebot",
         "有效，传递权重；锚文本“友链”", "有效，传递权重；锚文本“友链”",
         "HTTP 200，链接 https://example.com/（锚文本“友链”）；robots.txt 屏蔽 *, Googlebot"},
        {"a target broken", TargetBroken, linked, Worth("", "", "目标页返回 404"), "https://example.com/ 目标页返回 404",
         "有效，传递权重；锚文本“友链”", "有效，传递权重；锚文本“友链”",
         "HTTP 200，链接 https://example.com/（锚文本“友链”）；目标页返回 404"},
        {"no longer listed: the earlier check tells", NoLongerListed, linked, std::nullopt, "", "有效，传递权重；锚文本“友链”", "",
         "HTTP 200，链接 https://example.com/（锚文本“友链”）"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const RowChange change{c.kind, QStringLiteral("http://a.example.org/"), 1, c.before, c.after, 0, 1, agreed};
        EXPECT_EQ(ChangeDetail(change), QString::fromUtf8(c.detail));
        EXPECT_EQ(CheckDescription(change.before, change.after), QString::fromUtf8(c.wasText));
        EXPECT_EQ(CheckDescription(change.after, change.before), QString::fromUtf8(c.isText));
        EXPECT_EQ(change.Told().evidence, QString::fromUtf8(c.evidence));
    }
    // Which of the checks that confirm a loss a removal is, in its word as the lists show it.
    RowChange unconfirmed{UnconfirmedLoss, QStringLiteral("http://a.example.org/"), 1, linked, Stored(Removed, 404, "")};
    unconfirmed.miss = 1;
    unconfirmed.confirmChecks = 2;
    EXPECT_EQ(ChangeLabel(unconfirmed), QStringLiteral("疑似丢失（第 1/2 次）"));
    unconfirmed.kind = Lost;
    EXPECT_EQ(ChangeLabel(unconfirmed), QStringLiteral("丢失"));
}

TEST(PreviousCheckLine, WhenWhatAndTheChange)
{
    const auto check = [](StoredOutcome outcome, int day) {
        return AddressCheck{.number = 1, .address = QStringLiteral("a"), .outcome = outcome, .anchors = {QStringLiteral("友链")},
                            .checkedAt = QDateTime(QDate(2026, 12, day), QTime(9, 30, 59))};
    };
    AddressPast past;
    past.Add(check(PassesWeight, 1));
    EXPECT_EQ(PreviousCheckLine(past, std::nullopt, 1), QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重"));
    EXPECT_EQ(PreviousCheckLine(past, check(PassesWeight, 3), 1), QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重"));
    EXPECT_EQ(PreviousCheckLine(past, check(NoWeight, 3), 1),
              QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重 · 变为 nofollow"));
    past.Add(check(Unreachable, 2));
    EXPECT_EQ(PreviousCheckLine(past, check(Unreachable, 3), 1), QStringLiteral("上次检测（2026-12-02 09:30）：未能检测 · 仍无法访问"));
    // A loss names the check that found the link, not the one that could not be had.
    EXPECT_EQ(PreviousCheckLine(past, check(Removed, 3), 1), QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重 · 丢失"));
    EXPECT_EQ(PreviousCheckLine(past, check(Removed, 3), 2),
              QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重 · 疑似丢失（第 1/2 次）"));
}

} // namespace
