#include "HistoryTypes.h"

#include <ResultExport.h>

#include <algorithm>
#include <array>
#include <utility>

namespace vantorel {

namespace {

template <typename Enum, std::size_t N>
using Names = std::array<std::pair<Enum, const char16_t *>, N>;

constexpr Names<RunSource, 5> kSourceNames{{
    {RunSource::Search, u"search"},
    {RunSource::AddressList, u"list"},
    {RunSource::Recheck, u"recheck"},
    {RunSource::Import, u"import"},
    {RunSource::Monitor, u"monitor"},
}};
constexpr Names<RunSource, 5> kSourceWords{{
    {RunSource::Search, u"搜索"},
    {RunSource::AddressList, u"地址列表"},
    {RunSource::Recheck, u"复查"},
    {RunSource::Import, u"导入"},
    {RunSource::Monitor, u"监控"},
}};
constexpr Names<StoredOutcome, 4> kOutcomeNames{{
    {StoredOutcome::PassesWeight, u"passes-weight"},
    {StoredOutcome::NoWeight, u"no-weight"},
    {StoredOutcome::Removed, u"removed"},
    {StoredOutcome::Unreachable, u"unreachable"},
}};
constexpr Names<StoredOutcome, 4> kOutcomeWords{{
    {StoredOutcome::PassesWeight, u"有效，传递权重"},
    {StoredOutcome::NoWeight, u"有效，不传递权重"},
    {StoredOutcome::Removed, u"已失效"},
    {StoredOutcome::Unreachable, u"未能检测"},
}};
constexpr Names<RunOutcome, 7> kRunOutcomeNames{{
    {RunOutcome::Running, u"running"},
    {RunOutcome::Completed, u"completed"},
    {RunOutcome::NoDomain, u"no-domain"},
    {RunOutcome::EngineUnreachable, u"engine-unreachable"},
    {RunOutcome::EngineRefused, u"engine-refused"},
    {RunOutcome::PageUnrecognised, u"page-unrecognised"},
    {RunOutcome::Stopped, u"stopped"},
}};
constexpr Names<RunOutcome, 7> kRunOutcomeWords{{
    {RunOutcome::Running, u"进行中"},
    {RunOutcome::Completed, u"完成"},
    {RunOutcome::NoDomain, u"没有域名"},
    {RunOutcome::EngineUnreachable, u"搜索引擎无法访问"},
    {RunOutcome::EngineRefused, u"搜索引擎要求安全验证"},
    {RunOutcome::PageUnrecognised, u"无法识别搜索结果页"},
    {RunOutcome::Stopped, u"已停止"},
}};

template <typename Enum, std::size_t N>
QString NameOf(const Names<Enum, N> &names, Enum value)
{
    for (const auto &[candidate, name] : names)
        if (candidate == value)
            return QString::fromUtf16(name);
    return {};
}

template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(const Names<Enum, N> &names, const QString &name)
{
    for (const auto &[value, candidate] : names)
        if (name == QStringView(candidate))
            return value;
    return std::nullopt;
}

} // namespace

StoredOutcome OutcomeOf(const RowEvidence &evidence)
{
    switch (Strength(evidence)) {
    case VerdictStrength::PassesWeight: return StoredOutcome::PassesWeight;
    case VerdictStrength::NoWeight: return StoredOutcome::NoWeight;
    case VerdictStrength::Removed: return StoredOutcome::Removed;
    case VerdictStrength::Unreachable: break;
    }
    return StoredOutcome::Unreachable;
}

StoredRow ToStoredRow(const ResultRow &judged)
{
    const RowEvidence evidence = judged.evidence.value_or(RowEvidence{});
    StoredRow row;
    row.number = judged.number;
    row.address = judged.url;
    row.finalUrl = evidence.finalUrl;
    row.verdict = judged.Verdict();
    row.outcome = OutcomeOf(evidence);
    row.pageHad = evidence.pageHad;
    row.httpStatus = evidence.httpStatus;
    row.failureCause = evidence.failureCause;
    row.attempts = evidence.attempts;
    row.failedAttempts = evidence.failedAttempts;
    row.charset = evidence.charset;
    row.links = evidence.page.links;
    row.robots = evidence.page.robots;
    row.rendered = evidence.rendered;
    row.renderFailure = evidence.renderFailure;
    row.checkedAt = evidence.checkedAt;
    row.canonical = evidence.page.canonical;
    row.robotsTxt = evidence.robotsTxt;
    row.outboundLinks = evidence.page.outboundLinks;
    return row;
}

ResultRow FromStoredRow(const StoredRow &stored)
{
    RowEvidence evidence;
    evidence.pageHad = stored.pageHad;
    evidence.failureCause = stored.failureCause;
    evidence.httpStatus = stored.httpStatus;
    evidence.finalUrl = stored.finalUrl;
    evidence.charset = stored.charset;
    evidence.mentionsDomain = IsValid(stored.outcome);
    // A refresh was followed when the row was judged.
    evidence.page = {stored.links, stored.robots, std::nullopt, stored.canonical, stored.outboundLinks};
    evidence.robotsTxt = stored.robotsTxt;
    evidence.checkedAt = stored.checkedAt;
    evidence.attempts = stored.attempts;
    evidence.failedAttempts = stored.failedAttempts;
    evidence.rendered = stored.rendered;
    evidence.renderFailure = stored.renderFailure;
    ResultRow row = ListedRow(stored.number, stored.address);
    row.state = RowState::Judged;
    row.evidence = std::move(evidence);
    return row;
}

StoredRow ExportedRow(int number, const ExportedPage &page, const QDateTime &listedAt)
{
    StoredRow row;
    row.number = number;
    row.address = page.address;
    row.verdict = QStringLiteral("有效");
    row.outcome = std::any_of(page.links.begin(), page.links.end(), [](const LinkEvidence &link) { return link.PassesWeight(); })
                      ? StoredOutcome::PassesWeight
                      : StoredOutcome::NoWeight;
    row.pageHad = true; // the export's crawler had it
    row.links = page.links;
    row.checkedAt = listedAt;
    return row;
}

QString SourceName(RunSource source) { return NameOf(kSourceNames, source); }
std::optional<RunSource> SourceFromName(const QString &name) { return ValueOf(kSourceNames, name); }
QString OutcomeName(StoredOutcome outcome) { return NameOf(kOutcomeNames, outcome); }
std::optional<StoredOutcome> OutcomeFromName(const QString &name) { return ValueOf(kOutcomeNames, name); }
QString RunOutcomeName(RunOutcome outcome) { return NameOf(kRunOutcomeNames, outcome); }
std::optional<RunOutcome> RunOutcomeFromName(const QString &name) { return ValueOf(kRunOutcomeNames, name); }

QString SourceWord(RunSource source) { return NameOf(kSourceWords, source); }
QString OutcomeWord(StoredOutcome outcome) { return NameOf(kOutcomeWords, outcome); }

bool IsSearchFailure(RunOutcome outcome)
{
    return outcome == RunOutcome::EngineUnreachable || outcome == RunOutcome::EngineRefused ||
           outcome == RunOutcome::PageUnrecognised;
}

std::optional<QString> StoredRun::FailureReason() const
{
    return outcome && IsSearchFailure(*outcome) ? countText : std::nullopt;
}

std::optional<QString> StoredRun::EngineCount() const
{
    return outcome && IsSearchFailure(*outcome) ? std::nullopt : countText;
}

QString RunOutcomeWord(const StoredRun &run)
{
    return run.outcome ? NameOf(kRunOutcomeWords, *run.outcome) : QStringLiteral("中断");
}

QString EvidenceSummary(const StoredRow &row)
{
    if (row.outcome == StoredOutcome::Unreachable && !row.failureCause.isEmpty())
        return row.failureCause;
    QString text = QStringLiteral("HTTP %1").arg(row.httpStatus);
    if (!row.links.empty()) {
        const LinkEvidence &link = row.links.front();
        text += QStringLiteral("，链接 %1（锚文本“%2”").arg(link.url, link.anchor);
        if (const QString rel = RelText(link); !rel.isEmpty())
            text += QStringLiteral("，") + rel;
        text += QStringLiteral("）");
    } else if (row.outcome != StoredOutcome::Unreachable) {
        text += IsValid(row.outcome) ? QStringLiteral("，提到域名，没有链接") : QStringLiteral("，未提到域名");
    }
    // What the page is worth, only where it says something: a history read before it was kept reads as it did.
    for (const QString &part : PageWorthParts(row.canonical, row.robotsTxt, row.links))
        text += u'；' + part;
    return text;
}

namespace {

QString KnownText(const std::optional<QString> &value, bool read)
{
    return value.value_or(read ? QStringLiteral("?") : QString());
}

} // namespace

std::optional<QString> KnownFromText(const QString &text, bool read)
{
    if (read)
        return text == u"?" ? std::nullopt : std::optional(text);
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

QString RobotsTxtText(const StoredRow &row)
{
    return KnownText(row.robotsTxt, row.outboundLinks && !row.links.empty());
}

QString TargetFailureText(const StoredRow &row, const LinkEvidence &link)
{
    return KnownText(link.targetFailure, row.outboundLinks.has_value());
}

void ReadKnown(StoredRow &row, const QString &robotsTxt)
{
    row.robotsTxt = KnownFromText(robotsTxt, row.outboundLinks && !row.links.empty());
    if (!row.outboundLinks)
        for (LinkEvidence &link : row.links)
            link.targetFailure.reset();
}

QString HistoryFailureText(const QString &reason)
{
    return QStringLiteral("历史记录无法保存：") + reason;
}

} // namespace vantorel
