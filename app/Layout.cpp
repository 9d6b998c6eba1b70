#include "Layout.h"

#include <QLabel>
#include <QPushButton>

namespace vantorel {

namespace {

// More characters than any label's container can show, even in the narrowest glyphs. A page
// can put megabytes of text into the tip line; laying all of it out would freeze the window.
constexpr qsizetype kMaxShownLabelChars = 1024;

} // namespace

void SetLabelText(QLabel *label, const QString &text)
{
    label->setText(text.size() > kMaxShownLabelChars ? text.left(kMaxShownLabelChars) : text);
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(label->text()), metrics.height());
}

QRect InitialClientGeometry(QSize client, QMargins frame, QRect available)
{
    const QSize frameExtra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize fitted = client.boundedTo(available.size() - frameExtra);
    QRect outer(QPoint(), fitted + frameExtra);
    outer.moveCenter(available.center());
    return outer.marginsRemoved(frame);
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void DescribeControls(std::initializer_list<AccessibleText> controls)
{
    for (const AccessibleText &control : controls) {
        control.widget->setAccessibleName(QString::fromUtf16(control.name));
        control.widget->setAccessibleDescription(QString::fromUtf16(control.description));
    }
}

} // namespace vantorel
