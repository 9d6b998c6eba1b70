#pragma once

#include <Mail.h>

#include <QWidget>

#include <functional>

namespace vantorel {

// "邮件": the server, sender and recipients the window's runs are mailed with; done gets them once
// they can send (or with no recipient, which turns the e-mail off), never when cancelled.
void AskMailSettings(QWidget *parent, const MailSettings &current, std::function<void(const MailSettings &)> done);

// The recipients as typed: separated by commas, semicolons or white space.
QStringList MailAddressesIn(const QString &text);

} // namespace vantorel
