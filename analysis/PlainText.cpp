#include "PlainText.h"

#include <QRegularExpression>
#include <QStringList>

namespace vantorel {

namespace {

bool IsBidiControl(char16_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString WithVisibleBidiControls(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (IsBidiControl(c.unicode()))
            shown += QStringLiteral("[U+%1]").arg(QString::number(c.unicode(), 16).toUpper());
        else
            shown += c;
    }
    return shown;
}

QString ToolTipMarkup(QStringView plain)
{
    QString escaped = WithVisibleBidiControls(plain).toHtmlEscaped();
    escaped.replace(u'\n', QStringLiteral("<br>"));
    // A tip wraps its long lines, but never between a date and its time.
    static const QRegularExpression dateThenTime(QStringLiteral("(\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2})"));
    escaped.replace(dateThenTime, QStringLiteral("\\1&nbsp;\\2"));
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + escaped + QStringLiteral("</p>");
}

QString FittedMessage(QStringView text, int maxLines, int maxLineLength)
{
    QStringList lines;
    const QList<QStringView> all = text.split(u'\n');
    for (qsizetype i = 0; i < all.size() && i < maxLines; ++i) {
        QStringView line = all[i];
        if (line.size() <= maxLineLength) {
            lines << line.toString();
            continue;
        }
        // Never cut between the halves of a surrogate pair.
        qsizetype head = (maxLineLength - 1) / 2;
        qsizetype tail = maxLineLength - 1 - head;
        if (line[head - 1].isHighSurrogate())
            --head;
        if (line[line.size() - tail].isLowSurrogate())
            --tail;
        lines << line.first(head).toString() + u'…' + line.last(tail).toString();
    }
    if (all.size() > maxLines)
        lines << QStringLiteral("…");
    return lines.join(u'\n');
}

} // namespace vantorel
