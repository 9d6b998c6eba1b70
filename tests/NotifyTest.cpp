// What a stored run's changes tell: the desktop notification on a session bus of the test's
// own, the chat services' text messages and the JSON of a webhook, and the POST itself.

#include "LoopbackServer.h"
#include "NotificationBus.h"
#include "QtPrinters.h"

#include <DesktopNotifier.h>
#include <Mail.h>
#include <Webhook.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <mutex>

using namespace vantorel;

namespace {

NoticeChange Change(const char16_t *kind, const QString &word, const QString &address, const QString &detail = {})
{
    const QDateTime checked(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC);
    return {QString::fromUtf16(kind),
            word,
            address,
            AddressCheck{.address = address, .outcome = StoredOutcome::PassesWeight, .anchors = {QStringLiteral("友链")},
                         .checkedAt = checked.addDays(-1), .targets = {QStringLiteral("http://example.com/")}},
            AddressCheck{.address = address, .outcome = StoredOutcome::Removed, .checkedAt = checked},
            QStringLiteral("HTTP 404"),
            detail};
}

NoticeChange Lost(const QString &address) { return Change(kLostKind, QStringLiteral("丢失"), address); }
NoticeChange Unreachable(const QString &address)
{
    return Change(kBecameUnreachableKind, QStringLiteral("变为无法访问"), address);
}
NoticeChange Still(const QString &address) { return Change(kStillUnreachableKind, QStringLiteral("仍无法访问"), address); }
NoticeChange Restored(const QString &address) { return Change(u"restored", QStringLiteral("恢复"), address); }

ChangeNotice Notice(std::vector<NoticeChange> changes, const QString &domain = QStringLiteral("example.com"))
{
    ChangeNotice notice;
    notice.domain = domain;
    notice.run = {7, QStringLiteral("recheck"), QStringLiteral("复查"),
                  QDateTime(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC),
                  QDateTime(QDate(2026, 12, 1), QTime(9, 31), Qt::UTC), {3, 1, 1, 1}};
    notice.changes = std::move(changes);
    return notice;
}

TEST(DesktopNotification, SaysWhatWasLostAndWhatCouldNotBeHad)
{
    std::vector<NoticeChange> many;
    for (int i = 1; i <= 7; ++i)
        many.push_back(Lost(QStringLiteral("http://a.cn/%1").arg(i)));
    const struct {
        const char *what;
        ChangeNotice notice;
        QString summary; // empty: nothing to tell
        QString body;
    } cases[] = {
        {"losses first, then pages gone unreachable",
         Notice({Unreachable("http://b.cn/"), Lost("http://a.cn/?x=1&y=<2>"), Still("http://d.cn/"), Lost("http://c.cn/")}),
         QStringLiteral("example.com：丢失 2 条外链"),
         QStringLiteral("丢失 http://a.cn/?x=1&amp;y=&lt;2&gt;\n丢失 http://c.cn/\n变为无法访问 http://b.cn/")},
        {"a link that became plain text is lost too",
         Notice({Change(kBecameMentionKind, QStringLiteral("变为文字提及"), QStringLiteral("http://m.cn/")), Lost("http://a.cn/")}),
         QStringLiteral("example.com：丢失 2 条外链"), QStringLiteral("丢失 http://a.cn/\n变为文字提及 http://m.cn/")},
        {"only unreachable", Notice({Unreachable("http://b.cn/")}), QStringLiteral("example.com：1 条外链变为无法访问"),
         QStringLiteral("变为无法访问 http://b.cn/")},
        {"what changed follows the address",
         Notice({Change(kBecameUnreachableKind, QStringLiteral("变为无法访问"), QStringLiteral("http://b.cn/"), QStringLiteral("HTTP 503")),
                 Change(kLostKind, QStringLiteral("丢失"), QStringLiteral("http://a.cn/"), QStringLiteral("HTTP 200，未提到<域名>"))}),
         QStringLiteral("example.com：丢失 1 条外链"),
         QStringLiteral("丢失 http://a.cn/（HTTP 200，未提到&lt;域名&gt;）\n变为无法访问 http://b.cn/（HTTP 503）")},
        {"at most five addresses", Notice(many), QStringLiteral("example.com：丢失 7 条外链"),
         QStringLiteral("丢失 http://a.cn/1\n丢失 http://a.cn/2\n丢失 http://a.cn/3\n丢失 http://a.cn/4\n丢失 http://a.cn/5\n等 2 条")},
        {"nothing lost", Notice({Still("http://d.cn/"), Restored("http://e.cn/")}), {}, {}},
    };
    for (const auto &c : cases) {
        const std::optional<DesktopMessage> message = DesktopMessageOf(c.notice);
        ASSERT_EQ(message.has_value(), !c.summary.isEmpty()) << c.what;
        if (message) {
            EXPECT_EQ(message->summary, c.summary) << c.what;
            EXPECT_EQ(message->body, c.body) << c.what;
        }
    }
}

// Until every notification sent has its answer, from the event loop.
void Settle(DesktopNotifier &notifier)
{
    if (!notifier.Pending())
        return;
    QSignalSpy settled(&notifier, &DesktopNotifier::Settled);
    EXPECT_TRUE(settled.wait(10'000));
    EXPECT_FALSE(notifier.Pending());
}

TEST(DesktopNotification, GoesOverTheSessionBusAndReplacesTheSitesPreviousOne)
{
    NotificationBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    DesktopNotifier notifier(bus.Client());
    QStringList failures;
    QObject::connect(&notifier, &DesktopNotifier::Failed, [&failures](const QString &reason) { failures << reason; });

    EXPECT_FALSE(notifier.Notify(Notice({Restored("http://e.cn/")})));
    ASSERT_TRUE(notifier.Notify(Notice({Lost("http://a.cn/")})));
    Settle(notifier);
    ASSERT_EQ(bus.calls().size(), 1u);
    const NotificationBus::Call first = bus.calls()[0];
    EXPECT_EQ(first.appName, QStringLiteral("Vantorel"));
    EXPECT_EQ(first.replacesId, 0u);
    EXPECT_EQ(first.summary, QStringLiteral("example.com：丢失 1 条外链"));
    EXPECT_EQ(first.body, QStringLiteral("丢失 http://a.cn/"));
    EXPECT_EQ(first.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("com.quillmere.Vantorel"));

    // The answer's id is what the site's next notification replaces; another site has its own.
    ASSERT_TRUE(notifier.Notify(Notice({Lost("http://b.cn/")})));
    ASSERT_TRUE(notifier.Notify(Notice({Lost("http://c.cn/")}, QStringLiteral("other.org"))));
    Settle(notifier);
    ASSERT_EQ(bus.calls().size(), 3u);
    EXPECT_EQ(bus.calls()[1].replacesId, 1u);
    EXPECT_EQ(bus.calls()[2].replacesId, 0u);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
}

TEST(DesktopNotification, WithoutABusOrAServiceItSaysWhyAndGoesOn)
{
    NotificationBus bus(false);
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    const struct {
        const char *what;
        QDBusConnection connection;
        QString reason;
    } cases[] = {
        {"no notification service", bus.Client(), QStringLiteral("桌面通知未发送：没有桌面通知服务")},
        {"no bus", QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("no-bus")),
         QStringLiteral("桌面通知未发送：没有会话总线")},
    };
    for (const auto &c : cases) {
        DesktopNotifier notifier(c.connection);
        QStringList failures;
        QObject::connect(&notifier, &DesktopNotifier::Failed, [&failures](const QString &reason) { failures << reason; });
        EXPECT_TRUE(notifier.Notify(Notice({Lost("http://a.cn/")}))) << c.what;
        Settle(notifier);
        ASSERT_EQ(failures.size(), 1) << c.what;
        EXPECT_TRUE(failures[0].startsWith(c.reason)) << c.what << ": " << failures[0].toStdString();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

TEST(Webhook, ChatServicesGetTheirTextMessageAndOthersTheJson)
{
    std::vector<NoticeChange> changes{Still("http://d.cn/")};
    for (int i = 1; i <= 22; ++i)
        changes.push_back(i % 2 ? Lost(QStringLiteral("http://a.cn/%1").arg(i)) : Restored(QStringLiteral("http://a.cn/%1").arg(i)));
    changes[2].detail = QStringLiteral("锚文本“友链” → “首页”");
    const ChangeNotice notice = Notice(changes);
    QStringList lines{QStringLiteral("example.com 外链变化（复查，%1）")
                          .arg(notice.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))};
    for (int i = 1; i <= 20; ++i)
        lines << (i % 2 ? QStringLiteral("丢失 http://a.cn/%1") : QStringLiteral("恢复 http://a.cn/%1")).arg(i);
    lines[2] += QStringLiteral("（锚文本“友链” → “首页”）");
    lines << QStringLiteral("等 2 条");
    const QString text = lines.join(u'\n');
    const QJsonObject wecom{{"msgtype", "text"}, {"text", QJsonObject{{"content", text}}}};
    const struct {
        const char *url;
        ChatService service;
        QJsonObject body;
    } cases[] = {
        {"https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=k", ChatService::WeCom, wecom},
        {"https://oapi.dingtalk.com/robot/send?access_token=t", ChatService::DingTalk, wecom},
        {"https://open.feishu.cn/open-apis/bot/v2/hook/h", ChatService::Feishu,
         {{"msg_type", "text"}, {"content", QJsonObject{{"text", text}}}}},
        {"https://OPEN.larksuite.com/open-apis/bot/v2/hook/h", ChatService::Feishu,
         {{"msg_type", "text"}, {"content", QJsonObject{{"text", text}}}}},
        {"https://hooks.slack.com/services/T/B/x", ChatService::Slack, {{"text", text}}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ChatServiceOf(QString::fromLatin1(c.url)), c.service) << c.url;
        EXPECT_EQ(QJsonDocument::fromJson(WebhookBody(QString::fromLatin1(c.url), notice)).object(), c.body) << c.url;
    }

    // Anywhere else: the whole notice, without 仍无法访问.
    const QJsonObject json =
        QJsonDocument::fromJson(WebhookBody(QStringLiteral("https://hooks.example.org/x"), notice)).object();
    EXPECT_EQ(json[u"domain"].toString(), QStringLiteral("example.com"));
    // An internationalised site in its own script, its key beside it.
    const ChangeNotice chinese = Notice({Lost("http://a.cn/")}, QStringLiteral("xn--fiqs8s.cn"));
    const QJsonObject chineseJson = QJsonDocument::fromJson(WebhookBody(QStringLiteral("https://hooks.example.org/x"), chinese)).object();
    EXPECT_EQ(chineseJson[u"domain"].toString(), QStringLiteral("中国.cn"));
    EXPECT_EQ(chineseJson[u"domainAscii"].toString(), QStringLiteral("xn--fiqs8s.cn"));
    EXPECT_TRUE(QJsonDocument::fromJson(WebhookBody(QStringLiteral("https://hooks.slack.com/services/T/B/x"), chinese))
                    .object()[u"text"].toString().startsWith(u"中国.cn 外链变化"));
    EXPECT_EQ(DesktopMessageOf(chinese)->summary, QStringLiteral("中国.cn：丢失 1 条外链"));
    const QJsonObject run = json[u"run"].toObject();
    EXPECT_EQ(run[u"id"].toInt(), 7);
    EXPECT_EQ(run[u"source"].toString(), QStringLiteral("recheck"));
    EXPECT_EQ(QDateTime::fromString(run[u"started"].toString(), Qt::ISODate), notice.run.startedAt);
    EXPECT_EQ(run[u"counts"].toObject(), (QJsonObject{{"rows", 3}, {"valid", 1}, {"removed", 1}, {"unreachable", 1}}));
    const QJsonArray told = json[u"changes"].toArray();
    ASSERT_EQ(told.size(), 22);
    const QJsonObject before{{"outcome", "passes-weight"},
                             {"checkedAt", "2026-11-30T09:30:00Z"},
                             {"cause", QJsonValue()},
                             {"links", QJsonArray{QJsonObject{{"url", "http://example.com/"}, {"anchor", "友链"}}}}};
    const QJsonObject after{{"outcome", "removed"}, {"checkedAt", "2026-12-01T09:30:00Z"}, {"cause", QJsonValue()}, {"links", QJsonArray()}};
    EXPECT_EQ(told[0].toObject(), (QJsonObject{{"kind", "lost"}, {"word", "丢失"}, {"address", "http://a.cn/1"}, {"before", before},
                                               {"after", after}, {"detail", ""}, {"evidence", "HTTP 404"}}));
    EXPECT_EQ(told[1].toObject()[u"detail"].toString(), QStringLiteral("锚文本“友链” → “首页”"));
}

TEST(Webhook, AddressesAreReadAndCheckedWithoutShowingTheirSecret)
{
    EXPECT_EQ(WebhookAddressesIn(QStringLiteral("# team\nhttps://a.example/x#top  http://b.example/y\t# old one\n\n"
                                                "https://c.example/z")),
              (QStringList{"https://a.example/x#top", "http://b.example/y", "https://c.example/z"}));
    const struct {
        const char *url;
        const char *problem;
    } cases[] = {
        {"https://hooks.slack.com/services/T/B/SECRET", ""},
        {"http://127.0.0.1:8080/hook", ""},
        {"hooks.slack.com/services/T/B/SECRET", "通知网址应以 https:// 或 http:// 开头：hooks.slack.com/…"},
        {"ftp://example.org/SECRET", "通知网址应以 https:// 或 http:// 开头：ftp:/…"},
        {"http://hooks.slack.com/services/T/B/SECRET", "聊天机器人的通知网址只能用 https://：http://hooks.slack.com/…"},
        {"http://oapi.dingtalk.com/robot/send?access_token=SECRET", "聊天机器人的通知网址只能用 https://：http://oapi.dingtalk.com/…"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WebhookAddressProblem(QString::fromUtf8(c.url)), QString::fromUtf8(c.problem)) << c.url;
    EXPECT_EQ(ShownWebhook(QStringLiteral("https://xn--fiqs8s.cn/hook/SECRET")), QStringLiteral("https://中国.cn/…"));
}

TEST(Webhook, PostsOnceWhenSomethingChangedAndSaysWhyItFailed)
{
    std::mutex mutex;
    std::vector<std::string> bodies;
    std::atomic<int> status = 200;
    LoopbackServer hook([&](LoopbackServer::Connection &connection) {
        const std::string body = connection.readBody();
        {
            const std::lock_guard lock(mutex);
            bodies.push_back(body);
        }
        connection.respond(status, "{}");
    });
    const QStringList urls{hook.url("/hook?key=secret")};
    const WebhookPolicy quick{{std::chrono::seconds(10), std::chrono::seconds(10), 1024 * 1024, 3}, std::chrono::milliseconds(0)};

    EXPECT_TRUE(PostNotice(urls, Notice({Still("http://d.cn/")}), quick).isEmpty());
    EXPECT_EQ(hook.requestCount(), 0) << "nothing changed but a page still unreachable";

    EXPECT_TRUE(PostNotice(urls, Notice({Lost("http://a.cn/"), Still("http://d.cn/")}), quick).isEmpty());
    ASSERT_EQ(hook.requestCount(), 1);
    const std::string head = hook.requests()[0];
    EXPECT_EQ(head.rfind("POST /hook?key=secret ", 0), 0u) << head;
    EXPECT_EQ(LoopbackServer::HeaderValues(head, "Content-Type"), std::vector<std::string>{"application/json; charset=utf-8"});
    const QJsonObject posted = QJsonDocument::fromJson(QByteArray::fromStdString(bodies[0])).object();
    EXPECT_EQ(posted[u"changes"].toArray().size(), 1);

    // A server error is tried once more, then said, naming the host and never the secret.
    status = 500;
    const QStringList failures = PostNotice(urls, Notice({Lost("http://a.cn/")}), quick);
    EXPECT_EQ(hook.requestCount(), 3);
    EXPECT_EQ(failures, QStringList{QStringLiteral("通知发送失败：%1（HTTP 500）").arg(hook.hostAndPort())});
    status = 404; // the address is wrong: trying again changes nothing
    EXPECT_EQ(PostNotice(urls, Notice({Lost("http://a.cn/")}), quick).size(), 1);
    EXPECT_EQ(hook.requestCount(), 4);
    // A redirect is neither followed (curl would send a GET, or the body elsewhere) nor delivery.
    status = 302;
    EXPECT_EQ(PostNotice(urls, Notice({Lost("http://a.cn/")}), quick),
              QStringList{QStringLiteral("通知发送失败：%1（重定向到其他地址，未发送）").arg(hook.hostAndPort())});
    EXPECT_EQ(hook.requestCount(), 5);
    const int closed = LoopbackServer::ClosedPort();
    EXPECT_EQ(PostNotice({QStringLiteral("http://127.0.0.1:%1/").arg(closed)}, Notice({Lost("http://a.cn/")}), quick),
              QStringList{QStringLiteral("通知发送失败：127.0.0.1:%1（连接被拒绝）").arg(closed)});
}

// The subject's encoded words: each within 75 characters and whole characters, a line at most
// 78, together the subject, however long the site's name and whatever its characters; the
// subject picks out a loss, and 仍无法访问 is no change to mail.
TEST(Mail, SubjectsAreEncodedInWholeCharactersWithinTheLineLimit)
{
    const MailSettings settings{QStringLiteral("smtp://127.0.0.1:25"), QStringLiteral("a@example.org"),
                                {QStringLiteral("b@example.org")}};
    const struct {
        ChangeNotice notice;
        QString subject;
    } cases[] = {
        {Notice({Lost("http://a/"), Still("http://b/")}), QStringLiteral("example.com：丢失 1 条外链")},
        {Notice({Unreachable("http://a/"), Restored("http://c/"), Still("http://b/")}),
         QStringLiteral("example.com：2 条外链有变化")},
        {Notice({Lost("http://a/"), Lost("http://b/")}, QStringLiteral("非常长的中文网站名称用来测试标题的分段编码😀是否正确.中国")),
         QStringLiteral("非常长的中文网站名称用来测试标题的分段编码😀是否正确.中国：丢失 2 条外链")},
    };
    static const QRegularExpression kWord(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    for (const auto &c : cases) {
        const MailMessage mail = ChangeMail(c.notice);
        EXPECT_EQ(mail.subject, c.subject);
        EXPECT_FALSE(mail.text.contains(QStringLiteral("仍无法访问")));
        const QByteArray bytes = MailBytes(settings, mail, QDateTime(QDate(2026, 12, 1), QTime(9, 31), Qt::UTC));
        const QString header = QString::fromLatin1(bytes).section(QStringLiteral("\r\nSubject: "), 1).section(
            QRegularExpression(QStringLiteral("\r\n(?! )")), 0, 0);
        QByteArray decoded;
        for (const QString &line : header.split(QStringLiteral("\r\n "))) {
            EXPECT_LE(line.size() + 9, 78) << line.toStdString();
            const QRegularExpressionMatch word = kWord.match(line);
            ASSERT_TRUE(word.hasMatch() && word.capturedLength() == line.size()) << line.toStdString();
            const QByteArray part = QByteArray::fromBase64(word.captured(1).toLatin1());
            EXPECT_EQ(QString::fromUtf8(part).toUtf8(), part) << "a character split between words";
            decoded += part;
        }
        EXPECT_EQ(QString::fromUtf8(decoded), c.subject);
    }
}

} // namespace
