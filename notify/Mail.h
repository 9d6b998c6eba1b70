#pragma once

#include "ChangeNotice.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vantorel {

// Where the e-mail goes: the server (smtp://host:587, STARTTLS when offered; smtps://host:465),
// the sender and the recipients. Nothing is sent without a recipient.
struct MailSettings {
    QString server;
    QString from;
    QStringList to;
    bool operator==(const MailSettings &) const = default;
};

// Why the settings cannot send, in words for a usage error; empty when they can.
QString MailSettingsProblem(const MailSettings &settings);

// What messages may show of the server's address: "smtp://mail.example.com:587", without any
// user or password it holds.
QString ShownMailServer(const QString &url);

struct MailMessage {
    QString subject;
    QString text; // the plain part
    QString html; // the HTML part, a whole document
};

// The message about a run's changes: "<site>：丢失 N 条外链" when links were lost, each change
// a line with its evidence; 仍无法访问 is left out, as from webhooks.
MailMessage ChangeMail(const ChangeNotice &notice);

// The message as the server takes it: a multipart/alternative of the plain and the HTML part,
// both UTF-8 in base64, the subject RFC 2047-encoded.
QByteArray MailBytes(const MailSettings &settings, const MailMessage &message, const QDateTime &date);

// Sends the message to each recipient, blocking: never on the window's thread. The login comes
// from VANTOREL_SMTP_USER and VANTOREL_SMTP_PASSWORD, else the server address, else ~/.netrc.
// Returns the failure as one line naming only the host, "邮件发送失败：mail.example.com（无法连接）",
// or an empty string when the server took it.
QString SendMail(const MailSettings &settings, const MailMessage &message);

// How a run's end tells its notice beyond the desktop, the same from the window and the command
// line: a POST to each webhook and the mail, when the notice is worth telling. The failures, a
// line each. Blocks: never on a thread that drives transfers or the window.
QStringList SendNotice(const QStringList &webhooks, const MailSettings &mail, const ChangeNotice &notice);

} // namespace vantorel
