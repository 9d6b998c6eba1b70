#include "Webhook.h"

#include <Domain.h>
#include <HistoryReport.h>
#include <HttpPost.h>
#include <Verdict.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace vantorel {

namespace {

constexpr int kMostChatLines = 20;

bool Told(const NoticeChange &change)
{
    return change.kind != kStillUnreachableKind;
}

QJsonValue Time(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)) : QJsonValue();
}

QJsonObject NoticeJson(const ChangeNotice &notice)
{
    const NoticeRun &run = notice.run;
    QJsonArray changes;
    for (const NoticeChange &change : notice.changes)
        if (Told(change))
            changes.append(QJsonObject{{QStringLiteral("kind"), change.kind},
                                       {QStringLiteral("word"), change.word},
                                       {QStringLiteral("address"), change.address},
                                       {QStringLiteral("before"), CheckJson(change.before)},
                                       {QStringLiteral("after"), CheckJson(change.after)},
                                       {QStringLiteral("detail"), change.detail},
                                       {QStringLiteral("evidence"), change.evidence}});
    const QJsonObject counts{{QStringLiteral("rows"), run.counts.rows},
                             {QStringLiteral("valid"), run.counts.valid},
                             {QStringLiteral("removed"), run.counts.removed},
                             {QStringLiteral("unreachable"), run.counts.unreachable}};
    return {{QStringLiteral("domain"), SiteShown(notice.domain)},
            {QStringLiteral("domainAscii"), notice.domain},
            {QStringLiteral("run"), QJsonObject{{QStringLiteral("id"), run.id},
                                                {QStringLiteral("source"), run.source},
                                                {QStringLiteral("started"), Time(run.startedAt)},
                                                {QStringLiteral("ended"), Time(run.endedAt)},
                                                {QStringLiteral("counts"), counts}}},
            {QStringLiteral("changes"), changes}};
}

QString ChatText(const ChangeNotice &notice)
{
    QStringList lines{QStringLiteral("%1 外链变化（%2，%3）")
                          .arg(SiteShown(notice.domain), notice.run.sourceWord,
                               notice.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))};
    int told = 0;
    for (const NoticeChange &change : notice.changes)
        if (Told(change) && ++told <= kMostChatLines)
            lines << change.Line();
    if (told > kMostChatLines)
        lines << QStringLiteral("等 %1 条").arg(told - kMostChatLines);
    return lines.join(u'\n');
}

bool IsRedirect(const FetchResult &result)
{
    return result.ok() && result.httpStatus >= 300 && result.httpStatus < 400;
}

// The host as people write it (an internationalised one in its own script), with its port.
QString ShownHost(const QUrl &address)
{
    const QString host = QUrl::fromAce(address.host(QUrl::FullyEncoded).toLatin1());
    return address.port() > 0 ? QStringLiteral("%1:%2").arg(host).arg(address.port()) : host;
}

// Worth one more try: nothing came back, or the server says it may pass.
bool MayPass(const FetchResult &result)
{
    return !result.ok() || result.httpStatus == 429 || result.httpStatus >= 500;
}

} // namespace

QString WebhookAddressProblem(const QString &url)
{
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    const bool http = scheme == u"http" || scheme == u"https";
    if (!http || !url.contains(QLatin1String("://")) || address.host().isEmpty())
        return QStringLiteral("通知网址应以 https:// 或 http:// 开头：%1/…").arg(url.section(u'/', 0, 0));
    if (scheme == u"http" && ChatServiceOf(url) != ChatService::None)
        return QStringLiteral("聊天机器人的通知网址只能用 https://：%1").arg(ShownWebhook(url));
    return {};
}

QStringList WebhookAddressesIn(const QString &text)
{
    // A "#" inside an address is its fragment, not a comment.
    static const QRegularExpression kComment(QStringLiteral("(^|\\s)#[^\\n]*"), QRegularExpression::MultilineOption);
    static const QRegularExpression kSpace(QStringLiteral("\\s+"));
    return QString(text).remove(kComment).split(kSpace, Qt::SkipEmptyParts);
}

QString ShownWebhook(const QString &url)
{
    const QUrl address(url);
    return address.scheme().toLower() + QStringLiteral("://") + ShownHost(address) + QStringLiteral("/…");
}

ChatService ChatServiceOf(const QString &url)
{
    const QString host = QUrl(url).host().toLower();
    if (host == u"qyapi.weixin.qq.com")
        return ChatService::WeCom;
    if (host == u"oapi.dingtalk.com")
        return ChatService::DingTalk;
    if (host == u"open.feishu.cn" || host == u"open.larksuite.com")
        return ChatService::Feishu;
    if (host == u"hooks.slack.com")
        return ChatService::Slack;
    return ChatService::None;
}

bool WorthPosting(const ChangeNotice &notice)
{
    return std::any_of(notice.changes.begin(), notice.changes.end(), Told);
}

QByteArray WebhookBody(const QString &url, const ChangeNotice &notice)
{
    const QString text = ChatText(notice);
    QJsonObject body;
    switch (ChatServiceOf(url)) {
    case ChatService::WeCom:
    case ChatService::DingTalk:
        body = {{QStringLiteral("msgtype"), QStringLiteral("text")},
                {QStringLiteral("text"), QJsonObject{{QStringLiteral("content"), text}}}};
        break;
    case ChatService::Feishu:
        body = {{QStringLiteral("msg_type"), QStringLiteral("text")},
                {QStringLiteral("content"), QJsonObject{{QStringLiteral("text"), text}}}};
        break;
    case ChatService::Slack:
        body = {{QStringLiteral("text"), text}};
        break;
    case ChatService::None:
        body = NoticeJson(notice);
        break;
    }
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QStringList PostNotice(const QStringList &urls, const ChangeNotice &notice, const WebhookPolicy &policy)
{
    QStringList failures;
    if (!WorthPosting(notice))
        return failures;
    for (const QString &url : urls) {
        const QByteArray body = WebhookBody(url, notice);
        FetchResult result = PostJson(url, body, policy.limits);
        if (MayPass(result)) {
            QThread::msleep(static_cast<unsigned long>(policy.retryPause.count()));
            result = PostJson(url, body, policy.limits);
        }
        if (result.ok() && result.httpStatus >= 200 && result.httpStatus < 300)
            continue;
        const QString host = ShownHost(QUrl(url));
        const QString cause = IsRedirect(result) ? QStringLiteral("重定向到其他地址，未发送") : AttemptCause(result);
        failures << QStringLiteral("通知发送失败：%1（%2）").arg(host.isEmpty() ? QStringLiteral("通知网址无效") : host, cause);
    }
    return failures;
}

} // namespace vantorel
