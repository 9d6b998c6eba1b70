#include "Mail.h"

#include "Webhook.h"

#include <Domain.h>
#include <SmtpSend.h>

#include <QRandomGenerator>
#include <QUrl>

namespace vantorel {

namespace {

// An encoded word is at most 75 characters; 39 bytes (52 in base64) keep "Subject: " and the
// first word within 78.
constexpr qsizetype kEncodedWordBytes = 39;
constexpr qsizetype kBase64LineChars = 76;

QByteArray EncodedHeader(const QString &text)
{
    QByteArrayList words;
    QByteArray word;
    for (qsizetype at = 0; at < text.size();) {
        // A surrogate pair is one character: never split between two words.
        const qsizetype length = text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(at, length).toUtf8();
        if (word.size() + bytes.size() > kEncodedWordBytes) {
            words << "=?UTF-8?B?" + word.toBase64() + "?=";
            word.clear();
        }
        word += bytes;
        at += length;
    }
    if (!word.isEmpty())
        words << "=?UTF-8?B?" + word.toBase64() + "?=";
    return words.join("\r\n ");
}

QByteArray Base64Lines(const QString &text)
{
    const QByteArray encoded = text.toUtf8().toBase64();
    QByteArray lines;
    for (qsizetype at = 0; at < encoded.size(); at += kBase64LineChars)
        lines += encoded.mid(at, kBase64LineChars) + "\r\n";
    return lines;
}

QString Escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

int Lost(const ChangeNotice &notice)
{
    return notice.Count(kLostKind) + notice.Count(kBecameMentionKind);
}

} // namespace

QString MailSettingsProblem(const MailSettings &settings)
{
    const QUrl server(settings.server, QUrl::StrictMode);
    const QString scheme = server.scheme().toLower();
    if ((scheme != u"smtp" && scheme != u"smtps") || server.host().isEmpty())
        return QStringLiteral("邮件服务器地址应以 smtp:// 或 smtps:// 开头，如 smtp://mail.example.com:587");
    if (!settings.from.contains(u'@'))
        return QStringLiteral("发件人应为电子邮件地址：%1").arg(settings.from);
    for (const QString &address : settings.to)
        if (!address.contains(u'@') || address.contains(u'<') || address.contains(u'>'))
            return QStringLiteral("收件人应为电子邮件地址：%1").arg(address);
    return {};
}

QString ShownMailServer(const QString &url)
{
    const QUrl server(url);
    const QString host = QUrl::fromAce(server.host(QUrl::FullyEncoded).toLatin1());
    return server.scheme().toLower() + QStringLiteral("://") + host +
           (server.port() > 0 ? QStringLiteral(":%1").arg(server.port()) : QString());
}

MailMessage ChangeMail(const ChangeNotice &notice)
{
    const QString site = SiteShown(notice.domain);
    int told = 0;
    for (const NoticeChange &change : notice.changes)
        told += change.kind != kStillUnreachableKind;
    MailMessage mail;
    mail.subject = Lost(notice) > 0 ? QStringLiteral("%1：丢失 %2 条外链").arg(site).arg(Lost(notice))
                                    : QStringLiteral("%1：%2 条外链有变化").arg(site).arg(told);
    const RowCounts &counts = notice.run.counts;
    const QString about = QStringLiteral("%1，%2：有效 %3 条，已失效 %4 条，未能检测 %5 条")
                              .arg(notice.run.sourceWord,
                                   notice.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                              .arg(counts.valid)
                              .arg(counts.removed)
                              .arg(counts.unreachable);
    QStringList lines{mail.subject, about, QString()};
    QString rows;
    for (const NoticeChange &change : notice.changes) {
        if (change.kind == kStillUnreachableKind)
            continue;
        lines << QStringLiteral("%1  %2  （%3）").arg(change.word, change.address, change.evidence);
        rows += QStringLiteral("<tr><td style=\"padding:4px 8px;white-space:nowrap\">%1</td>"
                               "<td style=\"padding:4px 8px\"><a href=\"%2\">%2</a></td>"
                               "<td style=\"padding:4px 8px;color:#555\">%3</td></tr>\n")
                    .arg(Escaped(change.word), Escaped(change.address), Escaped(change.evidence));
    }
    mail.text = lines.join(u'\n') + u'\n';
    mail.html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                               "<body style=\"font-family:sans-serif\">\n<h2>%1</h2>\n<p>%2</p>\n"
                               "<table style=\"border-collapse:collapse\" border=\"1\">\n"
                               "<tr><th>变化</th><th>外链地址</th><th>依据</th></tr>\n%3</table>\n</body></html>\n")
                    .arg(Escaped(mail.subject), Escaped(about), rows);
    return mail;
}

QByteArray MailBytes(const MailSettings &settings, const MailMessage &message, const QDateTime &date)
{
    const QByteArray boundary = "=_vantorel_" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    const QByteArray domain = settings.from.section(u'@', -1).toUtf8();
    QByteArray bytes;
    bytes += "From: <" + settings.from.toUtf8() + ">\r\n";
    bytes += "To: " + ("<" + settings.to.join(QStringLiteral(">, <")) + ">").toUtf8() + "\r\n";
    bytes += "Subject: " + EncodedHeader(message.subject) + "\r\n";
    bytes += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    bytes += "Message-ID: <" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "@" + domain + ">\r\n";
    bytes += "MIME-Version: 1.0\r\n";
    bytes += "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\r\n\r\n";
    for (const auto &[type, text] : {std::pair{"text/plain", &message.text}, std::pair{"text/html", &message.html}}) {
        bytes += "--" + boundary + "\r\n";
        bytes += QByteArray("Content-Type: ") + type + "; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        bytes += Base64Lines(*text);
    }
    bytes += "--" + boundary + "--\r\n";
    return bytes;
}

QString SendMail(const MailSettings &settings, const MailMessage &message)
{
    if (settings.to.isEmpty())
        return {};
    SmtpDelivery delivery{settings.server, settings.from, settings.to,
                          MailBytes(settings, message, QDateTime::currentDateTime()),
                          qEnvironmentVariable("VANTOREL_SMTP_USER"), qEnvironmentVariable("VANTOREL_SMTP_PASSWORD")};
    const QString failure = SendSmtp(delivery);
    if (failure.isEmpty())
        return {};
    const QString shown = ShownMailServer(settings.server).section(QStringLiteral("://"), 1);
    return QStringLiteral("邮件发送失败：%1（%2）").arg(shown.isEmpty() ? QStringLiteral("邮件服务器地址无效") : shown, failure);
}

QStringList SendNotice(const QStringList &webhooks, const MailSettings &mail, const ChangeNotice &notice)
{
    if (!WorthPosting(notice))
        return {};
    QStringList failures = PostNotice(webhooks, notice);
    if (QString failure = SendMail(mail, ChangeMail(notice)); !failure.isEmpty())
        failures << failure;
    return failures;
}

} // namespace vantorel
