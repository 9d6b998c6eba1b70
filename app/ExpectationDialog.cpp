#include "ExpectationDialog.h"

#include "GridActions.h"

#include <PageEvidence.h>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace vantorel {

void AskLinkExpectation(QWidget *parent, const QString &domain, const QString &address, const LinkExpectation &current,
                        std::function<void(const LinkExpectation &)> done)
{
    auto *dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("ExpectationDialog"));
    dialog->setWindowTitle(QStringLiteral("外链约定"));
    auto *target = new QLineEdit(current.target.value_or(QString()), dialog);
    target->setObjectName(QStringLiteral("EditExpectedTarget"));
    target->setPlaceholderText(QStringLiteral("https://%1/").arg(domain));
    auto *anchor = new QLineEdit(current.anchor.value_or(QString()), dialog);
    anchor->setObjectName(QStringLiteral("EditExpectedAnchor"));
    auto *follow = new QCheckBox(QStringLiteral("约定为 follow（没有 nofollow、ugc 或 sponsored）"), dialog);
    follow->setObjectName(QStringLiteral("CheckExpectedFollow"));
    follow->setChecked(current.follow.value_or(false));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QPushButton *clear = buttons->addButton(QStringLiteral("清除约定"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("ClearExpectation"));
    auto *note = new QLabel(QStringLiteral("网址 %1 上的外链。检测发现不符时告知一次：目标页不符、锚文本不符、"
                                           "未传递权重（约定为 follow）。留空的一项不作约定。")
                                .arg(address),
                            dialog);
    note->setWordWrap(true);
    auto *form = new QFormLayout(dialog);
    form->addRow(note);
    form->addRow(QStringLiteral("目标页(&T)："), target);
    form->addRow(QStringLiteral("锚文本(&A)："), anchor);
    form->addRow(follow);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(clear, &QPushButton::clicked, dialog, [=] {
        done({});
        dialog->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
        LinkExpectation agreed;
        if (const QString url = target->text().trimmed(); !url.isEmpty()) {
            const QUrl parsed = QUrl::fromUserInput(url);
            if (!parsed.isValid() || (parsed.scheme() != u"http" && parsed.scheme() != u"https") ||
                !HostMatchesDomain(parsed.host(), domain)) {
                TellUser(dialog, QStringLiteral("目标页应是 %1 的 http:// 或 https:// 网址").arg(domain));
                return;
            }
            agreed.target = parsed.toString(QUrl::FullyEncoded);
        }
        if (const QString text = anchor->text().simplified(); !text.isEmpty())
            agreed.anchor = text;
        if (follow->isChecked())
            agreed.follow = true;
        done(agreed);
        dialog->accept();
    });
    dialog->open();
}

} // namespace vantorel
