#include "Verdict.h"

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

// A tool tip names this many anchors; a page may hold thousands of links.
constexpr int kAnchorsNamed = 5;

// The names of the flags that are set, comma separated.
QString NamesOfSet(std::initializer_list<std::pair<bool, const char *>> flags)
{
    QStringList names;
    for (const auto &[set, name] : flags)
        if (set)
            names << QString::fromLatin1(name);
    return names.join(QStringLiteral(", "));
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
    case FetchError::TooManyRedirects: return QStringLiteral("重定向过多");
    case FetchError::UnsupportedProtocol: return QStringLiteral("不支持的协议");
    case FetchError::NotHttp: return QStringLiteral("应答不是 HTTP");
    case FetchError::None:
    case FetchError::Aborted:
    case FetchError::Other: break;
    }
    return clientMessage;
}

JudgedPage JudgePage(const FetchResult &result, QStringView domain, QStringView defaultCharset)
{
    JudgedPage judged;
    RowEvidence &evidence = judged.evidence;
    evidence.httpStatus = result.httpStatus;
    evidence.finalUrl = result.finalUrl;
    evidence.redirects = result.redirects;
    evidence.elapsed = result.elapsed;
    if (!result.ok()) {
        evidence.failureCause = FailureCause(result.error, result.errorText);
        return judged;
    }
    evidence.pageHad = true;
    evidence.bodyBytes = result.body.size();
    judged.text = DecodePage(result.body, result.contentType, defaultCharset, &evidence.charset);
    evidence.mentionsDomain = PageMentionsDomain(judged.text, domain);
    evidence.page = ExtractPageEvidence(judged.text, QUrl(result.finalUrl), domain, result.robotsTag);
    return judged;
}

QString VerdictWord(const RowEvidence &evidence)
{
    return evidence.mentionsDomain ? kValid : kInvalid;
}

VerdictStrength Strength(const RowEvidence &evidence)
{
    if (!evidence.mentionsDomain)
        return VerdictStrength::Invalid;
    const RobotsEvidence &robots = evidence.page.robots;
    const bool anyPasses = std::any_of(evidence.page.links.begin(), evidence.page.links.end(),
                                       [](const LinkEvidence &link) { return link.PassesWeight(); });
    return anyPasses && !robots.noindex && !robots.nofollow ? VerdictStrength::PassesWeight
                                                           : VerdictStrength::NoWeight;
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
    if (evidence.httpStatus > 0) // a body cut short still had its status line
        parts << QStringLiteral("HTTP %1").arg(evidence.httpStatus);
    if (!evidence.pageHad)
        return (parts << QStringLiteral("未取得页面：") + evidence.failureCause).join(QStringLiteral(" · "));

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
    } else {
        parts << QStringLiteral("页面没有提到域名");
    }
    if (const QString robots = RobotsText(evidence.page.robots); !robots.isEmpty())
        parts << QStringLiteral("页面 ") + robots;
    return parts.join(QStringLiteral(" · "));
}

} // namespace vantorel
