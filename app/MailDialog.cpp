#include "MailDialog.h"

#include "GridActions.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace vantorel {

QStringList MailAddressesIn(const QString &text)
{
    static const QRegularExpression kSeparators(QStringLiteral("[,;，；\\s]+"));
    return text.split(kSeparators, Qt::SkipEmptyParts);
}

void AskMailSettings(QWidget *parent, const MailSettings &current, std::function<void(const MailSettings &)> done)
{
    auto *dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("邮件"));
    auto *server = new QLineEdit(current.server, dialog);
    server->setObjectName(QStringLiteral("EditMailServer"));
    server->setPlaceholderText(QStringLiteral("smtp://mail.example.com:587"));
    auto *from = new QLineEdit(current.from, dialog);
    from->setObjectName(QStringLiteral("EditMailFrom"));
    auto *to = new QLineEdit(current.to.join(QStringLiteral(", ")), dialog);
    to->setObjectName(QStringLiteral("EditMailTo"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    auto *note = new QLabel(QStringLiteral("检测有变化（仍无法访问除外）时，把变化以邮件发给收件人；收件人留空则不发送。\n"
                                           "smtp:// 在服务器支持时用 STARTTLS 加密，smtps:// 全程 TLS。用户名和密码取自\n"
                                           "~/.netrc 中该主机的一行，或环境变量 VANTOREL_SMTP_USER 和 VANTOREL_SMTP_PASSWORD。"),
                            dialog);
    auto *form = new QFormLayout(dialog);
    form->addRow(note);
    form->addRow(QStringLiteral("邮件服务器(&S)："), server);
    form->addRow(QStringLiteral("发件人(&F)："), from);
    form->addRow(QStringLiteral("收件人(&T)："), to);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
        const MailSettings chosen{server->text().trimmed(), from->text().trimmed(), MailAddressesIn(to->text())};
        if (!chosen.to.isEmpty())
            if (const QString problem = MailSettingsProblem(chosen); !problem.isEmpty()) {
                TellUser(dialog, problem);
                return;
            }
        done(chosen);
        dialog->accept();
    });
    dialog->open();
}

} // namespace vantorel
