// What a judged row is worth when stored, what changed between two runs of a domain, address
// by address, and which run a run is compared with.

#include "QtPrinters.h"

#include <ResultExport.h>
#include <RunChanges.h>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

using enum StoredOutcome;
using enum ChangeKind;

struct Checked {
    const char *address;
    StoredOutcome outcome;
    std::optional<StoredOutcome> lastReachable = std::nullopt;
};

std::vector<AddressCheck> States(const std::vector<Checked> &rows)
{
    std::vector<AddressCheck> states;
    for (const Checked &row : rows)
        states.push_back({static_cast<int>(states.size() + 1), QString::fromLatin1(row.address), row.outcome,
                          row.lastReachable, {}});
    return states;
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
}

TEST(CompareRuns, EveryKindOfChangeAndWhatIsNone)
{
    struct Case {
        const char *name;
        std::vector<Checked> before, after;
        RunSource source;
        bool completed;
        std::vector<std::pair<ChangeKind, const char *>> changes;
    };
    const std::vector<Case> cases = {
        {"still 有效 with the same weight, still removed: no change",
         {{"a", PassesWeight}, {"b", NoWeight}, {"c", Removed}},
         {{"a", PassesWeight}, {"b", NoWeight}, {"c", Removed}},
         RunSource::Search, true, {}},
        {"weight changes",
         {{"a", PassesWeight}, {"b", NoWeight}},
         {{"a", NoWeight}, {"b", PassesWeight}},
         RunSource::Search, true, {{BecameNofollow, "a"}, {BecameFollow, "b"}}},
        {"lost, restored",
         {{"a", PassesWeight}, {"b", NoWeight}, {"c", Removed}},
         {{"a", Removed}, {"b", Removed}, {"c", NoWeight}},
         RunSource::Search, true, {{Lost, "a"}, {Lost, "b"}, {Restored, "c"}}},
        {"unreachable after 有效 or removed is no loss",
         {{"a", PassesWeight}, {"b", Removed}, {"c", Unreachable, PassesWeight}},
         {{"a", Unreachable}, {"b", Unreachable}, {"c", Unreachable}},
         RunSource::Search, true, {{BecameUnreachable, "a"}, {BecameUnreachable, "b"}, {StillUnreachable, "c"}}},
        {"after unreachable: compared with the last reachable check",
         {{"a", Unreachable, PassesWeight}, {"b", Unreachable, Removed}, {"c", Unreachable},
          {"d", Unreachable, Removed}, {"e", Unreachable, NoWeight}, {"f", Unreachable}, {"g", Unreachable, NoWeight}},
         {{"a", Removed}, {"b", Removed}, {"c", Removed}, {"d", PassesWeight}, {"e", PassesWeight},
          {"f", PassesWeight}, {"g", NoWeight}},
         RunSource::Search, true, {{Lost, "a"}, {Restored, "d"}, {BecameFollow, "e"}}},
        {"a search lists anew: new addresses after, dropped ones last",
         {{"a", PassesWeight}, {"b", Removed}, {"c", Unreachable}},
         {{"d", NoWeight}, {"b", Removed}},
         RunSource::Search, true, {{Added, "d"}, {NoLongerListed, "a"}, {NoLongerListed, "c"}}},
        {"a stopped search never judged the rest: nothing is dropped",
         {{"a", PassesWeight}, {"b", Removed}},
         {{"d", NoWeight}, {"b", PassesWeight}},
         RunSource::Search, false, {{Added, "d"}, {Restored, "b"}}},
        {"a re-check and a list name their own addresses: nothing new, nothing dropped",
         {{"a", PassesWeight}, {"b", PassesWeight}},
         {{"a", Removed}, {"d", PassesWeight}},
         RunSource::Recheck, true, {{Lost, "a"}}},
        {"an address listed twice counts by its first row",
         {{"a", PassesWeight}, {"a", Removed}},
         {{"a", Removed}, {"a", PassesWeight}, {"b", PassesWeight}, {"b", Removed}},
         RunSource::AddressList, true, {{Lost, "a"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<ChangeKind, const char *>> found;
        const std::vector<AddressCheck> before = States(c.before);
        const std::vector<RowChange> changes = CompareRuns(before, States(c.after), c.source, c.completed);
        std::vector<std::pair<ChangeKind, QString>> got, expected;
        for (const RowChange &change : changes)
            got.emplace_back(change.kind, change.address);
        for (const auto &[kind, address] : c.changes)
            expected.emplace_back(kind, QString::fromLatin1(address));
        EXPECT_EQ(got, expected);
    }
}

TEST(CompareRuns, AChangeNamesTheRowsAndOutcomesOnBothSides)
{
    const std::vector<RowChange> changes = CompareRuns(States({{"a", NoWeight}, {"b", PassesWeight}}),
                                                       States({{"c", PassesWeight}, {"a", Removed}}),
                                                       RunSource::Search, true);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].number, 1);
    EXPECT_EQ(changes[0].before, std::nullopt);
    EXPECT_EQ(changes[0].after, PassesWeight);
    EXPECT_EQ(changes[1].number, 2);
    EXPECT_EQ(changes[1].before, NoWeight);
    EXPECT_EQ(changes[1].after, Removed);
    EXPECT_EQ(changes[2].kind, NoLongerListed);
    EXPECT_EQ(changes[2].number, 2); // its number in the earlier run
    EXPECT_EQ(changes[2].after, std::nullopt);
}

TEST(PreviousRun, TheLatestCompletedRunBeforeItOfASearchForASearch)
{
    const auto run = [](qint64 id, RunSource source, std::optional<RunOutcome> outcome) {
        StoredRun stored;
        stored.id = id;
        stored.source = source;
        stored.outcome = outcome;
        return stored;
    };
    const std::vector<StoredRun> runs = {
        run(1, RunSource::Search, RunOutcome::Completed), run(2, RunSource::Search, RunOutcome::Stopped),
        run(3, RunSource::AddressList, RunOutcome::Completed), run(4, RunSource::Search, std::nullopt),
        run(5, RunSource::Search, RunOutcome::Completed), run(6, RunSource::Recheck, RunOutcome::Completed),
        run(7, RunSource::Search, RunOutcome::EngineUnreachable)};
    const std::vector<std::pair<qint64, qint64>> expected = {{1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 5}, {7, 5}};
    for (const auto &[id, previous] : expected) {
        const StoredRun *found = PreviousRun(runs, runs[static_cast<std::size_t>(id - 1)]);
        EXPECT_EQ(found ? found->id : 0, previous) << "run " << id;
    }
}

TEST(PreviousCheckLine, WhenWhatAndTheChange)
{
    AddressCheck last;
    last.outcome = PassesWeight;
    last.checkedAt = QDateTime(QDate(2026, 12, 1), QTime(9, 30, 59));
    EXPECT_EQ(PreviousCheckLine(last, std::nullopt), QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重"));
    EXPECT_EQ(PreviousCheckLine(last, PassesWeight), QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重"));
    EXPECT_EQ(PreviousCheckLine(last, NoWeight),
              QStringLiteral("上次检测（2026-12-01 09:30）：有效，传递权重 · 变为 nofollow"));
    last.outcome = Unreachable;
    EXPECT_EQ(PreviousCheckLine(last, Unreachable), QStringLiteral("上次检测（2026-12-01 09:30）：未能检测 · 仍无法访问"));
}

} // namespace
