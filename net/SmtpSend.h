#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

namespace vantorel {

// One message handed to an SMTP server: smtp:// upgraded with STARTTLS when the server offers
// it, smtps:// over TLS from the start.
struct SmtpDelivery {
    QString server;  // smtp://host[:port] or smtps://host[:port], maybe with user:password@
    QString from;
    QStringList to;
    QByteArray message; // the whole message, headers and body, CRLF line ends
    // The login; empty: the server address's own, else ~/.netrc's for the host, else none.
    QString user;
    QString password;
    std::chrono::seconds timeout{60};
};

// Sends it, blocking: never on the window's thread. Returns why it failed, in Chinese words
// that never hold the login ("服务器拒绝（SMTP 550）"), or an empty string once the server
// took the message.
QString SendSmtp(const SmtpDelivery &delivery);

} // namespace vantorel
