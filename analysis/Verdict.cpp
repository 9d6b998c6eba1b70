#include "Verdict.h"

#include "BotChallenge.h"
#include "Domain.h"

#include <DecodeBody.h>

#include <QStringList>
#include <QUrl>

#include <initializer_list>
#include <utility>

namespace vantorel {

namespace {

const QString kValid = QStringLiteral("有效");
const QString kInvalid = QStringLiteral("无效");
const QString kRenderedEvidence = QStringLiteral("脚本生成的链接（渲染后找到）");

// A tool tip names this many anchors; a page may hold thousands of links.
constexpr int kAnchorsNamed = 5;

// A refresh within this many seconds sends the visitor on, as a redirect does; a later one
// leaves the page time to be read.
constexpr int kRefreshFollowedSeconds = 10;

bool IsSuccess(long status)
{
    return status >= 200 && status < 300;
}

bool IsGone(long status)
{
    return status == 404 || status == 410;
}

// Statuses that say why the server would not show the page, not what the page holds.
bool SaysNothingOfThePage(long status)
{
    switch (status) {
    case 401: case 403: case 407: case 408: case 429: return true;
    default: return status >= 500 && status < 600;
    }
}

QString StatusCause(long status)
{
    const QString code = QStringLiteral("（HTTP %1）").arg(status);
    switch (status) {
    case 401: return QStringLiteral("需要登录") + code;
    case 403: return QStringLiteral("服务器拒绝访问") + code;
    case 407: return QStringLiteral("代理服务器要求认证") + code;
    case 408: return QStringLiteral("服务器等待请求超时") + code;
    case 429: return QStringLiteral("请求过于频繁") + code;
    default: return QStringLiteral("服务器错误") + code;
    }
}

// The names of the flags that are set, comma separated.
QString NamesOfSet(std::initializer_list<std::pair<bool, const char *>> flags)
{
    QStringList names;
    for (const auto &[set, name] : flags)
        if (set)
            names << QString::fromLatin1(name);
    return names.join(QStringLiteral(", "));
}

// Where a 2xx page's refresh sends the visitor on, when it does so soon enough to an address
// the engine would follow a redirect to.
std::optional<QString> RefreshTarget(const RowEvidence &evidence)
{
    const std::optional<RefreshEvidence> &refresh = evidence.page.refresh;
    if (!IsSuccess(evidence.httpStatus) || !refresh || refresh->seconds > kRefreshFollowedSeconds)
        return std::nullopt;
    const QString scheme = refresh->url.scheme();
    if (scheme != u"http" && scheme != u"https")
        return std::nullopt;
    return refresh->url.toString(QUrl::FullyEncoded);
}

} // namespace

QString FailureCause(FetchError error, const QString &clientMessage)
{
    switch (error) {
    case FetchError::Resolve: return QStringLiteral("域名无法解析");
    case FetchError::Refused: return QStringLiteral("连接被拒绝");
    case FetchError::ConnectTimeout: return QStringLiteral("连接超时");
    case FetchError::TransferTimeout: return QStringLiteral("传输超时");
    case FetchError::Reset: return QStringLiteral("连接被重置");
    case FetchError::Certificate: return QStringLiteral("证书无效");
    case FetchError::TooLarge: return QStringLiteral("页面超过 16 MiB");
    case FetchError::HeaderTooLarge: return QStringLiteral("响应头过大");
    case FetchError::TooManyRedirects: return QStringLiteral("重定向过多");
    case FetchError::UnsupportedProtocol: return QStringLiteral("不支持的协议");
    case FetchError::NotHttp: return QStringLiteral("服务器的回复不是 HTTP");
    case FetchError::None:
    case FetchError::Aborted:
    case FetchError::Other: break;
    }
    return clientMessage;
}

QString AttemptCause(const FetchResult &result)
{
    return result.ok() ? QStringLiteral("HTTP %1").arg(result.httpStatus) : FailureCause(result.error, result.errorText);
}

JudgedPage JudgePage(const FetchResult &result, QStringView domain, QStringView defaultCharset,
                     const QStringList &failedAttempts, long maxRedirects)
{
    JudgedPage judged;
    RowEvidence &evidence = judged.evidence;
    evidence.attempts = static_cast<int>(failedAttempts.size()) + 1;
    evidence.failedAttempts = failedAttempts;
    evidence.httpStatus = result.httpStatus;
    evidence.finalUrl = result.finalUrl;
    evidence.redirects = result.redirects;
    evidence.elapsed = result.elapsed;
    const FetchError error = result.ok() && result.redirects > maxRedirects ? FetchError::TooManyRedirects : result.error;
    if (error != FetchError::None) {
        evidence.failureCause = FailureCause(error, result.errorText);
        if (result.hostDown)
            evidence.failureCause += QStringLiteral("，同一网站的其他网页也无法连接");
        return judged;
    }
    evidence.pageHad = true;
    evidence.bodyBytes = result.body.size();
    judged.text = DecodePage(result.body, result.contentType, defaultCharset, &evidence.charset);
    evidence.mentionsDomain = PageMentionsDomain(judged.text, domain);
    evidence.page = ExtractPageEvidence(judged.text, QUrl(result.finalUrl), domain, result.robotsTag);
    if (evidence.mentionsDomain)
        return judged;
    if (const std::optional<QString> challenge = BotChallenge(result, judged.text)) {
        evidence.failureCause = QStringLiteral("被网站的访问防护拦截（%1）").arg(*challenge);
    } else if (const std::optional<QString> next = RefreshTarget(evidence)) {
        if (result.redirects < maxRedirects)
            judged.refreshTo = *next;
        else // one more hop would pass the limit: a refresh loop ends as a redirect loop does
            evidence.failureCause = FailureCause(FetchError::TooManyRedirects, {});
    }
    return judged;
}

std::optional<QString> TargetFailure(const FetchResult &result, QStringView domain)
{
    if (!result.ok())
        return std::nullopt;
    if (!HostMatchesDomain(QUrl(result.finalUrl).host(), domain))
        return QStringLiteral("目标页跳转到站外");
    if (result.httpStatus >= 400 && !SaysNothingOfThePage(result.httpStatus))
        return QStringLiteral("目标页返回 %1").arg(result.httpStatus);
    if (SaysNothingOfThePage(result.httpStatus))
        return std::nullopt;
    return QString();
}

QString VerdictWord(const RowEvidence &evidence)
{
    return evidence.mentionsDomain ? kValid : kInvalid;
}

VerdictStrength Strength(const RowEvidence &evidence)
{
    if (!evidence.mentionsDomain) {
        return !evidence.pageHad || !evidence.failureCause.isEmpty() || SaysNothingOfThePage(evidence.httpStatus)
                   ? VerdictStrength::Unreachable
                   : VerdictStrength::Removed;
    }
    const RobotsEvidence &robots = evidence.page.robots;
    const bool anyPasses = std::any_of(evidence.page.links.begin(), evidence.page.links.end(),
                                       [](const LinkEvidence &link) { return link.PassesWeight(); });
    return anyPasses && IsSuccess(evidence.httpStatus) && !robots.noindex && !robots.nofollow
               ? VerdictStrength::PassesWeight
               : VerdictStrength::NoWeight;
}

QString StrengthWord(VerdictStrength strength)
{
    switch (strength) {
    case VerdictStrength::PassesWeight: return QStringLiteral("传递权重");
    case VerdictStrength::NoWeight: return QStringLiteral("不传递权重");
    case VerdictStrength::Removed: return QStringLiteral("已失效");
    case VerdictStrength::Unreachable: break;
    }
    return QStringLiteral("未能检测");
}

QString OutcomeCounts(const std::vector<RowEvidence> &evidences)
{
    OutcomeCounter counter;
    for (const RowEvidence &evidence : evidences)
        counter.Add(evidence);
    return counter.Text();
}

void OutcomeCounter::Add(const RowEvidence &evidence)
{
    switch (Strength(evidence)) {
    case VerdictStrength::PassesWeight:
    case VerdictStrength::NoWeight: ++valid_; break;
    case VerdictStrength::Removed: ++removed_; break;
    case VerdictStrength::Unreachable: ++unreachable_; break;
    }
}

QString OutcomeCounter::Text() const
{
    return QStringLiteral("有效 %1 条，已失效 %2 条，未能检测 %3 条").arg(valid_).arg(removed_).arg(unreachable_);
}

QString RobotsText(const RobotsEvidence &robots)
{
    return NamesOfSet({{robots.noindex, "noindex"}, {robots.nofollow, "nofollow"}});
}

QString RelText(const LinkEvidence &link)
{
    return NamesOfSet({{link.nofollow, "nofollow"}, {link.ugc, "ugc"}, {link.sponsored, "sponsored"}});
}

QString VerdictToolTip(const RowEvidence &evidence)
{
    QStringList parts;
    const QString status = QStringLiteral("HTTP %1").arg(evidence.httpStatus);
    const VerdictStrength strength = Strength(evidence);
    if (strength == VerdictStrength::Unreachable) {
        const bool statusSaysWhy = evidence.pageHad && evidence.failureCause.isEmpty();
        parts << QStringLiteral("未能检测：%1，不代表外链已失效")
                     .arg(statusSaysWhy ? StatusCause(evidence.httpStatus) : evidence.failureCause);
        if (!statusSaysWhy && evidence.httpStatus > 0) // a body cut short still had its status line
            parts << status;
    } else if (strength == VerdictStrength::Removed) {
        if (IsGone(evidence.httpStatus))
            parts << QStringLiteral("外链已失效：页面已删除（%1）").arg(status);
        else
            parts << QStringLiteral("外链已失效：页面不再提及该域名") << status;
    } else if (IsSuccess(evidence.httpStatus)) {
        parts << status;
    } else {
        parts << QStringLiteral("页面返回 %1，链接不传递权重").arg(status);
    }

    const std::vector<LinkEvidence> &links = evidence.page.links;
    if (!links.empty()) {
        QStringList anchors;
        for (std::size_t i = 0; i < links.size() && i < kAnchorsNamed; ++i) {
            QString named = QStringLiteral("「%1」").arg(links[i].anchor);
            if (const QString rel = RelText(links[i]); !rel.isEmpty())
                named += QStringLiteral("(%1)").arg(rel);
            anchors << named;
        }
        QString line = QStringLiteral("%1 个链接：").arg(links.size()) + anchors.join(u'、');
        if (links.size() > kAnchorsNamed)
            line += QStringLiteral("等");
        parts << line;
    } else if (evidence.mentionsDomain) {
        parts << QStringLiteral("页面提到域名，但没有指向该域名的链接");
    }
    if (const QString robots = RobotsText(evidence.page.robots); !robots.isEmpty())
        parts << QStringLiteral("页面 ") + robots;
    parts << PageWorthParts(evidence.page.canonical, evidence.robotsTxt, evidence.page.links);
    if (evidence.rendered)
        parts << kRenderedEvidence;

    if (evidence.attempts > 1) {
        QString line = strength == VerdictStrength::Unreachable
                           ? QStringLiteral("共尝试 %1 次").arg(evidence.attempts)
                           : QStringLiteral("第 %1 次尝试成功").arg(evidence.attempts);
        if (!evidence.failedAttempts.isEmpty())
            line += QStringLiteral("（此前：%1）").arg(evidence.failedAttempts.join(u'、'));
        parts << line;
    }
    return parts.join(QStringLiteral(" · "));
}

QStringList PageWorthParts(const QString &canonical, const std::optional<QString> &robotsTxt,
                           const std::vector<LinkEvidence> &links)
{
    QStringList parts;
    if (!canonical.isEmpty())
        parts << QStringLiteral("规范地址指向 ") + canonical;
    if (robotsTxt && !robotsTxt->isEmpty())
        parts << QStringLiteral("robots.txt 屏蔽 ") + *robotsTxt;
    QStringList failures;
    for (const LinkEvidence &link : links)
        if (link.targetFailure && !link.targetFailure->isEmpty() && !failures.contains(*link.targetFailure))
            failures << *link.targetFailure;
    return parts << failures;
}

QString EvidenceDetails(const RowEvidence &evidence)
{
    QStringList lines;
    if (!evidence.finalUrl.isEmpty())
        lines << QStringLiteral("最终地址：%1（重定向 %2 次）").arg(evidence.finalUrl).arg(evidence.redirects);
    const std::vector<LinkEvidence> &links = evidence.page.links;
    if (!links.empty())
        lines << QStringLiteral("指向该网站的链接（%1 个）：").arg(links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        QString line = QStringLiteral("%1. %2「%3」").arg(i + 1).arg(links[i].url, links[i].anchor);
        if (const QString rel = RelText(links[i]); !rel.isEmpty())
            line += u' ' + rel;
        if (links[i].targetFailure && !links[i].targetFailure->isEmpty())
            line += QStringLiteral(" · ") + *links[i].targetFailure;
        lines << line;
    }
    if (evidence.page.outboundLinks && !links.empty())
        lines << QStringLiteral("页面的出站链接：%1 个").arg(*evidence.page.outboundLinks);
    if (evidence.rendered)
        lines << kRenderedEvidence;
    if (!evidence.renderFailure.isEmpty())
        lines << evidence.renderFailure;
    for (qsizetype i = 0; i < evidence.failedAttempts.size(); ++i)
        lines << QStringLiteral("第 %1 次尝试失败：%2").arg(i + 1).arg(evidence.failedAttempts[i]);
    if (!evidence.charset.isEmpty())
        lines << QStringLiteral("网页编码：") + evidence.charset;
    if (evidence.checkedAt.isValid())
        lines << QStringLiteral("检测时间：") + evidence.checkedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return lines.join(u'\n');
}

} // namespace vantorel
