#include "EvidenceDialog.h"

#include "Layout.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantorel {

EvidenceDialog::EvidenceDialog(std::function<void(const QString &)> openUrl, QWidget *parent)
    : QDialog(parent), openUrl_(std::move(openUrl))
{
    setObjectName(QStringLiteral("FormEvidence"));
    setWindowTitle(QStringLiteral("外链依据"));
    setModal(false);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("TextEvidence"));
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *copy = MakeButton(this, "CommandCopyEvidence", QStringLiteral("复制"));
    QPushButton *open = MakeButton(this, "CommandOpenPage", QStringLiteral("打开网页"));
    QPushButton *close = MakeButton(this, "CommandCloseEvidence", QStringLiteral("关闭"));
    buttons->addButton(copy, QDialogButtonBox::ActionRole);
    buttons->addButton(open, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    connect(copy, &QPushButton::clicked, this, &EvidenceDialog::CopyText);
    connect(open, &QPushButton::clicked, this, [this] { openUrl_(address_); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(buttons);
    resize(640, 360);
    DescribeControls({
        {text_, u"依据", u"这一行的检测依据，可以选择和复制"},
        {copy, u"复制", u"复制选中的文字，未选中时复制全部依据"},
        {open, u"打开网页", u"在浏览器中打开这一行的网页"},
        {close, u"关闭", u"关闭依据窗口"},
    });
}

void EvidenceDialog::ShowEvidence(const QString &text, const QString &address)
{
    text_->setPlainText(text);
    address_ = address;
    text_->setFocus();
}

void EvidenceDialog::CopyText()
{
    QString selected = text_->textCursor().selectedText();
    // A selection across lines holds U+2029 where the lines break.
    QApplication::clipboard()->setText(selected.isEmpty() ? text_->toPlainText()
                                                          : selected.replace(QChar::ParagraphSeparator, u'\n'));
}

} // namespace vantorel
